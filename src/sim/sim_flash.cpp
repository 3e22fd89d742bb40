#include "sim/sim_flash.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "sim/sim_names.h"

namespace {

constexpr std::uint64_t kSpaceEnd = std::uint64_t{1} << 32;

}  // namespace

int SimSpace::Write(std::uint32_t address, std::span<const std::uint8_t> data) {
    if (address + std::uint64_t{data.size()} > kSpaceEnd) return 0;
    std::uint64_t at = address;
    std::size_t done = 0;
    while (done < data.size()) {
        const std::uint32_t page = static_cast<std::uint32_t>(at / kSimPageSize);
        const std::size_t offset = at % kSimPageSize;
        const std::size_t n = std::min<std::size_t>(kSimPageSize - offset, data.size() - done);
        std::vector<std::uint8_t>& bytes = pages_[page];
        if (bytes.empty()) bytes.assign(kSimPageSize, 0xFF);
        std::memcpy(bytes.data() + offset, data.data() + done, n);
        done += n;
        at += n;
    }
    return 1;
}

int SimSpace::Erase(std::uint32_t address, std::uint64_t length) {
    if (address + length > kSpaceEnd) return 0;
    const std::uint64_t end = address + length;
    // Whole pages go; the partial pages at either end are filled with 0xFF.
    auto it = pages_.lower_bound(static_cast<std::uint32_t>(address / kSimPageSize));
    while (it != pages_.end()) {
        const std::uint64_t pageStart = std::uint64_t{it->first} * kSimPageSize;
        if (pageStart >= end) break;
        const std::uint64_t from = std::max<std::uint64_t>(pageStart, address);
        const std::uint64_t to = std::min<std::uint64_t>(pageStart + kSimPageSize, end);
        if (from == pageStart && to == pageStart + kSimPageSize) {
            it = pages_.erase(it);
            continue;
        }
        std::memset(it->second.data() + (from - pageStart), 0xFF, to - from);
        ++it;
    }
    return 1;
}

void SimSpace::Read(std::uint32_t address, std::span<std::uint8_t> out) const {
    std::uint64_t at = address;
    std::size_t done = 0;
    while (done < out.size()) {
        if (at >= kSpaceEnd) {
            std::memset(out.data() + done, 0xFF, out.size() - done);
            return;
        }
        const std::uint32_t page = static_cast<std::uint32_t>(at / kSimPageSize);
        const std::size_t offset = at % kSimPageSize;
        const std::size_t n = std::min<std::size_t>(kSimPageSize - offset, out.size() - done);
        auto it = pages_.find(page);
        if (it == pages_.end()) {
            std::memset(out.data() + done, 0xFF, n);
        } else {
            std::memcpy(out.data() + done, it->second.data() + offset, n);
        }
        done += n;
        at += n;
    }
}

bool SimSpace::Holds(std::uint32_t address) const {
    return pages_.count(address / kSimPageSize) != 0;
}

const SimSpace* SimFlash::Find(std::uint8_t area) const {
    auto it = areas_.find(area);
    return it == areas_.end() ? nullptr : &it->second;
}

void SimFlash::EraseNand(bool keepBackup) {
    for (auto& [key, space] : areas_) {
        if (keepBackup && key == kSimAreaBackup) continue;
        space.Clear();
    }
    fsExists_ = false;
}

void SimFlash::FormatFs() {
    areas_[kSimAreaFs].Clear();
    fsExists_ = true;
}

std::vector<std::uint8_t> SimFlash::Read(std::uint8_t area, std::uint32_t address,
                                         std::size_t length) const {
    std::vector<std::uint8_t> out(length, 0xFF);
    if (const SimSpace* space = Find(area)) space->Read(address, out);
    return out;
}

SimVerifyReport SimFlash::Verify(std::span<const SimExpectedImage> images) const {
    SimVerifyReport report;
    static const SimSpace kEmpty;
    std::vector<std::uint8_t> page(kSimPageSize);
    for (std::size_t i = 0; i < images.size(); ++i) {
        const SimExpectedImage& image = images[i];
        const SimSpace* found = Find(image.area);
        const SimSpace& space = found ? *found : kEmpty;
        std::size_t done = 0;
        while (done < image.bytes.size()) {
            const std::uint64_t at = image.address + std::uint64_t{done};
            const std::size_t n =
                std::min<std::size_t>(kSimPageSize - static_cast<std::size_t>(at % kSimPageSize),
                                      image.bytes.size() - done);
            int mismatch = -1;
            if (at >= kSpaceEnd) {
                mismatch = 0;
            } else {
                space.Read(static_cast<std::uint32_t>(at), std::span(page.data(), n));
                if (std::memcmp(page.data(), image.bytes.data() + done, n) != 0) {
                    mismatch = 0;
                    while (page[mismatch] == image.bytes[done + mismatch]) ++mismatch;
                }
            }
            if (mismatch >= 0) {
                const std::uint64_t where = at + mismatch;
                report.ok = false;
                report.image = static_cast<int>(i);
                report.area = image.area;
                report.address = static_cast<std::uint32_t>(where);
                report.expected = image.bytes[done + mismatch];
                char text[160];
                if (where >= kSpaceEnd) {
                    report.actual = -1;
                    report.missing = true;
                    std::snprintf(text, sizeof text,
                                  "%s image %zu runs past the end of the address space",
                                  SIM_AreaName(image.area).c_str(), i);
                } else {
                    report.actual = page[mismatch];
                    report.missing = !space.Holds(report.address);
                    std::snprintf(text, sizeof text,
                                  "%s at 0x%08" PRIX32 ": expected 0x%02X, found 0x%02X%s",
                                  SIM_AreaName(image.area).c_str(), report.address, report.expected,
                                  report.actual, report.missing ? " (never written)" : "");
                }
                report.text = text;
                report.bytes += done + mismatch;
                return report;
            }
            done += n;
        }
        report.bytes += image.bytes.size();
        ++report.images;
    }
    report.text = "verified " + std::to_string(report.images) +
                  (report.images == 1 ? " image, " : " images, ") + std::to_string(report.bytes) +
                  " bytes";
    return report;
}
