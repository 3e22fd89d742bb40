#include "help_format.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

constexpr std::size_t kNarrowest = 40;
constexpr std::size_t kWidest = 120;
constexpr std::size_t kFallbackWidth = 80;
// Room a description needs beside the names before it moves below them.
constexpr std::size_t kDescriptionRoom = 40;
constexpr std::size_t kIndentBelowName = 8;

std::size_t TerminalColumns() {
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    return 0;
}

// One line of text (no newline in it) broken into lines of at most width columns, each but the
// first (of the whole text) after indent spaces. Leading spaces are kept on every piece: they
// indent a list.
void WrapLine(const std::string& line, std::size_t width, std::size_t indent, bool first,
              std::string& out) {
    const std::size_t lead = line.find_first_not_of(' ');
    if (lead == std::string::npos) return;  // an empty line stays empty
    const std::string leading = line.substr(0, lead);
    const std::size_t room = width > indent ? width - indent : 1;
    std::size_t used = 0;
    bool open = false;
    for (std::size_t pos = lead; pos < line.size();) {
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        const std::string word = line.substr(pos, end - pos);
        pos = std::min(line.find_first_not_of(' ', end), line.size());
        if (open && used + 1 + word.size() <= room) {
            out += ' ' + word;
            used += 1 + word.size();
            continue;
        }
        if (open) out += '\n';
        if (!first) out += std::string(indent, ' ');
        first = false;
        out += leading + word;
        used = leading.size() + word.size();
        open = true;
    }
}

}  // namespace

std::size_t CLI_HelpWidth() {
    std::size_t columns = TerminalColumns();
    if (columns == 0) {
        const char* env = std::getenv("COLUMNS");
        char* end = nullptr;
        const long value = env != nullptr ? std::strtol(env, &end, 10) : 0;
        columns = (end != nullptr && end != env && *end == '\0' && value > 0)
                      ? static_cast<std::size_t>(value)
                      : kFallbackWidth;
    }
    return std::clamp(columns, kNarrowest, kWidest);
}

std::string CLI_WrapText(const std::string& text, std::size_t width, std::size_t indent) {
    std::string out;
    std::size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (!first) out += '\n';
        WrapLine(text.substr(start, end - start), width, indent, first, out);
        first = false;
        if (end == text.size()) break;
        start = end + 1;
    }
    return out;
}

std::string CLI_FirstSentence(const std::string& text) {
    for (std::size_t dot = text.find('.'); dot != std::string::npos;
         dot = text.find('.', dot + 1)) {
        if (dot + 1 == text.size()) break;
        if (text[dot + 1] == ' ' && dot + 2 < text.size() &&
            std::isupper(static_cast<unsigned char>(text[dot + 2])))
            return text.substr(0, dot + 1);
    }
    return text;
}

HelpFormatter::HelpFormatter(std::size_t width) : width_(width) {}

std::size_t HelpFormatter::DescriptionColumn() const {
    return width_ >= column_width_ + kDescriptionRoom ? column_width_ : kIndentBelowName;
}

std::string HelpFormatter::Row(const std::string& name, const std::string& description) const {
    const std::size_t column = DescriptionColumn();
    std::string out = "  " + name;
    if (!description.empty()) {
        if (out.size() >= column) {
            out += '\n' + std::string(column, ' ');
        } else {
            out += std::string(column - out.size(), ' ');
        }
        out += CLI_WrapText(description, width_, column);
    }
    return out + '\n';
}

std::string HelpFormatter::make_description(const CLI::App* app) const {
    return CLI_WrapText(CLI::Formatter::make_description(app), width_, 0);
}

std::string HelpFormatter::make_option(const CLI::Option* opt, bool is_positional) const {
    return Row(make_option_name(opt, is_positional) + make_option_opts(opt), make_option_desc(opt));
}

std::string HelpFormatter::make_subcommand(const CLI::App* sub) const {
    return Row(sub->get_display_name(true), CLI_FirstSentence(sub->get_description()));
}

std::string HelpFormatter::make_footer(const CLI::App* app) const {
    return CLI_WrapText(CLI::Formatter::make_footer(app), width_, 0);
}
