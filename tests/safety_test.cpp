// SPDX-License-Identifier: GPL-2.0-or-later
// No way out of the program leaves a tone set, and a setuid install runs
// with the user's own rights.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <random>
#include <sstream>

#include "harness.h"

namespace {

struct Kill {
    int sig;
    const char *level; // typed at the menu first; "" stays at the menu
    std::vector<int> tones;
};

void PrintTo(const Kill &k, std::ostream *os)
{
    *os << sigabbrev_np(k.sig) << " at " << (*k.level ? k.level : "menu");
}

class Signals : public testing::TestWithParam<Kill> {};

TEST_P(Signals, SilenceThenDieOfTheSignal)
{
    const Kill &k = GetParam();
    vq::Term term;
    if (*k.level)
        term.type(k.level);
    kill(term.pid(), k.sig);
    term.wait_ended();
    vq::Trace t = term.trace();
    EXPECT_EQ(t.tones, k.tones);
    EXPECT_EQ(t.signal, k.sig);
}

INSTANTIATE_TEST_SUITE_P(Sounding, Signals,
                         testing::Values(Kill{SIGINT, "3", {1193, 0, 66, 0}},
                                         Kill{SIGTERM, "3", {1193, 0, 66, 0}},
                                         Kill{SIGHUP, "1", {1193, 0, 74, 0}},
                                         Kill{SIGQUIT, "5", {1193, 0, 59, 0}},
                                         Kill{SIGINT, "", {0}}, Kill{SIGHUP, "", {0}}));

// Ctrl-Z: silent before the stop; after fg the same tone, or silence.
TEST(Stop, SilentWhileStoppedAndTheToneComesBack)
{
    struct {
        const char *level;
        std::vector<std::string> events;
    } cases[] = {
        // Nothing can be asked while stopped: what follows "stopped" came after SIGCONT.
        {"4", {"1193", "0", "62", "0", "stopped", "62"}},
        {"", {"0", "stopped"}},
    };
    for (const auto &c : cases) {
        vq::Term term;
        if (*c.level)
            term.type(c.level);
        size_t before = term.trace().tones.size();
        kill(term.pid(), SIGTSTP);
        term.wait_stopped();
        kill(term.pid(), SIGCONT);
        if (*c.level)
            term.wait_tones(before + 2);
        term.wait_input();
        EXPECT_EQ(term.trace().events, c.events) << "level " << c.level;
        // The run goes on where it was: 9 still stops it.
        term.type("9");
        term.type("9");
        term.wait_ended();
        EXPECT_EQ(term.trace().tones.back(), 0);
        EXPECT_EQ(term.trace().code, 0);
    }
}

std::string ids(int pid, const char *which)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(which, 0) == 0)
            return line;
    return "";
}

// A setuid-root copy run by an ordinary user: real, effective, saved and
// file-system ids are all the user's by the time the menu waits.
TEST(Setuid, RootInstallRunsAsTheUser)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a setuid-root copy";
    const passwd *nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    vq::Scratch dir;
    std::string copy = dir.path + "/vastrel-quimbok";
    vq::shell("cp " + vq::quote(VQ_BINARY) + " " + vq::quote(copy) + " && chmod 755 " +
              vq::quote(dir.path) + " && chown root:root " + vq::quote(copy) + " && chmod 6755 " +
              vq::quote(copy));
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    std::string uid = std::to_string(nobody->pw_uid);
    std::string gid = std::to_string(nobody->pw_gid);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        close(in[0]);
        close(in[1]);
        freopen("/dev/null", "w", stdout);
        setenv("TERM", "xterm", 1);
        execl("/usr/bin/setpriv", "setpriv", ("--reuid=" + uid).c_str(), ("--regid=" + gid).c_str(),
              "--clear-groups", copy.c_str(), nullptr);
        _exit(127);
    }
    close(in[0]);
    // Waiting at the menu: asleep in read(0, ...).
    for (int i = 0; i < 5000; ++i) {
        std::string sc = vq::slurp("/proc/" + std::to_string(pid) + "/syscall");
        if (sc.rfind("0 0x0 ", 0) == 0)
            break;
        usleep(2000);
    }
    std::string u = uid + "\t" + uid + "\t" + uid + "\t" + uid;
    std::string g = gid + "\t" + gid + "\t" + gid + "\t" + gid;
    EXPECT_EQ(ids(pid, "Uid:"), "Uid:\t" + u);
    EXPECT_EQ(ids(pid, "Gid:"), "Gid:\t" + g);
    close(in[1]); // end of input: goodbye
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Random streams, weighted toward the keys that matter, cut off anywhere.
TEST(Property, AnyInputEndsCleanlyAndLeavesTheSpeakerSilent)
{
    const std::vector<int> allowed = {1193, 74, 70, 66, 62, 59};
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        std::string input;
        size_t length = std::uniform_int_distribution<size_t>(0, 60)(rng);
        while (input.size() < length) {
            int kind = std::uniform_int_distribution<int>(0, 9)(rng);
            if (kind < 3)
                input += char('1' + rng() % 5);
            else if (kind < 5)
                input += '9';
            else if (kind < 8)
                input += '\n';
            else if (kind < 9)
                input += char(0x80 + rng() % 0x80);
            else
                input += char(rng() % 0x80);
        }
        vq::Piped p = vq::piped(input);
        const auto &tones = p.trace.tones;
        SCOPED_TRACE("seed " + std::to_string(seed) + ", input " + testing::PrintToString(input));
        ASSERT_TRUE(p.trace.exited && p.trace.code == 0);
        ASSERT_EQ(p.err, "");
        for (size_t i = 0; i < tones.size(); ++i) {
            bool known = tones[i] == 0 ||
                         std::find(allowed.begin(), allowed.end(), tones[i]) != allowed.end();
            ASSERT_TRUE(known) << "request " << tones[i];
            bool chirp_ends = tones[i] != 1193 || (i + 1 < tones.size() && tones[i + 1] == 0);
            ASSERT_TRUE(chirp_ends) << "chirp at request " << i;
        }
        ASSERT_TRUE(tones.empty() || tones.back() == 0);
    }
}

} // namespace
