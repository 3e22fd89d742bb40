#include "sim/sim_names.h"

#include <array>
#include <cstdio>

#include "link/commands.h"
#include "sim/sim_flash.h"

namespace {

struct NamedCommand {
    int index;
    const char* name;
};

constexpr std::array<NamedCommand, 21> kNamed = {{
    {CMD_UNLOCK, "UNLOCK"},
    {CMD_VERSION, "VERSION"},
    {CMD_ERASE, "ERASE"},
    {CMD_WRITE, "WRITE"},
    {CMD_FS_WRITE, "FS_WRITE"},
    {CMD_FS_FORMAT, "FS_FORMAT"},
    {CMD_FS_INIT, "FS_INIT"},
    {CMD_INIT_PARTITION, "INIT_PARTITION"},
    {CMD_INIT_PBL, "INIT_PBL"},
    {CMD_INIT_QCSBL_HEADER, "INIT_QCSBL_HEADER"},
    {CMD_INIT_QCSBL, "INIT_QCSBL"},
    {CMD_INIT_OEMSBL_HEADER, "INIT_OEMSBL_HEADER"},
    {CMD_INIT_OEMSBL, "INIT_OEMSBL"},
    {CMD_INIT_AMSS_HEADER, "INIT_AMSS_HEADER"},
    {CMD_INIT_AMSS, "INIT_AMSS"},
    {CMD_END_IMAGE, "END_IMAGE"},
    {CMD_CLOSE, "CLOSE"},
    {CMD_GO, "GO"},
    {CMD_SECURITY_MODE, "SECURITY_MODE"},
    {CMD_ERASE_ALL_NAND, "ERASE_ALL_NAND"},
    {CMD_ERASE_NAND_EXCEPT_BACKUP, "ERASE_NAND_EXCEPT_BACKUP"},
}};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

const char* SIM_CommandName(std::uint8_t code) {
    for (const NamedCommand& c : kNamed) {
        if (kCommandCodes[c.index] == code) return c.name;
    }
    return nullptr;
}

int SIM_CommandCode(std::string_view name) {
    for (const NamedCommand& c : kNamed) {
        if (SameIgnoringCase(name, c.name)) return kCommandCodes[c.index];
    }
    return -1;
}

const char* SIM_CommandNames() {
    return "UNLOCK VERSION ERASE WRITE FS_WRITE FS_FORMAT FS_INIT INIT_PARTITION INIT_PBL "
           "INIT_QCSBL_HEADER INIT_QCSBL INIT_OEMSBL_HEADER INIT_OEMSBL INIT_AMSS_HEADER INIT_AMSS "
           "END_IMAGE CLOSE GO SECURITY_MODE ERASE_ALL_NAND ERASE_NAND_EXCEPT_BACKUP";
}

std::string SIM_AreaName(std::uint8_t area) {
    if (area == kSimAreaFs) return "FS";
    if (area == kSimAreaBackup) return "BACKUP";
    if (SimFlash::IsCodeArea(area)) return SIM_CommandName(area);
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", area);
    return text;
}
