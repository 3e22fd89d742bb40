// `pelor build-rsc` driven in-process, as a user would call it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "cli_commands.h"
#include "resources/resource_builder.h"

namespace {

namespace fs = std::filesystem;

class BuildRscCommand : public ::testing::Test {
protected:
    BuildRscCommand() {
        std::string templ = (fs::temp_directory_path() / "pelor-cli-rsc-XXXXXX").string();
        if (::mkdtemp(templ.data())) root_ = templ;
    }
    ~BuildRscCommand() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    void Write(const std::string& relative, const std::string& text) {
        fs::create_directories(fs::path(root_ + "/" + relative).parent_path());
        std::ofstream(root_ + "/" + relative, std::ios::binary) << text;
    }

    // Runs `pelor build-rsc args...`; returns the command's exit status.
    int Run(std::vector<std::string> args) {
        CLI::App app{"pelor"};
        int exitCode = -1;
        CLI_AddBuildRscCommand(app, exitCode);
        args.insert(args.begin(), "build-rsc");
        std::reverse(args.begin(), args.end());  // CLI11 takes the arguments last first
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        app.parse(args);
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
        return exitCode;
    }

    std::string root_;
    std::string out_;
    std::string err_;
};

TEST_F(BuildRscCommand, WritesIntoTheFolderAndNamesTheOutput) {
    Write("a.txt", "0123456789");
    Write("img/b.png", std::string(2000, 'b'));
    ASSERT_EQ(Run({root_}), 0) << err_;
    const std::string output = root_ + "/" + kResourceBinaryName;
    EXPECT_EQ(fs::file_size(output), 4096u);
    EXPECT_EQ(out_, "Resource Binary(" + output + ") created!! 2 files, 4096 bytes\n");
    EXPECT_EQ(err_, "");
}

TEST_F(BuildRscCommand, OutputOption) {
    Write("a.txt", "x");
    const std::string output = root_ + "/out/res.img";
    fs::create_directories(root_ + "/out");
    ASSERT_EQ(Run({root_, "-o", output}), 0) << err_;
    EXPECT_EQ(fs::file_size(output), 2048u);
    EXPECT_FALSE(fs::exists(root_ + "/" + kResourceBinaryName));
    EXPECT_NE(out_.find("Resource Binary(" + output + ") created!! 1 file,"), std::string::npos);
}

TEST_F(BuildRscCommand, AFolderThatIsNotThereIsAWrongInputWithStatusTwo) {
    Write("plain.txt", "x");
    EXPECT_EQ(Run({root_ + "/missing"}), 2);
    EXPECT_EQ(err_, "error: the resource folder " + root_ + "/missing does not exist\n");
    EXPECT_EQ(out_, "");
    EXPECT_EQ(Run({root_ + "/plain.txt"}), 2);
    EXPECT_EQ(err_.rfind("error: " + root_ + "/plain.txt is a file", 0), 0u) << err_;
    EXPECT_FALSE(fs::exists(root_ + "/" + kResourceBinaryName));
}

TEST_F(BuildRscCommand, FailureGoesToStderrWithStatusOne) {
    Write("a.txt", "x");
    EXPECT_EQ(Run({root_, "-o", root_ + "/plain.txt/out.img"}), 1);
    EXPECT_EQ(err_.rfind("error: ", 0), 0u) << err_;
    EXPECT_FALSE(fs::exists(root_ + "/plain.txt/out.img"));
}

TEST_F(BuildRscCommand, AnEmptyFolderIsSaidAndATreeThatCannotBePackedIsAWrongInput) {
    fs::create_directories(root_ + "/empty/.git");
    std::ofstream(root_ + "/empty/.git/HEAD.txt") << "ref";
    ASSERT_EQ(Run({root_ + "/empty"}), 0) << err_;
    EXPECT_EQ(fs::file_size(root_ + "/empty/" + kResourceBinaryName), 1024u);
    EXPECT_EQ(err_, "warning: " + root_ +
                        "/empty holds no file to pack: the binary holds no resource, only its "
                        "empty directory\n");

    // Each tree refused with status 2, naming the entry, and nothing written.
    // FIFOs and symbolic links are made only where the system has them (not under Windows).
    const struct {
        const char* name;
        bool posixOnly;
        std::function<void(const std::string&)> make;
        std::string says;
    } cases[] = {
        {"fifo", true,
         [](const std::string& d) { ASSERT_EQ(::mkfifo((d + "/x.pipe").c_str(), 0600), 0); },
         "/fifo/x.pipe is a FIFO"},
        {"link", true,
         [](const std::string& d) { fs::create_symlink(d + "/gone.png", d + "/logo.png"); },
         "/link/logo.png is a link that leads to nothing"},
        {"folderlink", true,
         [](const std::string& d) { fs::create_directory_symlink(d + "/gone", d + "/icons"); },
         "Not a folder: " + root_ + "/folderlink/icons is a link that leads to nothing"},
        {"long", false,
         [](const std::string& d) { std::ofstream(d + "/" + std::string(112, 'n') + ".t") << "x"; },
         "Name too long: nnn"},
    };
    for (const auto& c : cases) {
#ifdef _WIN32
        if (c.posixOnly) continue;
#endif
        const std::string folder = root_ + "/" + c.name;
        fs::create_directories(folder);
        std::ofstream(folder + "/ok.txt") << "fine";
        c.make(folder);
        EXPECT_EQ(Run({folder}), 2) << c.name;
        EXPECT_NE(err_.find(c.says), std::string::npos) << err_;
        EXPECT_FALSE(fs::exists(folder + "/" + kResourceBinaryName)) << c.name;
    }
}

TEST_F(BuildRscCommand, MissingFolderIsAUsageError) {
    CLI::App app{"pelor"};
    int exitCode = -1;
    CLI_AddBuildRscCommand(app, exitCode);
    std::vector<std::string> args{"build-rsc"};
    EXPECT_THROW(app.parse(args), CLI::RequiredError);
    EXPECT_EQ(exitCode, -1);
}

}  // namespace
