// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// The program in an 80x25 terminal: what the person types, what the console
// is asked to sound, and what the screen shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "harness.h"

namespace {

using vq::chirp, vq::menu, vq::tone;

// A run's prompt, after the one line that says why nothing sounds here.
std::string run_prompt(int level)
{
    return vq::no_beeper + vq::run_prompt(level);
}

// The pane drops trailing spaces, as on the farewell's second line.
const std::string farewell = std::regex_replace(vq::farewell, std::regex(" +\n"), "\n");

// The whole 25-row screen with `text` at its top.
std::string screen(const std::string &text)
{
    return text + std::string(24 - std::count(text.begin(), text.end(), '\n'), '\n');
}

struct Case {
    std::string name;
    std::vector<std::string> lines; // typed from the start, each followed by Return, or "^D"
    std::vector<int> tones;         // every KIOCSOUND argument, in order
    std::string below;              // the screen after the menu's colon
    bool ended;                     // the program has exited with status 0
};

// clang-format off
std::vector<Case> cases()
{
    // Each level: the chirp, then its divisor, set by the pending line end.
    std::vector<Case> all;
    for (int n = 1; n <= int(vq::levels.size()); ++n) {
        std::string key(1, vq::levels[n - 1].key);
        all.push_back({"Level" + key, {key}, {chirp, 0, tone(n)}, key + "\n" + run_prompt(n), false});
    }
    all.insert(all.end(), {
    // The rest of the menu line goes to the run.
    {"ThirteenRunsLevel1", {"13"}, {chirp, 0, tone(1), tone(1)}, "13\n" + run_prompt(1), false},
    {"ThirtyNineStopsAtOnce", {"39"}, {chirp, 0, 0}, "", false},
    {"TwentyFiveStaysLevel2", {"25"}, {chirp, 0, tone(2), tone(2)}, "25\n" + run_prompt(2), false},
    // While sounding, every character but '9' sets the tone again.
    {"OtherKeysKeepSounding", {"2", "abc"}, {chirp, 0, tone(2), tone(2), tone(2), tone(2), tone(2)}, "2\n" + run_prompt(2) + "abc\n", false},
    {"NineStops", {"4", "9"}, {chirp, 0, tone(4), 0}, "", false},
    {"NineMidLineStops", {"2", "x9y"}, {chirp, 0, tone(2), tone(2), 0}, "", false},
    {"NineAfterSpacesStops", {"2", "  9"}, {chirp, 0, tone(2), tone(2), tone(2), 0}, "", false},
    {"SecondNineLeaves", {"2", "99"}, {chirp, 0, tone(2), 0}, farewell, true},
    // A key that selects nothing redraws the menu, twice with its line end.
    {"X", {"x"}, {}, "", false},
    // Leaving: farewell under the menu, status 0.
    {"NineLeaves", {"9"}, {}, "9\n" + farewell, true},
    {"RunThenLeave", {"5", "9", "9"}, {chirp, 0, tone(5), 0}, "9\n" + farewell, true},
    {"EndOfInputAtMenu", {"^D"}, {}, "\n" + farewell, true},
    {"EndOfInputWhileSounding", {"3", "^D"}, {chirp, 0, tone(3), 0}, "\n" + farewell, true},
    });
    return all;
}
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
        term.type(line);
    vq::Trace t = term.trace();
    EXPECT_EQ(t.tones, c.tones);
    // Long enough to be heard: no load can make the pause shorter.
    for (size_t i = 0; i + 1 < t.tones.size(); ++i)
        if (t.tones[i] == chirp) {
            EXPECT_GE(t.times[i + 1] - t.times[i], 0.010) << "chirp";
        }
    EXPECT_EQ(term.screen(), screen(menu + c.below));
    if (c.ended) {
        term.wait_ended();
        t = term.trace();
        EXPECT_TRUE(t.exited && t.code == 0) << "status " << t.code << " signal " << t.signal;
    } else {
        EXPECT_FALSE(t.ended());
    }
}

INSTANTIATE_TEST_SUITE_P(Menu, Typing, testing::ValuesIn(cases()),
                         [](const auto &info) { return info.param.name; });

// Arguments change nothing: the same picture, cursor after the colon.
class Arguments : public testing::TestWithParam<const char *> {};

TEST_P(Arguments, AreIgnored)
{
    vq::Term term(GetParam());
    EXPECT_EQ(term.screen(), screen(menu));
    size_t row = std::count(menu.begin(), menu.end(), '\n');
    EXPECT_EQ(term.cursor(), std::make_pair(int(menu.size() - menu.rfind('\n') - 1), int(row)));
    term.type("9");
    term.wait_ended();
    EXPECT_EQ(term.trace().code, 0);
}

INSTANTIATE_TEST_SUITE_P(Start, Arguments, testing::Values("", "--help", "3 9", "-"));

TEST(Clear, MissingFromPathLeavesTheProgramWorking)
{
    vq::Term term("", {"PATH=/nonexistent"});
    EXPECT_NE(term.screen().find(menu), std::string::npos);
    for (const char *line : {"1", "9", "9"})
        term.type(line);
    term.wait_ended();
    vq::Trace t = term.trace();
    EXPECT_EQ(t.tones, (std::vector<int>{chirp, 0, tone(1), 0}));
    EXPECT_EQ(t.code, 0);
    EXPECT_NE(term.screen().find(menu + "9\n" + farewell), std::string::npos);
}

// README.md's picture of the menu, fenced under "## The menu", is the first screen.
TEST(Readme, PicturesTheFirstScreen)
{
    std::smatch picture;
    std::string text = vq::slurp(VQ_README);
    ASSERT_TRUE(std::regex_search(text, picture, std::regex("## The menu\n+```\n([^`]*)\n```")))
        << VQ_README;
    EXPECT_EQ(vq::Term().screen(), screen(picture[1]));
}

} // namespace
