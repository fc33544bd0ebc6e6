// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// The program with its standard streams on files: exact bytes written, and
// what any input, however odd, leads to.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "harness.h"

namespace {

using vq::chirp, vq::farewell, vq::menu, vq::tone;

size_t count(const std::string &hay, const std::string &needle)
{
    size_t n = 0;
    for (auto at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1))
        ++n;
    return n;
}

TEST(Redirected, OutputIsExactAndInOrder)
{
    // What "clear" itself writes for this terminal type: the program's text
    // must come out around it in the order written, never held back.
    const std::string clr = vq::shell("TERM=xterm clear");
    ASSERT_FALSE(clr.empty());
    // Each level in turn, stopped; then 9 leaves. Per level: the run's
    // prompt, its clear, then the menu twice, for the pass the run was in and
    // for the line end after the 9.
    std::string input;
    std::string expected = clr + menu;
    std::vector<int> tones;
    for (int n = 1; n <= int(vq::levels.size()); ++n) {
        input.append(1, vq::levels[n - 1].key).append("\n9\n");
        expected.append(vq::run_prompt(n)).append(clr).append(clr + menu).append(clr + menu);
        tones.insert(tones.end(), {chirp, 0, tone(n), 0});
    }
    vq::Piped p = vq::piped(input + "9\n");
    EXPECT_EQ(p.out, expected + farewell);
    EXPECT_EQ(p.trace.tones, tones);
    EXPECT_TRUE(p.trace.exited && p.trace.code == 0);
    EXPECT_EQ(p.err, vq::no_beeper); // once, for five runs
    // Each chirp long enough to be heard; typically short enough not to hold
    // up the level tone (a median, so that a busy machine cannot fail it).
    std::vector<double> chirps;
    for (size_t i = 0; i + 1 < p.trace.tones.size(); ++i) {
        if (p.trace.tones[i] == chirp)
            chirps.push_back(p.trace.times[i + 1] - p.trace.times[i]);
    }
    ASSERT_EQ(chirps.size(), vq::levels.size());
    for (double c : chirps)
        EXPECT_GE(c, 0.010);
    std::nth_element(chirps.begin(), chirps.begin() + long(chirps.size() / 2), chirps.end());
    EXPECT_LT(chirps[chirps.size() / 2], 0.060) << "median chirp";
}

// Another program driving this one over pipes answers each prompt only once
// it has arrived, so every prompt must be out before the program waits.
TEST(Redirected, EachPromptArrivesBeforeTheProgramWaits)
{
    int in[2];
    int out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    int pid = vq::spawn({vq::binary()}, in[0], out[1], 2, {"TERM=xterm"});
    close(in[0]);
    close(out[1]);
    std::string seen;
    auto arrives = [&](const std::string &text) {
        pollfd p{out[0], POLLIN, 0};
        while (seen.find(text) == std::string::npos && poll(&p, 1, 5000) > 0) {
            char buf[4096];
            ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0)
                break;
            seen.append(buf, n);
        }
        bool found = seen.find(text) != std::string::npos;
        seen.clear();
        return found;
    };
    auto answer = [&](const char *line) { EXPECT_GT(write(in[1], line, strlen(line)), 0); };
    EXPECT_TRUE(arrives(menu));
    answer("2\n");
    EXPECT_TRUE(arrives(vq::run_prompt(2)));
    answer("9\n");
    EXPECT_TRUE(arrives(menu));
    answer("9\n");
    EXPECT_TRUE(arrives(farewell));
    close(in[1]);
    close(out[0]);
    int status = vq::reap(pid, 10);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// End of input stops a run like '9', and leaves the menu like '9'. Each byte
// that selects nothing, and each line end, draws the menu again.
struct Ending {
    std::string name, input;
    std::vector<int> tones;
    size_t menus;
};

void PrintTo(const Ending &e, std::ostream *os)
{
    *os << e.name;
}

std::vector<Ending> endings()
{
    std::string others; // a line for each byte but the line end and the keys the menu offers
    for (int b = 0; b <= 0xFF; ++b)
        if (b != '\n' && menu.find(std::string{'[', char(b), ']'}) == std::string::npos)
            others.append(1, char(b)).append("\n");
    // 64 KiB of level 1's key: one run, the tone set for every character after the first.
    std::vector<int> long_line(2 + 65535 + 1, tone(1));
    long_line.front() = chirp;
    long_line[1] = long_line.back() = 0;
    return {{"Nothing", "", {}, 1},
            {"X", "x", {}, 2},
            {"LevelKeyAlone", "2", {chirp, 0, 0}, 2},
            {"LevelLine", "2\n", {chirp, 0, tone(2), 0}, 2},
            {"KeysWhileSounding", "2\nab", {chirp, 0, tone(2), tone(2), tone(2), 0}, 2},
            {"NineAndNine", "4\n9\n", {chirp, 0, tone(4), 0}, 3},
            {"EveryByteOutsideTheKeys", others, {}, 1 + others.size()},
            {"LongLineWithoutLineEnd", std::string(65536, vq::levels[0].key), long_line, 2}};
}

class EndOfInput : public testing::TestWithParam<Ending> {};

TEST_P(EndOfInput, StopsAndSaysGoodbye)
{
    const Ending &e = GetParam();
    vq::Piped p = vq::piped(e.input);
    EXPECT_EQ(p.trace.tones, e.tones);
    EXPECT_EQ(count(p.out, menu), e.menus);
    EXPECT_EQ(count(p.out, farewell), 1u);
    EXPECT_EQ(p.out.rfind(farewell) + farewell.size(), p.out.size()) << "the farewell comes last";
    EXPECT_TRUE(p.trace.exited && p.trace.code == 0);
    EXPECT_EQ(p.err, e.tones.empty() ? "" : vq::no_beeper);
}

INSTANTIATE_TEST_SUITE_P(Streams, EndOfInput, testing::ValuesIn(endings()),
                         [](const auto &info) { return info.param.name; });

// Where standard output is no console, the beeper's event device that sysfs
// names hears every tone, in Hz, and nothing is said; where none can sound,
// one line says why. Stand-in nodes are character devices: /dev/null (1:3),
// /dev/zero (1:5).
struct Found {
    const char *name;
    std::vector<vq::Beeper> beepers;
    std::vector<std::string> opened;
    bool sounds;     // level 3's tones reach the device
    std::string err; // what standard error starts with; one line, or nothing
    const char *fault = "";
};

void PrintTo(const Found &f, std::ostream *os)
{
    *os << f.name;
}

class Beepers : public testing::TestWithParam<Found> {};

TEST_P(Beepers, SoundOrSayWhy)
{
    const Found &f = GetParam();
    if (!f.beepers.empty() && !vq::can_make_nodes())
        GTEST_SKIP() << "stand-in nodes under /dev/input need root and a mount namespace";
    std::vector<std::string> env;
    if (*f.fault)
        env = {"LD_PRELOAD=" VQ_FAULT_LIBRARY, std::string("VQ_FAULT=") + f.fault};
    vq::Piped p = vq::piped("3\n9\n9\n", env, f.beepers);
    std::vector<int> tones = {chirp, 0, tone(3), 0};
    EXPECT_EQ(p.trace.tones, tones);
    EXPECT_EQ(p.trace.beeps, f.sounds ? vq::hz(tones) : std::vector<int>{});
    EXPECT_EQ(p.trace.opened, f.opened);
    EXPECT_EQ(p.err.substr(0, f.err.size()), f.err);
    EXPECT_EQ(count(p.err, "\n"), f.err.empty() ? 0u : 1u) << p.err;
    EXPECT_EQ(count(p.out, menu), 3u);
}

const std::string refused = "vastrel-quimbok: nothing can sound: not on this session's virtual "
                            "console, and /dev/input/event0: ";
const vq::Beeper pc_speaker;
const vq::Beeper other_beeper = {"HDA Digital PCBeep", "6"};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Machine, Beepers, testing::Values(
    Found{"PcSpeaker", {pc_speaker}, {"/dev/input/event0"}, true, ""},
    Found{"AnyBeeperWithoutOne", {other_beeper}, {"/dev/input/event0"}, true, ""},
    Found{"PcSpeakerFirst", {other_beeper, {"PC Speaker", "6", 1}}, {"/dev/input/event1"}, true, ""},
    Found{"OnlyTheNodeSysfsNames", {{"", "", 0}, {"PC Speaker", "6", 1}}, {"/dev/input/event1"}, true, ""},
    Found{"BellButNoTone", {{"PC Speaker", "2"}}, {}, false, vq::no_beeper},
    Found{"NotTheDeviceSysfsGives", {{"PC Speaker", "6", 0, "1:3", "/dev/zero"}}, {"/dev/input/event0"}, false, refused + strerror(ENODEV) + ";"},
    Found{"NoNode", {{"PC Speaker", "6", 0, "1:3", ""}}, {"/dev/input/event0"}, false, refused + strerror(ENOENT) + ";"},
    Found{"ConsoleAlone", {pc_speaker}, {}, false, "", "console"},
    Found{"ConsoleWithoutBeeper", {}, {}, false, vq::no_beeper, "console"}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

} // namespace
