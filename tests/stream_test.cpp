// SPDX-License-Identifier: GPL-2.0-or-later
// The program with its standard streams on files: exact bytes written, and
// what any input, however odd, leads to.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "harness.h"

namespace {

using vq::farewell;
using vq::menu;

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
    vq::Piped p = vq::piped("3\n9\n9\n");
    const std::string run = "<< Vastrel-Quimbok Level 3 Running...Press 9 Return >>:";
    EXPECT_EQ(p.out, clr + menu + run + clr + clr + menu + clr + menu + farewell);
    EXPECT_EQ(p.trace.tones, (std::vector<int>{1193, 0, 66, 0}));
    EXPECT_TRUE(p.trace.exited && p.trace.code == 0);
    EXPECT_EQ(p.err, "");
}

// Another program driving this one over pipes answers each prompt only once
// it has arrived, so every prompt must be out before the program waits.
TEST(Redirected, EachPromptArrivesBeforeTheProgramWaits)
{
    int in[2];
    int out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        for (int fd : {in[0], in[1], out[0], out[1]})
            close(fd);
        setenv("TERM", "xterm", 1);
        execl(VQ_BINARY, VQ_BINARY, nullptr);
        _exit(127);
    }
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
    EXPECT_TRUE(arrives("Select choice :"));
    answer("2\n");
    EXPECT_TRUE(arrives("Running...Press 9 Return >>:"));
    answer("9\n");
    EXPECT_TRUE(arrives("Select choice :"));
    answer("9\n");
    EXPECT_TRUE(arrives("tolvane.rusk@example.org\n"));
    close(in[1]);
    close(out[0]);
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Redirected, EveryByteOutsideTheKeysSelectsNothing)
{
    std::vector<int> bytes = {'x', '0', '6', '7', '8', '\0', ' '};
    for (int b = 0x80; b <= 0xFF; ++b)
        bytes.push_back(b);
    for (int b : bytes) {
        // The byte, then its line end: two more menus, then the farewell at end of input.
        vq::Piped p = vq::piped(std::string(1, char(b)) + "\n");
        EXPECT_EQ(count(p.out, menu), 3u) << "byte " << b;
        EXPECT_EQ(p.trace.tones, std::vector<int>{}) << "byte " << b;
        EXPECT_EQ(p.out.substr(p.out.size() - farewell.size()), farewell) << "byte " << b;
        EXPECT_EQ(p.trace.code, 0) << "byte " << b;
    }
}

// End of input stops a run like '9', and leaves the menu like '9'.
struct Ending {
    const char *input;
    std::vector<int> tones;
    size_t menus;
};

void PrintTo(const Ending &e, std::ostream *os)
{
    *os << testing::PrintToString(std::string(e.input));
}

class EndOfInput : public testing::TestWithParam<Ending> {};

TEST_P(EndOfInput, StopsAndSaysGoodbye)
{
    const Ending &e = GetParam();
    vq::Piped p = vq::piped(e.input);
    EXPECT_EQ(p.trace.tones, e.tones);
    EXPECT_EQ(count(p.out, menu), e.menus);
    EXPECT_EQ(count(p.out, farewell), 1u);
    EXPECT_TRUE(p.trace.exited && p.trace.code == 0);
    EXPECT_EQ(p.err, "");
}

INSTANTIATE_TEST_SUITE_P(Streams, EndOfInput,
                         testing::Values(Ending{"", {}, 1}, Ending{"x", {}, 2},
                                         Ending{"2", {1193, 0, 0}, 2},
                                         Ending{"2\n", {1193, 0, 70, 0}, 2},
                                         Ending{"2\nab", {1193, 0, 70, 70, 70, 0}, 2},
                                         Ending{"4\n9\n", {1193, 0, 62, 0}, 3}));

TEST(Redirected, LongLineWithoutLineEnd)
{
    // 64 KiB of '1': one run, the tone set for every character after the
    // first, and silenced when the input ends.
    vq::Piped p = vq::piped(std::string(65536, '1'));
    ASSERT_EQ(p.trace.tones.size(), 2u + 65535u + 1u);
    EXPECT_EQ(p.trace.tones.front(), 1193);
    EXPECT_EQ(std::count(p.trace.tones.begin(), p.trace.tones.end(), 74), 65535);
    EXPECT_EQ(p.trace.tones.back(), 0);
    EXPECT_EQ(p.trace.code, 0);
    EXPECT_EQ(p.err, "");
}

} // namespace
