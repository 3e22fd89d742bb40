#pragma once
// What a simulated handset was asked and what its flash holds afterwards, as text by which two
// runs can be compared (`pelor simulate --log`), and its written ranges as files (`--dump`).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/sim_agent.h"

// Bytes that WRITE or FS_WRITE requests put into one area, in one piece.
struct SimWrittenRange {
    std::uint8_t area = 0;
    std::uint32_t address = 0;
    std::uint64_t length = 0;
};

// The ranges the carried-out WRITE and FS_WRITE requests covered, following the area selections
// (INIT_* requests, FS_FORMAT, FS_INIT) as the agent does; ranges of one area that overlap or
// touch are merged. Sorted by area, then address.
std::vector<SimWrittenRange> SIM_WrittenRanges(const std::vector<SimRequest>& requests);

// Reads length bytes of an area (as SimHandset::ReadArea).
using SimAreaReader = std::function<std::vector<std::uint8_t>(
    std::uint8_t area, std::uint32_t address, std::size_t length)>;

// FNV-1a (64 bits) of a range's bytes.
std::uint64_t SIM_RangeDigest(const SimWrittenRange& range, const SimAreaReader& read);

// One handset's section of the log: "handset N", one line per request, the GO count, then one
// line per written range with its digest:
//   handset 0
//   request 3 INIT_PBL seq=2 address=0x00000000 length=4096 version=0x0 data=0 ack
//   go 1
//   written INIT_PBL address=0x00000000 length=4096 fnv1a64=9f1c...
std::string SIM_LogSection(int handset, const std::vector<SimRequest>& requests, int goCount,
                           const SimAreaReader& read);

// The file a written range is dumped to: "handset0-INIT_AMSS-0x00018000.bin".
std::string SIM_DumpName(int handset, const SimWrittenRange& range);
