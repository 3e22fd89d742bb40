// `pelor --help` fitted to the terminal: the wrapping itself (the help as a user reads it is in
// flash_command_test.cpp, with the other runs of the program).
#include "help_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(HelpWrap, BreaksAtSpacesIndentsAndKeepsWhatMustStayWhole) {
    struct Case {
        const char* what;
        std::string text;
        std::size_t width, indent;
        std::string wrapped;
    };
    const std::vector<Case> cases = {
        {"fits", "one two", 10, 0, "one two"},
        {"breaks before the word that overflows", "one two three", 8, 0, "one two\nthree"},
        {"continuation lines are indented, the first is not", "aaa bbb ccc", 9, 2,
         "aaa bbb\n  ccc"},
        {"a word wider than the room stays whole", "a /dev/serial/by-path/x b", 6, 0,
         "a\n/dev/serial/by-path/x\nb"},
        {"paragraphs and empty lines are kept", "one two\n\nthree", 20, 0, "one two\n\nthree"},
        {"a list keeps its indent on every piece", "  - alpha beta", 10, 0, "  - alpha\n  beta"},
        {"a text ending in a newline still does", "one\n", 20, 4, "one\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CLI_WrapText(c.text, c.width, c.indent), c.wrapped) << c.what;

    EXPECT_EQ(CLI_FirstSentence("Write images. It writes what the window writes."),
              "Write images.");
    EXPECT_EQ(CLI_FirstSentence("Time per block (e.g. 2ms) and more"),
              "Time per block (e.g. 2ms) and more");
    EXPECT_EQ(CLI_FirstSentence("Read version 1.3.0 then stop. Then"),
              "Read version 1.3.0 then stop.");
}

}  // namespace
