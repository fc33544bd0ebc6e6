// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// The program in an 80x25 terminal: what the person types, what the console
// is asked to sound, and what the screen shows.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

using vq::menu;
using vq::run_prompt;

// The pane drops trailing spaces, as on the farewell's second line.
const std::string farewell = [] {
    std::string s = vq::farewell;
    s.erase(s.find(" \n"), 1);
    return s;
}();

// The whole 25-row screen: the menu, then `below` from the cursor after its colon.
std::string screen(const std::string &below)
{
    std::string s = menu + below;
    int rows = 1;
    for (char c : s)
        rows += c == '\n';
    return s + std::string(25 - rows, '\n');
}

// "^D" stands for Ctrl-D on an empty line: end of input.
void enter(vq::Term &term, const std::string &line)
{
    if (line == "^D") {
        term.press("C-d");
        term.wait_ended();
    } else {
        term.type(line);
    }
}

struct Case {
    const char *name;
    std::vector<std::string> lines; // typed from the start, each followed by Return
    std::vector<int> tones;         // every KIOCSOUND argument, in order
    std::string below;              // the screen after the menu's colon
    bool ended;                     // the program has exited with status 0
};

// clang-format off
const Case cases[] = {
    // Each level: the chirp, then its divisor, set by the pending line end.
    {"Level1", {"1"}, {1193, 0, 74}, "1\n" + run_prompt(1), false},
    {"Level2", {"2"}, {1193, 0, 70}, "2\n" + run_prompt(2), false},
    {"Level3", {"3"}, {1193, 0, 66}, "3\n" + run_prompt(3), false},
    {"Level4", {"4"}, {1193, 0, 62}, "4\n" + run_prompt(4), false},
    {"Level5", {"5"}, {1193, 0, 59}, "5\n" + run_prompt(5), false},
    // The rest of the menu line goes to the run.
    {"ThirteenRunsLevel1", {"13"}, {1193, 0, 74, 74}, "13\n" + run_prompt(1), false},
    {"ThirtyNineStopsAtOnce", {"39"}, {1193, 0, 0}, "", false},
    {"TwentyFiveStaysLevel2", {"25"}, {1193, 0, 70, 70}, "25\n" + run_prompt(2), false},
    // While sounding, every character but '9' sets the tone again.
    {"OtherKeysKeepSounding", {"2", "abc"}, {1193, 0, 70, 70, 70, 70, 70}, "2\n" + run_prompt(2) + "abc\n", false},
    {"NineStops", {"4", "9"}, {1193, 0, 62, 0}, "", false},
    {"NineMidLineStops", {"2", "x9y"}, {1193, 0, 70, 70, 0}, "", false},
    {"NineAfterSpacesStops", {"2", "  9"}, {1193, 0, 70, 70, 70, 0}, "", false},
    {"SecondNineLeaves", {"2", "99"}, {1193, 0, 70, 0}, farewell, true},
    // A key that selects nothing redraws the menu, twice with its line end.
    {"X", {"x"}, {}, "", false},
    // Leaving: farewell under the menu, status 0.
    {"NineLeaves", {"9"}, {}, "9\n" + farewell, true},
    {"RunThenLeave", {"5", "9", "9"}, {1193, 0, 59, 0}, "9\n" + farewell, true},
    {"EndOfInputAtMenu", {"^D"}, {}, "\n" + farewell, true},
    {"EndOfInputWhileSounding", {"3", "^D"}, {1193, 0, 66, 0}, "\n" + farewell, true},
};
// clang-format on

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

class Typing : public testing::TestWithParam<Case> {};

TEST_P(Typing, ConsoleAndScreen)
{
    const Case &c = GetParam();
    vq::Term term;
    for (const auto &line : c.lines)
        enter(term, line);
    vq::Trace t = term.trace();
    EXPECT_EQ(t.tones, c.tones);
    // Long enough to be heard: no load can make the pause shorter.
    for (size_t i = 0; i + 1 < t.tones.size(); ++i) {
        if (t.tones[i] == 1193) {
            EXPECT_GE(t.times[i + 1] - t.times[i], 0.010) << "chirp";
        }
    }
    EXPECT_EQ(term.screen(), screen(c.below));
    if (c.ended) {
        term.wait_ended();
        t = term.trace();
        EXPECT_TRUE(t.exited && t.code == 0) << "status " << t.code << " signal " << t.signal;
    } else {
        EXPECT_FALSE(t.ended());
    }
}

INSTANTIATE_TEST_SUITE_P(Menu, Typing, testing::ValuesIn(cases),
                         [](const auto &info) { return std::string(info.param.name); });

// Arguments change nothing: the same picture, cursor after the colon.
class Arguments : public testing::TestWithParam<const char *> {};

TEST_P(Arguments, AreIgnored)
{
    vq::Term term(GetParam());
    EXPECT_EQ(term.screen(), screen(""));
    EXPECT_EQ(term.cursor(), std::make_pair(33, 15));
    term.type("9");
    term.wait_ended();
    EXPECT_EQ(term.trace().code, 0);
}

INSTANTIATE_TEST_SUITE_P(Start, Arguments, testing::Values("", "--help", "3 9", "-"));

TEST(Clear, MissingFromPathLeavesTheProgramWorking)
{
    vq::Term term("", {"PATH=/nonexistent"});
    EXPECT_NE(term.screen().find("Select choice :"), std::string::npos);
    for (const char *line : {"1", "9", "9"})
        term.type(line);
    term.wait_ended();
    vq::Trace t = term.trace();
    EXPECT_EQ(t.tones, (std::vector<int>{1193, 0, 74, 0}));
    EXPECT_EQ(t.code, 0);
    EXPECT_NE(term.screen().find("Select choice :9\n" + farewell), std::string::npos);
}

} // namespace
