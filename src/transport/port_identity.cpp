#include "transport/port_identity.h"

std::string PORT_IDENTITY_SerialFromByIdName(const std::string& name) {
    // BUS-ID_SERIAL-ifNN[-portN]: the bus before the first dash, the interface after the last
    // "-if"; ID_SERIAL is VENDOR_MODEL_SERIAL, the serial number its last part.
    const auto bus = name.find('-');
    const auto iface = name.rfind("-if");
    if (bus == std::string::npos || iface == std::string::npos || iface <= bus + 1) return {};
    const std::string id = name.substr(bus + 1, iface - bus - 1);
    const auto last = id.rfind('_');
    return last == std::string::npos ? id : id.substr(last + 1);
}
