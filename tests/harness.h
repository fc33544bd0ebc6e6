// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the real binary as a person would, in an 80x25 tmux pane or with its
// standard streams on files, under strace, and reports what it asked of the
// console.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vq {

// The program under test: $VQ_BINARY (the installed one, say), or else the
// one this build made.
const char *binary();

// The levels as the manual page gives them, level n the nth: its key, its Hz,
// and the divisor asked of the speaker, worked out by hand. A new level is a row.
struct Level {
    char key;
    int hz;
    int divisor;
};
inline const std::vector<Level> levels = {
    {'1', 16000, 74}, // 1193180 / 16000 = 74.57, the remainder dropped
    {'2', 17000, 70}, // 70.19
    {'3', 18000, 66}, // 66.29
    {'4', 19000, 62}, // 62.80
    {'5', 20000, 59}, // 59.66
};
constexpr int chirp = 1193; // 1000 Hz

// The Hz the beeper's device gets where the console gets these divisors.
inline std::vector<int> hz(const std::vector<int> &divisors)
{
    std::vector<int> out;
    for (int d : divisors) {
        out.push_back(d == chirp ? 1000 : 0);
        for (const auto &l : levels)
            out.back() = l.divisor == d ? l.hz : out.back();
    }
    return out;
}

// The divisor of level n, counted from 1 as the menu does.
inline int tone(int n)
{
    return levels.at(n - 1).divisor;
}

// What the program writes: the menu, as it stands on a freshly cleared
// screen with the cursor after the colon, a line per level; the prompt of a
// level run; and the farewell text.
inline const std::string menu = [] {
    std::string m = R"(

             +----------------------+
             | Vastrel-Quimbok 0.90 |
             |       for Linux      |###
             +----------------------+###
)";
    for (size_t i = 0; i < levels.size(); ++i)
        m += "             |   [" + std::string(1, levels[i].key) + "] Level freq " +
             std::to_string(i + 1) + "   |###\n";
    return m + R"(             |   [9] Exit Program   |###
             +----------------------+###
                 #######################
                 #######################
                  Select choice :)";
}();

inline std::string run_prompt(int level)
{
    return "<< Vastrel-Quimbok Level " + std::to_string(level) + " Running...Press 9 Return >>:";
}

inline const std::string farewell = "Good bye thank... to use :>\n"
                                    "Vastrel-Quimbok V 0.90 for LINUX \n"
                                    "By Tolvane Rusk\n"
                                    "tolvane.rusk@example.org\n";

// The one line on standard error, where no beeper can be found.
inline const std::string no_beeper =
    "vastrel-quimbok: no beeper to sound: is the pcspkr module loaded?\n";

struct Trace {
    std::vector<int> beeps;          // Hz of every EV_SND/SND_TONE event written (-1: another)
    std::vector<std::string> opened; // every node under /dev/input opened, in order
    std::vector<int> tones;          // N of every ioctl(1, KIOCSOUND, N), in order
    std::vector<double> times;       // when each of them was asked, in seconds
    std::vector<std::string> events; // tones as numbers, and "stopped" for a job-control stop
    bool exited = false;             // ended by exit (code) or by a signal (signal)
    int code = -1;
    int signal = 0;
    bool ended() const { return exited || signal != 0; }
};

std::string quote(const std::string &s);
// Runs a shell command and returns its standard output.
std::string shell(const std::string &cmd);
// Waits up to `seconds` for `done` to hold; says whether it did.
bool within(double seconds, const std::function<bool()> &done);
std::string slurp(const std::string &path);
// The first child of a process, 0 if it has none. The program's first child
// is its watcher, started before the first menu.
int child(int pid);
// The fields of /proc/PID/stat after the command name: state, parent,
// process group, ...; none once the process is gone.
std::vector<std::string> stat_fields(int pid);
// Asleep in read(0, ...): waiting for the user, using no CPU.
bool asleep_in_read(int pid);

// A folder of its own under /tmp, removed when the object goes.
struct Scratch {
    Scratch();
    ~Scratch()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    std::string path;
};

// Starts argv (argv[0] found on PATH) in a process group of its own, with
// `in`, `out` and `err` as its standard input, output and error and `env`
// (NAME=value) added to its environment.
int spawn(const std::vector<std::string> &argv, int in, int out, int err,
          const std::vector<std::string> &env = {});
// Waits for a child started by spawn; one that has not ended within
// `seconds` is killed with its process group. Returns the wait status.
int reap(int pid, double seconds);

// A "clear" of its own on PATH (env()) that, at its nth run, says so
// (started()) and then takes a minute instead of clearing.
struct SlowClear {
    explicit SlowClear(int nth);
    std::vector<std::string> env() const { return {"PATH=" + dir.path + ":/usr/bin:/bin"}; }
    bool started() const { return std::filesystem::exists(dir.path + "/started"); }
    Scratch dir;
};

// A beeper a case gives the program's machine: /sys/class/input/inputN, with
// its eventN, and the node /dev/input/eventN.
struct Beeper {
    std::string name = "PC Speaker"; // "" for a node that sysfs does not name
    std::string snd = "6";           // capabilities/snd: SND_BELL and SND_TONE
    int n = 0;
    std::string dev = "1:3";        // the node's number, as sysfs gives it
    std::string node = "/dev/null"; // what the node really is; "" for none
};

// The beepers the program finds are those a case gives, and no other. The
// machine's own are hidden in a mount namespace of the program's own, so
// that no test sounds a real speaker; where none can be had (no root, no
// user namespaces), the program sees the machine as it is. Stand-in nodes
// need root too: whether a case can have them.
bool can_make_nodes();

struct Piped {
    Trace trace;
    std::string out, err;
};

// The program with `input` as standard input and standard output and error
// on files. `env` is a list of NAME=value for its environment.
Piped piped(const std::string &input, const std::vector<std::string> &env = {},
            const std::vector<Beeper> &beepers = {});

// The program in an 80x25 tmux pane, the way it would run on a console.
// `wrapper` is a command line that runs it under strace, such as
// "env --ignore-signal=HUP".
class Term {
  public:
    explicit Term(const std::string &args = "", const std::vector<std::string> &env = {},
                  const std::string &wrapper = "", const std::vector<Beeper> &beepers = {});
    ~Term() { stop(); } // Scratch rules out copies

    // Types the line and Return, then waits until the program reads again or ends.
    // "^D" is Ctrl-D on an empty line instead, end of input: then it waits for the end.
    void type(const std::string &line);
    // Presses tmux keys (e.g. "C-d", or "9 Enter") without waiting.
    void press(const std::string &keys) { tmux("send-keys -t vq " + keys); }
    // Closes the pane, as closing a terminal window would: the kernel hangs
    // the terminal up.
    void hang_up() { tmux("kill-server"); }
    // Waits until the program blocks reading standard input, or has ended.
    void wait_input() const;
    void wait_ended() const;
    // Waits until the program has been stopped by job control n times.
    void wait_stopped(long n = 1) const;
    std::string screen();
    std::pair<int, int> cursor(); // column, row; 0-based
    Trace trace() const;
    int pid() const { return pid_; }
    // The terminal the program runs on, as /proc shows its standard output.
    std::string tty() const;

  private:
    void stop();
    std::string tmux(const std::string &args);
    Scratch dir_;
    std::string sock_;
    int pid_ = 0;
};

} // namespace vq
