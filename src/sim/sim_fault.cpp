#include "sim/sim_fault.h"

#include <array>
#include <charconv>
#include <cstdio>

#include "sim/sim_names.h"

namespace {

struct KindName {
    SimFaultKind kind;
    const char* name;
};

constexpr std::array<KindName, 10> kKinds = {{
    {SimFaultKind::Refuse, "refuse"},
    {SimFaultKind::NakResend, "nak-resend"},
    {SimFaultKind::CorruptCrc, "corrupt-crc"},
    {SimFaultKind::Drop, "drop"},
    {SimFaultKind::Garbage, "garbage"},
    {SimFaultKind::Latency, "latency"},
    {SimFaultKind::Silent, "silent"},
    {SimFaultKind::Unplug, "unplug"},
    {SimFaultKind::Hold, "hold"},
    {SimFaultKind::WrongSeq, "wrong-seq"},
}};

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Parses a whole non-negative decimal number; false on anything else.
bool ParseNumber(std::string_view text, long long& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && value >= 0;
}

int ParseCommand(std::string_view text, int& code, std::string& error) {
    if (text.empty() || Lower(text) == "any") {
        code = kSimAnyCommand;
        return 1;
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        unsigned value = 0;
        const char* end = text.data() + text.size();
        auto [ptr, ec] = std::from_chars(text.data() + 2, end, value, 16);
        if (ec == std::errc() && ptr == end && value <= 0xFF) {
            code = static_cast<int>(value);
            return 1;
        }
    } else {
        const int named = SIM_CommandCode(text);
        if (named >= 0) {
            code = named;
            return 1;
        }
    }
    error = "unknown command '" + std::string(text) +
            "': use any, a code such as 0xDD, or one of " + SIM_CommandNames();
    return 0;
}

}  // namespace

int SIM_ParseDuration(std::string_view text, std::chrono::microseconds& duration) {
    text = Trim(text);
    std::size_t digits = 0;
    while (digits < text.size() &&
           ((text[digits] >= '0' && text[digits] <= '9') || text[digits] == '.')) {
        ++digits;
    }
    if (digits == 0) return 0;
    double value = 0;
    const char* numberEnd = text.data() + digits;
    auto [ptr, ec] = std::from_chars(text.data(), numberEnd, value);
    if (ec != std::errc() || ptr != numberEnd) return 0;
    const std::string unit = Lower(text.substr(digits));
    double scale = 0;
    if (unit.empty() || unit == "ms") {
        scale = 1e3;
    } else if (unit == "s") {
        scale = 1e6;
    } else if (unit == "us") {
        scale = 1;
    } else {
        return 0;
    }
    const double micros = value * scale;
    if (micros > 3600e6) return 0;  // an hour is more than any reply may be held back
    duration = std::chrono::microseconds(static_cast<long long>(micros + 0.5));
    return 1;
}

int SIM_ParseFault(std::string_view text, SimFault& fault, std::string& error) {
    // KIND[:COMMAND[:WHICH[:VALUE]]]
    std::array<std::string_view, 4> parts{};
    std::size_t count = 0;
    std::string_view rest = Trim(text);
    for (bool more = true; more;) {
        const std::size_t colon = rest.find(':');
        if (count == parts.size()) {
            error = "too many ':' fields in fault '" + std::string(text) +
                    "': KIND[:COMMAND[:WHICH[:VALUE]]]";
            return 0;
        }
        parts[count++] = Trim(rest.substr(0, colon));
        more = colon != std::string_view::npos;
        if (more) rest = rest.substr(colon + 1);
    }

    SimFault parsed;
    const std::string kind = Lower(parts[0]);
    bool known = false;
    for (const KindName& k : kKinds) {
        if (kind == k.name) {
            parsed.kind = k.kind;
            known = true;
        }
    }
    if (!known) {
        error = "unknown fault '" + std::string(parts[0]) +
                "': use refuse, nak-resend, corrupt-crc, drop, garbage, latency, silent, unplug, "
                "hold or wrong-seq";
        return 0;
    }
    if (count > 1 && !ParseCommand(parts[1], parsed.code, error)) return 0;
    if (count > 2 && !parts[2].empty() && Lower(parts[2]) != "every") {
        long long n = 0;
        if (!ParseNumber(parts[2], n) || n < 1 || n > 100000000) {
            error =
                "bad request number '" + std::string(parts[2]) + "': use a number from 1, or every";
            return 0;
        }
        parsed.ordinal = static_cast<int>(n);
    }
    const bool hasValue = count > 3 && !parts[3].empty();
    if (parsed.kind == SimFaultKind::Latency) {
        if (!hasValue) {
            error = "latency needs a duration, e.g. latency:WRITE:10:50ms";
            return 0;
        }
        if (!SIM_ParseDuration(parts[3], parsed.latency)) {
            error = "bad duration '" + std::string(parts[3]) + "': use e.g. 50ms, 2s or 500us";
            return 0;
        }
    } else if (parsed.kind == SimFaultKind::Garbage) {
        if (hasValue) {
            long long n = 0;
            if (!ParseNumber(parts[3], n) || n < 1 || n > 4096) {
                error = "bad garbage byte count '" + std::string(parts[3]) + "': use 1 to 4096";
                return 0;
            }
            parsed.garbageBytes = static_cast<int>(n);
        }
    } else if (parsed.kind == SimFaultKind::NakResend && hasValue) {
        long long n = 0;
        if (!ParseNumber(parts[3], n) || n < 1 || n > 1000) {
            error = "bad count of times in a row '" + std::string(parts[3]) + "': use 1 to 1000";
            return 0;
        }
        parsed.times = static_cast<int>(n);
    } else if (count > 3) {
        error = "fault '" + std::string(parts[0]) + "' takes no value";
        return 0;
    }
    fault = parsed;
    return 1;
}

int SIM_ParseFaults(std::string_view list, std::vector<SimFault>& faults, std::string& error) {
    std::vector<SimFault> parsed;
    while (true) {
        const std::size_t comma = list.find(',');
        const std::string_view item = Trim(list.substr(0, comma));
        if (item.empty()) {
            error = "empty fault in list";
            return 0;
        }
        SimFault fault;
        if (!SIM_ParseFault(item, fault, error)) return 0;
        parsed.push_back(fault);
        if (comma == std::string_view::npos) break;
        list = list.substr(comma + 1);
    }
    faults.insert(faults.end(), parsed.begin(), parsed.end());
    return 1;
}

std::string SIM_FaultText(const SimFault& fault) {
    std::string text;
    for (const KindName& k : kKinds) {
        if (k.kind == fault.kind) text = k.name;
    }
    if (fault.code == kSimAnyCommand) {
        text += ":any";
    } else if (const char* name = SIM_CommandName(static_cast<std::uint8_t>(fault.code))) {
        text += std::string(":") + name;
    } else {
        char code[8];
        std::snprintf(code, sizeof code, ":0x%02X", fault.code & 0xFF);
        text += code;
    }
    text += fault.ordinal == kSimEveryRequest ? ":every" : ":" + std::to_string(fault.ordinal);
    if (fault.kind == SimFaultKind::Latency) {
        text += ":" + std::to_string(fault.latency.count()) + "us";
    } else if (fault.kind == SimFaultKind::Garbage) {
        text += ":" + std::to_string(fault.garbageBytes);
    } else if (fault.kind == SimFaultKind::NakResend && fault.times != 1) {
        text += ":" + std::to_string(fault.times);
    }
    return text;
}
