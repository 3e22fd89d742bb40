#pragma once
// `pelor --help` fitted to the terminal: every text broken at spaces into lines no wider than the
// terminal, descriptions in an indented column, and the list of commands showing only the first
// sentence of each (the command's own --help has the rest).
#include <CLI/CLI.hpp>
#include <cstddef>
#include <string>

// The width help is wrapped to: the columns of the terminal standard output is, else $COLUMNS,
// else 80; never under 40, and at most 120 (longer lines read badly).
std::size_t CLI_HelpWidth();

// text with every line of it broken at spaces so that, after indent spaces, it fits width
// columns; a word longer than that stays whole on a line of its own. The first line gets no
// indent (it continues whatever stands before it). Empty lines are kept.
std::string CLI_WrapText(const std::string& text, std::size_t width, std::size_t indent);

// text up to the end of its first sentence (a full stop before a space or the end).
std::string CLI_FirstSentence(const std::string& text);

class HelpFormatter : public CLI::Formatter {
public:
    explicit HelpFormatter(std::size_t width);

    std::string make_description(const CLI::App* app) const override;
    std::string make_option(const CLI::Option* opt, bool is_positional) const override;
    std::string make_subcommand(const CLI::App* sub) const override;
    std::string make_footer(const CLI::App* app) const override;

private:
    // "  NAME" padded to the descriptions' column, then the description wrapped in it.
    std::string Row(const std::string& name, const std::string& description) const;
    // Where descriptions start: the usual column, or a short indent below the name when the
    // terminal leaves too little room beside it.
    std::size_t DescriptionColumn() const;

    std::size_t width_;
};
