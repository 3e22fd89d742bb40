// `pelor build-rsc DIR [-o FILE]`: packs a folder tree of resource files into a resource binary.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli_commands.h"
#include "resources/resource_builder.h"

namespace {

struct BuildRscOptions {
    std::string folder;
    std::string output;
};

bool StdoutIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return ::isatty(STDOUT_FILENO) != 0;
#endif
}

int RunBuildRsc(const BuildRscOptions& options) {
    // On a terminal one line is redrawn per file; into a pipe or file nothing per file.
    const bool terminal = StdoutIsTerminal();
    bool drawn = false;
    int files = 0;
    const ResourceProgressFn progress = [&](int k, int n) {
        files = n;
        if (!terminal) return;
        std::printf("\r%s", RESOURCE_ProgressText(k, n).c_str());
        std::fflush(stdout);
        drawn = true;
    };

    // A folder that is not there is a wrong input, refused like any other (exit 2).
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(options.folder, ec);
    if (!std::filesystem::exists(status)) {
        std::fprintf(stderr, "error: the resource folder %s does not exist\n",
                     options.folder.c_str());
        return 2;
    }
    if (!std::filesystem::is_directory(status)) {
        std::fprintf(stderr,
                     "error: %s is a file; build-rsc packs a folder of resource files into one\n",
                     options.folder.c_str());
        return 2;
    }

    std::string error;
    bool refused = false;
    const int ok = RESOURCE_BuildBinary(options.folder, options.output, progress, &error, &refused);
    if (drawn) std::fputc('\n', stdout);
    if (!ok) {
        std::fflush(stdout);
        std::fprintf(stderr, "error: %s\n", error.c_str());
        // What the tree holds is at fault (nothing was written): a wrong input, as a missing
        // folder is.
        return refused ? 2 : 1;
    }
    const std::string output = RESOURCE_OutputPath(options.folder, options.output);
    const std::uintmax_t bytes = std::filesystem::file_size(output, ec);
    std::printf("Resource Binary(%s) created!! %d file%s, %ju bytes\n", output.c_str(), files,
                files == 1 ? "" : "s", ec ? std::uintmax_t{0} : bytes);
    std::fflush(stdout);
    if (files == 0) {
        std::fprintf(stderr,
                     "warning: %s holds no file to pack: the binary holds no resource, only its "
                     "empty directory\n",
                     options.folder.c_str());
    }
    return 0;
}

}  // namespace

void CLI_AddBuildRscCommand(CLI::App& app, int& exitCode) {
    auto options = std::make_shared<BuildRscOptions>();
    CLI::App* command =
        app.add_subcommand("build-rsc", "Pack resource files into a resource binary.");
    command->add_option("DIR", options->folder, "Root folder of the resource files")->required();
    command->add_option("-o,--output", options->output,
                        "Output file (default: DIR/" + std::string(kResourceBinaryName) + ")");
    command->footer(
        "What is packed: every entry of DIR and of its subfolders whose name holds a dot is "
        "packed as a file; a name without a dot is entered as a folder, so an extension-less file"
        " is left out, and a folder whose name holds a dot is recorded with size 0 and its "
        "contents are left out. Names containing \".bin\", \"cvs\" or \"CVS\" (case-sensitive) "
        "are skipped, folders too, so an earlier VORODOV_rsc.bin is never packed, nor is the "
        "output file itself. Hidden folders (a name that begins with a dot, such as .git or "
        ".svn) are skipped with everything in them; hidden files (.keep) are packed as any "
        "other file. An entry packed as a file must be a regular file that can be read: a "
        "FIFO, a device, or a link that leads to nothing is refused by name. A folder with "
        "nothing to pack still gives a binary (its empty directory, 1024 bytes of 0xFF) and "
        "says so. Within each folder names are taken in byte order, so the same tree "
        "always gives the same file. Links back to a folder being scanned are not followed.\n\n"
        "Layout: one 128-byte record per file (name with '/' separators zero-filled to 112 bytes,"
        " size u32 little-endian, twelve 0xFF), 0xFF records up to the next 1024-byte boundary "
        "(at least one), then each file's data padded with 0xFF to a multiple of 1024 bytes.\n\n"
        "Limits: 1499 files, 111 characters per relative name, 698 names per folder (besides "
        "\".\" and \"..\"), files under 4 GiB; a larger tree is refused and nothing is written. "
        "The output is written to a temporary file and renamed into place only when complete; on "
        "any error (output not writable, a file unreadable or shrunk since the scan) an existing "
        "output is left as it was.\n\n"
        "On a terminal the progress is one line redrawn per file; otherwise only the result is "
        "printed.\n\n"
        "Exit status: 0 when written; 1 when it could not be written (a file changed during the "
        "build, the output not writable; message on stderr); 2 on a usage error, a folder that "
        "does not exist or is a file, or a tree that cannot be packed: a name too long, too many "
        "files, an entry that is not a regular readable file (nothing written).");
    command->callback([options, &exitCode]() { exitCode = RunBuildRsc(*options); });
}
