#include "open_failures.h"

std::vector<std::string> CLI_OpenFailureLines(const FlashOutcome& outcome,
                                              const std::vector<std::string>& given) {
    std::vector<std::string> lines;
    for (const ChannelOutcome& c : outcome.channels) {
        if (c.ok || c.text != "ERR: Open") continue;
        std::string port = c.port;
        const auto index = static_cast<std::size_t>(c.channel);
        if (index < given.size() && !given[index].empty() && given[index] != c.port) {
            port = given[index] + " (" + c.port + ")";
        }
        std::string line =
            "ch" + std::to_string(c.channel) + " " + port + ": the port would not open";
        if (!c.why.empty()) line += ": " + c.why;
        line += "; `pelor doctor` says what stops a download and what to do";
        lines.push_back(std::move(line));
    }
    return lines;
}

void CLI_PrintOpenFailures(const FlashOutcome& outcome, const std::vector<std::string>& given,
                           std::FILE* err) {
    for (const std::string& line : CLI_OpenFailureLines(outcome, given)) {
        std::fprintf(err, "error: %s\n", line.c_str());
    }
    std::fflush(err);
}
