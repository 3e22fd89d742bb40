#pragma once
// Names of the requests the download agent understands, as the operator and the fault options
// write them ("WRITE", "INIT_AMSS", "ERASE_NAND_EXCEPT_BACKUP"), and of the flash areas.
#include <cstdint>
#include <string>
#include <string_view>

// The request's name for a command code byte; nullptr for a code no request uses.
const char* SIM_CommandName(std::uint8_t code);
// The command code byte of a request name (case-insensitive); -1 when there is none.
int SIM_CommandCode(std::string_view name);
// Every request name, space-separated (for error texts).
const char* SIM_CommandNames();
// Name of a flash area key: the selection request's name (INIT_PBL ...), "FS", "BACKUP", or the
// code in hexadecimal.
std::string SIM_AreaName(std::uint8_t area);
