#include <windows.h>
// The device installation functions after windows.h.
#include <cfgmgr32.h>
#include <devguid.h>
#include <setupapi.h>

#include <cstring>

#include "transport/port_identity.h"

namespace {

// "USB\VID_0403&PID_6001\A50285BI" gives "A50285BI"; an instance part with an '&' was made up by
// the system for a device without a serial number, and a function of a composite device
// ("USB\VID_...&MI_00\...") or a vendor bus ("FTDIBUS\...") is not the USB device itself.
std::string SerialOfInstance(const char* id) {
    if (_strnicmp(id, "USB\\", 4) != 0) return {};
    const char* last = std::strrchr(id, '\\');
    if (last == nullptr || last == id + 3 || std::strchr(last + 1, '&') != nullptr) return {};
    if (std::strstr(id, "&MI_") != nullptr) return {};
    return last + 1;
}

}  // namespace

std::string PORT_IDENTITY_SerialNumber(const std::string& device) {
    if (device.empty() || device.rfind("loop:", 0) == 0) return {};
    std::string name = device;
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return {};
    std::string serial;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        char port[64] = {};
        DWORD size = sizeof port - 1;
        DWORD type = 0;
        const bool named =
            RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(port),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ;
        RegCloseKey(key);
        if (!named || _stricmp(port, name.c_str()) != 0) continue;
        // The port's own instance, else the USB device above it (a composite device's function,
        // a vendor's serial bus).
        DEVINST instance = info.DevInst;
        for (int level = 0; level < 3 && serial.empty(); ++level) {
            char id[MAX_DEVICE_ID_LEN] = {};
            if (CM_Get_Device_IDA(instance, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) break;
            serial = SerialOfInstance(id);
            DEVINST parent = 0;
            if (CM_Get_Parent(&parent, instance, 0) != CR_SUCCESS) break;
            instance = parent;
        }
        break;
    }
    SetupDiDestroyDeviceInfoList(set);
    return serial;
}
