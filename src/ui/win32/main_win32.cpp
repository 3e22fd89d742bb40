// pelor-station.exe: the operator window, native Win32.
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "config/version.h"
#include "jobs/station.h"
#include "main_dlg_win32.h"
#include "transport/port_table.h"

namespace {

constexpr const char* kUsage =
    "usage: pelor-station [--help | --version]\n"
    "  The operator window: up to eight handsets, each on its own COM port, are\n"
    "  written at once. The settings (pelorw.ini) and the job file (default.plr)\n"
    "  are kept in the folder the window is started in.\n";

// Balances CoInitializeEx (the folder browser needs COM on the window's thread).
struct ComSession {
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ~ComSession() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
};

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const bool help = std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0;
        const bool version = std::strcmp(argv[i], "--version") == 0;
        if (help || version) {
            // A window program has no console of its own; the one it was started from, if any.
            if (AttachConsole(ATTACH_PARENT_PROCESS)) {
                std::freopen("CONOUT$", "w", stdout);
            }
            if (version) {
                std::printf("pelor-station %s\n", PELOR_VersionText().c_str());
            } else {
                std::fputs(kUsage, stdout);
            }
            return 0;
        }
        MessageBoxA(nullptr,
                    (std::string("unknown argument '") + argv[i] + "'\n\n" + kUsage).c_str(),
                    kWin32AppName, MB_OK | MB_ICONERROR);
        return 2;
    }
    const ComSession com;
    // The station the window drives.
    Station station;
    station.MakeDefault();
    Win32MainDlg dlg;
    if (!dlg.Create(GetModuleHandleA(nullptr))) {
        MessageBoxA(nullptr, "The window could not be created.", kWin32AppName,
                    MB_OK | MB_ICONERROR);
        return 1;
    }
    // Handsets plugged in before the window started get their channels as arrivals do.
    dlg.OnDevicesPresent(PORTTABLE_ScanDevices());
    return dlg.Run();
}
