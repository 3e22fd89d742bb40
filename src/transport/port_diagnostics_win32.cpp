// What stops a bench on Windows: the COM ports present and whether each opens. A COM port is
// exclusive there, so a refused open means another program has it; there are no groups to
// join and no services that grab new ports, so the other checks have nothing to say.
#include <windows.h>

#include <algorithm>

#include "transport/port_diagnostics.h"
#include "transport/port_table.h"

int PORTDIAG_TryOpen(const std::string& device) {
    HANDLE h = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return static_cast<int>(::GetLastError());
    ::CloseHandle(h);
    return 0;
}

std::vector<DiagProcess> PORTDIAG_Holders(const std::string&, const std::string&, int) {
    return {};
}

std::vector<DiagProcess> PORTDIAG_FindProcesses(const std::string&,
                                                const std::vector<std::string>&) {
    return {};
}

std::vector<std::string> PORTDIAG_BuiltinUarts(const std::string&, const std::string&) {
    return {};  // the port scan lists every COM port Windows knows, built-in ones included
}

DiagIdentity PORTDIAG_CurrentIdentity() {
    return DiagIdentity{};
}

DiagResult PORTDIAG_Check(const DiagOptions& options) {
    DiagResult result;
    const std::vector<std::string> devices = PORTTABLE_ScanDevicesIn(options.devDir);
    if (devices.empty()) {
        result.lines.push_back(
            {DiagLevel::kFail,
             "no serial ports found: connect a handset (with a cable that carries data), check "
             "that Device Manager shows it under Ports, then run `pelor doctor` again"});
    }
    for (const std::string& device : devices) {
        const int number = PORTTABLE_Assign(device);
        const std::string label = "COM" + std::to_string(number);
        const int error = options.tryOpen ? options.tryOpen(device) : PORTDIAG_TryOpen(device);
        if (error == 0) {
            result.lines.push_back({DiagLevel::kOk, label + ": opens read/write"});
        } else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
            result.lines.push_back(
                {DiagLevel::kFail, label + ": busy: held by another program: close it"});
        } else if (error == ERROR_FILE_NOT_FOUND) {
            result.lines.push_back({DiagLevel::kFail, label + ": no such device (unplugged?)"});
        } else {
            result.lines.push_back({DiagLevel::kFail, label + ": will not open (error " +
                                                          std::to_string(error) + ")"});
        }
    }
    result.blocked = std::any_of(result.lines.begin(), result.lines.end(),
                                 [](const DiagLine& l) { return l.level == DiagLevel::kFail; });
    return result;
}
