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

#include "guard.h"
#include "harness.h"

namespace {

struct Kill {
    int sig;
    const char *level; // typed at the menu first; "" stays at the menu
    std::vector<int> tones;
    bool ignored = false; // by whoever started the program: it lives on until 9
};

std::string name(int sig)
{
    const char *abbrev = sigabbrev_np(sig);
    return abbrev ? abbrev : "RT" + std::to_string(sig);
}

void PrintTo(const Kill &k, std::ostream *os)
{
    *os << name(k.sig) << (k.ignored ? " ignored" : "") << " at " << (*k.level ? k.level : "menu");
}

std::vector<Kill> kills()
{
    std::vector<Kill> all;
    for (int sig = 1; sig < NSIG; ++sig)
        if (lethal(sig))
            all.push_back({sig, "3", {1193, 0, 66, 0}});
    all.push_back({SIGINT, "", {0}});
    all.push_back({SIGHUP, "", {0}});
    all.push_back({SIGHUP, "3", {1193, 0, 66, 0}, true}); // nohup
    all.push_back({SIGTSTP, "3", {1193, 0, 66, 0}, true});
    return all;
}

class Signals : public testing::TestWithParam<Kill> {};

TEST_P(Signals, LeaveTheSpeakerSilent)
{
    const Kill &k = GetParam();
    vq::Term term("", {}, k.ignored ? "env --ignore-signal=" + name(k.sig) : "");
    if (*k.level)
        term.type(k.level);
    kill(term.pid(), k.sig);
    if (k.ignored)
        for (const char *line : {"9", "9"})
            term.type(line);
    term.wait_ended();
    vq::Trace t = term.trace();
    EXPECT_EQ(t.tones, k.tones);
    EXPECT_EQ(t.signal, k.ignored ? 0 : k.sig);
}

INSTANTIATE_TEST_SUITE_P(Sent, Signals, testing::ValuesIn(kills()), [](const auto &info) {
    const Kill &k = info.param;
    return name(k.sig) + (k.ignored ? "_ignored" : "") + (*k.level ? "" : "_at_menu");
});

// Ctrl-Z: silent before each stop; after fg the same tone, or silence. A
// lethal signal sent while stopped ends the program before a tone comes back.
TEST(Stop, SilentWhileStoppedAndTheToneComesBack)
{
    struct {
        std::vector<const char *> lines;
        int stops;
        int then; // sent while stopped, before SIGCONT
        std::vector<std::string> events;
    } cases[] = {
        // Nothing can be asked while stopped: what follows "stopped" came after SIGCONT.
        {{"4"}, 2, 0, {"1193", "0", "62", "0", "stopped", "62", "0", "stopped", "62"}},
        {{"4", "9"}, 1, 0, {"1193", "0", "62", "0", "0", "stopped"}},
        {{"4"}, 1, SIGTERM, {"1193", "0", "62", "0", "stopped", "0"}}, // kill %1
        {{"4"}, 1, SIGHUP, {"1193", "0", "62", "0", "stopped", "0"}},  // logout
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.events));
        vq::Term term;
        for (const char *line : c.lines)
            term.type(line);
        bool sounding = c.lines.size() == 1;
        for (int i = 1; i <= c.stops; ++i) {
            size_t before = term.trace().tones.size();
            kill(term.pid(), SIGTSTP);
            term.wait_stopped(i);
            if (c.then)
                kill(term.pid(), c.then);
            kill(term.pid(), SIGCONT);
            if (sounding && !c.then)
                term.wait_tones(before + 2);
        }
        if (c.then) {
            term.wait_ended();
            EXPECT_EQ(term.trace().events, c.events);
            EXPECT_EQ(term.trace().signal, c.then);
            continue;
        }
        term.wait_input();
        EXPECT_EQ(term.trace().events, c.events);
        // The run goes on where it was: 9 still stops it.
        if (sounding)
            term.type("9");
        term.type("9");
        term.wait_ended();
        EXPECT_EQ(term.trace().tones.back(), 0);
        EXPECT_EQ(term.trace().code, 0);
    }
}

// Ctrl-C or Ctrl-\ while "clear" runs kills the shell, not the program
// (system() ignores both meanwhile): the program ends by it all the same.
TEST(Interrupt, WhileClearRunsEndsTheProgram)
{
    const std::pair<const char *, int> keys[] = {{"C-c", SIGINT}, {"C-\\\\", SIGQUIT}};
    for (const auto &[key, sig] : keys) {
        vq::Scratch dir;
        std::string real = vq::shell("command -v clear");
        real.erase(real.find_last_not_of('\n') + 1);
        // Slow once the run is under way, and says when it has started.
        std::string slow = dir.path + "/slow";
        std::string started = dir.path + "/started";
        std::ofstream(dir.path + "/clear") << "#!/bin/sh\n[ -e " << slow << " ] || exec " << real
                                           << "\ntouch " << started << "\nexec sleep 60\n";
        vq::shell("chmod +x " + vq::quote(dir.path + "/clear"));
        vq::Term term("", {"PATH=" + dir.path + ":/usr/bin:/bin"});
        term.type("3");
        vq::shell("touch " + vq::quote(slow));
        term.press("9 Enter");
        ASSERT_TRUE(vq::within(20, [&] { return access(started.c_str(), F_OK) == 0; }));
        term.press(key);
        term.wait_ended();
        EXPECT_EQ(term.trace().tones, (std::vector<int>{1193, 0, 66, 0, 0})) << key;
        EXPECT_EQ(term.trace().signal, sig) << key;
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

// A setuid-root or setgid-root copy run by an ordinary user: real,
// effective, saved and file-system ids of the program and of its watcher are
// all the user's by the time the menu waits.
TEST(Setuid, RootInstallRunsAsTheUser)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a setuid-root copy";
    const passwd *nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    std::string uid = std::to_string(nobody->pw_uid);
    std::string gid = std::to_string(nobody->pw_gid);
    std::string uids = "Uid:\t" + uid + "\t" + uid + "\t" + uid + "\t" + uid;
    std::string gids = "Gid:\t" + gid + "\t" + gid + "\t" + gid + "\t" + gid;
    for (const char *mode : {"6755", "4755", "2755"}) {
        SCOPED_TRACE(mode);
        vq::Scratch dir;
        std::string copy = dir.path + "/vastrel-quimbok";
        vq::shell("cp " + vq::quote(VQ_BINARY) + " " + vq::quote(copy) + " && chmod 755 " +
                  vq::quote(dir.path) + " && chown root:root " + vq::quote(copy) + " && chmod " +
                  mode + " " + vq::quote(copy));
        int in[2];
        ASSERT_EQ(pipe(in), 0);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(in[0], 0);
            close(in[0]);
            close(in[1]);
            if (!freopen("/dev/null", "w", stdout))
                _exit(127);
            setenv("TERM", "xterm", 1);
            execl("/usr/bin/setpriv", "setpriv", ("--reuid=" + uid).c_str(),
                  ("--regid=" + gid).c_str(), "--clear-groups", copy.c_str(), nullptr);
            _exit(127);
        }
        close(in[0]);
        // Waiting at the menu: asleep in read(0, ...).
        std::string proc = "/proc/" + std::to_string(pid);
        EXPECT_TRUE(
            vq::within(10, [&] { return vq::slurp(proc + "/syscall").rfind("0 0x0 ", 0) == 0; }));
        for (int p : {int(pid), vq::child(pid)}) {
            EXPECT_EQ(ids(p, "Uid:"), uids);
            EXPECT_EQ(ids(p, "Gid:"), gids);
        }
        close(in[1]); // end of input: goodbye
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

// SIGKILL cannot be caught: the watcher silences the speaker on the
// program's terminal once it is gone, and is gone itself a moment later; so
// it is after a normal exit.
TEST(Watcher, SilencesWhenTheProgramIsGoneAndNeverStays)
{
    for (bool killed : {true, false}) {
        SCOPED_TRACE(killed ? "SIGKILL" : "9 and 9");
        vq::Term term;
        term.type("3");
        int watcher = vq::child(term.pid());
        ASSERT_GT(watcher, 0);
        std::string w = std::to_string(watcher);
        // Out of the foreground group, where the keyboard's signals go.
        EXPECT_EQ(vq::shell("ps -o pgid= -p " + w), vq::shell("ps -o pid= -p " + w));
        std::string tty = vq::shell("readlink -n /proc/" + std::to_string(term.pid()) + "/fd/1");
        vq::Scratch dir;
        std::string log = dir.path + "/watcher";
        std::string strace = "strace -y -e trace=ioctl -p " + w;
        vq::shell(strace.append(" -o ").append(log).append(" >/dev/null 2>&1 &"));
        ASSERT_TRUE(vq::within(20, [&] { return ids(watcher, "TracerPid:") != "TracerPid:\t0"; }));
        if (killed) {
            kill(term.pid(), SIGKILL);
        } else {
            term.type("9");
            term.type("9");
        }
        std::string silence = "ioctl(1<" + tty + ">, KIOCSOUND, 0";
        EXPECT_TRUE(vq::within(1, [&] {
            return vq::slurp(log).find(silence) != std::string::npos;
        })) << vq::slurp(log);
        // Gone, or a zombie waiting for its new parent to reap it.
        EXPECT_TRUE(vq::within(1, [&] {
            std::string st = ids(watcher, "State:");
            return st.empty() || st.find("zombie") != std::string::npos;
        }));
    }
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
