// The window's tests need one QApplication for the whole program; it runs on the offscreen
// platform unless the environment chooses another.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "station_app.h"

namespace {

// Qt wants a private runtime folder; without XDG_RUNTIME_DIR it warns and makes
// /tmp/runtime-USER, which stays behind. Then the tests get one of their own under TMPDIR,
// removed when they end.
class RuntimeFolder {
public:
    RuntimeFolder() {
        if (std::getenv("XDG_RUNTIME_DIR") != nullptr) return;
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                              "/pelor-ui-run-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) return;  // mode 0700, as Qt wants
        path_ = pattern;
        setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
    }
    ~RuntimeFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    RuntimeFolder(const RuntimeFolder&) = delete;
    RuntimeFolder& operator=(const RuntimeFolder&) = delete;

private:
    std::string path_;
};

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const RuntimeFolder runtime;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kStationAppName));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#if defined(__SANITIZE_THREAD__)
// Qt's libraries (and the GLib event loop under them) are not built for the race checker: what they
// do inside (posting an event to another thread, their thread pool for image work) is invisible to
// it and would be reported as races. The window's own hand-over between workers and its thread uses
// the standard library's mutex and condition variable, which the checker does see.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libglib-2.0.so.0\n";
}
#endif
