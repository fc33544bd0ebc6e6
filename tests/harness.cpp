// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
#include "harness.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vq {

namespace {

int signal_number(const std::string &name)
{
    // strace counts real-time signals from the kernel's first one, not from
    // the C library's SIGRTMIN.
    if (name.rfind("SIGRT_", 0) == 0)
        return __SIGRTMIN + std::stoi(name.substr(6));
    if (name == "SIGIO") // glibc's name for it is POLL
        return SIGIO;
    for (int s = 1; s < NSIG; ++s)
        if (const char *abbrev = sigabbrev_np(s); abbrev && name == std::string("SIG") + abbrev)
            return s;
    return -1;
}

// How the program gets a mount namespace of its own here, tried as it is
// used: root's; or an ordinary user's, inside a user namespace where it is
// root, which it then runs as without the capabilities that come with it,
// so that the tests may still read its /proc files. None ("") where neither
// works (a build chroot, say, or no /sys).
struct Way {
    std::string unshare, exec;
};

const Way &way()
{
    static const Way found = [] {
        for (Way w : {Way{"unshare --mount", "exec"},
                      Way{"unshare --user --map-root-user --mount",
                          "exec setpriv --securebits=+noroot,+noroot_locked"}}) {
            w.unshare += " --propagation private";
            if ((geteuid() == 0 || w.exec != "exec") &&
                shell(w.unshare + " mount --bind /tmp /sys/class/input 2>/dev/null && echo yes") ==
                    "yes\n")
                return w;
        }
        return Way{};
    }();
    return found;
}

// The words that run a command in a machine whose beepers are `beepers` and
// no other (their sysfs entries made in DIR/sys), under strace, writing
// every ioctl, write and open of the program, timed, to DIR/trace; -x gives
// an event's bytes, which hold zeros, in hex.
std::vector<std::string> traced(const std::string &dir, const std::vector<std::string> &env,
                                const std::vector<Beeper> &beepers)
{
    std::string sys = dir + "/sys";
    std::filesystem::create_directories(sys);
    std::ostringstream script;
    script << "set -e; mount --bind " << quote(sys) << " /sys/class/input";
    if (!beepers.empty())
        script << "; mkdir -p /dev/input; mount -t tmpfs none /dev/input";
    for (const auto &b : beepers) {
        std::string event = "/event" + std::to_string(b.n);
        if (!b.node.empty())
            script << "; touch /dev/input" << event << "; mount --bind " << b.node << " /dev/input"
                   << event;
        std::string input = sys + "/input" + std::to_string(b.n);
        if (b.name.empty() || !std::filesystem::create_directories(input + event))
            continue;
        std::filesystem::create_directories(input + "/capabilities");
        std::ofstream(input + "/name") << b.name << "\n";
        std::ofstream(input + "/capabilities/snd") << b.snd << "\n";
        std::ofstream(input.append(event).append("/dev")) << b.dev << "\n";
    }
    std::vector<std::string> argv;
    std::istringstream unshare(way().unshare);
    for (std::string word; unshare >> word;)
        argv.push_back(word);
    if (!argv.empty())
        argv.insert(argv.end(), {"sh", "-c", script.str() + "; " + way().exec + " \"$@\"", "sh"});
    argv.insert(argv.end(),
                {"strace", "-ttt", "-x", "-o", dir + "/trace", "-e", "trace=ioctl,write,openat"});
    for (const auto &e : env)
        argv.insert(argv.end(), {"-E", e});
    return argv;
}

Trace parse_trace(const std::string &text)
{
    Trace t;
    // Whole lines only: strace's buffer, written out when full, may end a
    // write to the file in the middle of a line, which the test reads there.
    std::istringstream in(text.substr(0, text.rfind('\n') + 1));
    for (std::string stamp, line; std::getline(in >> stamp >> std::ws, line);) {
        // What follows `prefix` in the line; null if it starts otherwise.
        auto after = [&](const char *prefix) {
            return line.rfind(prefix, 0) == 0 ? line.c_str() + strlen(prefix) : nullptr;
        };
        if (const char *n = after("ioctl(1, KIOCSOUND, ")) {
            t.times.push_back(std::stod(stamp));
            t.tones.push_back(std::stoi(n));
            t.events.push_back(std::to_string(t.tones.back()));
        } else if (const char *fd = after("write("); fd && std::stoi(fd) > 2) {
            // Standard output and error aside, only the beeper's device.
            std::string bytes;
            for (size_t i = line.find('"') + 1; line.compare(i, 2, "\\x") == 0; i += 4)
                bytes += char(std::stoi(line.substr(i + 2, 2), nullptr, 16));
            input_event ev = {};
            memcpy(&ev, bytes.data(), std::min(bytes.size(), sizeof ev));
            bool tone = bytes.size() == sizeof ev && ev.type == EV_SND && ev.code == SND_TONE;
            t.beeps.push_back(tone ? ev.value : -1);
        } else if (auto node = line.find("\"/dev/input/");
                   after("openat(") && node != std::string::npos) {
            t.opened.push_back(line.substr(node + 1, line.find('"', node + 1) - node - 1));
        } else if (after("--- stopped by ")) {
            t.events.emplace_back("stopped");
        } else if (const char *code = after("+++ exited with ")) {
            t.exited = true;
            t.code = std::stoi(code);
        } else if (const char *name = after("+++ killed by ")) {
            t.signal = signal_number(std::string(name, strcspn(name, " ")));
        }
    }
    return t;
}

std::string proc(int pid, const std::string &file)
{
    return "/proc/" + std::to_string(pid) + "/" + file;
}

// Completed read() calls of the process (its reaped children's included).
long reads(int pid)
{
    std::string io = slurp(proc(pid, "io"));
    auto at = io.find("syscr: ");
    return at == std::string::npos ? -1 : std::stol(io.substr(at + 7));
}

char state(int pid)
{
    auto fields = stat_fields(pid);
    return fields.empty() ? 'X' : fields[0][0];
}

// Waits for `done`; past 20 s, says what for and, given a process, where
// it is: its state and the system call it is in.
void await(const std::function<bool()> &done, std::string what, int pid = 0)
{
    if (within(20, done))
        return;
    if (pid != 0)
        what += ": pid " + std::to_string(pid) + ", state " + state(pid) + ", syscall " +
                slurp(proc(pid, "syscall"));
    throw std::runtime_error("timed out waiting for " + what);
}

// Where /proc/PID/LINK points; "" once the process is gone.
std::string target(int pid, const char *link)
{
    std::error_code ec;
    return std::filesystem::read_symlink(proc(pid, link), ec).string();
}

// Everything left to read, and closes it; a read error (a /proc file whose
// process is gone) ends it like the end of the file.
std::string drain(FILE *f, int (*done)(FILE *))
{
    std::string out;
    char buf[4096];
    for (size_t n; f && (n = fread(buf, 1, sizeof buf, f)) > 0;)
        out.append(buf, n);
    if (f)
        done(f);
    return out;
}

} // namespace

bool can_make_nodes()
{
    return geteuid() == 0 && !way().unshare.empty();
}

const char *binary()
{
    const char *installed = getenv("VQ_BINARY");
    return installed && *installed ? installed : VQ_BUILT_BINARY;
}

std::string quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string shell(const std::string &cmd)
{
    return drain(popen(cmd.c_str(), "r"), pclose); // NOLINT(cert-env33-c): runs tmux, strace, sh
}

int child(int pid)
{
    int c = 0;
    std::istringstream(slurp(proc(pid, "task/" + std::to_string(pid) + "/children"))) >> c;
    return c;
}

std::vector<std::string> stat_fields(int pid)
{
    std::string stat = slurp(proc(pid, "stat"));
    auto close = stat.rfind(')');
    std::vector<std::string> fields;
    std::istringstream in(close == std::string::npos ? "" : stat.substr(close + 1));
    for (std::string f; in >> f;)
        fields.push_back(f);
    return fields;
}

bool asleep_in_read(int pid)
{
    // /proc gives the system call by its number, which differs between
    // architectures, and its arguments in hex: here, the file descriptor 0.
    return state(pid) == 'S' &&
           slurp(proc(pid, "syscall")).rfind(std::to_string(SYS_read) + " 0x0 ", 0) == 0;
}

bool within(double seconds, const std::function<bool()> &done)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(2)))
        if (std::chrono::steady_clock::now() > until)
            return false;
    return true;
}

std::string slurp(const std::string &path)
{
    return drain(fopen(path.c_str(), "rb"), fclose);
}

Scratch::Scratch() : path("/tmp/vq-test-XXXXXX")
{
    if (!mkdtemp(path.data()))
        throw std::runtime_error("mkdtemp failed");
}

int spawn(const std::vector<std::string> &argv, int in, int out, int err,
          const std::vector<std::string> &env)
{
    std::vector<char *> args;
    args.reserve(argv.size() + 1);
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        // Moved out of the way first, so that one standard stream cannot
        // overwrite another before it is copied.
        int fds[] = {fcntl(in, F_DUPFD_CLOEXEC, 3), fcntl(out, F_DUPFD_CLOEXEC, 3),
                     fcntl(err, F_DUPFD_CLOEXEC, 3)};
        for (int fd = 0; fd < 3; ++fd)
            if (fds[fd] < 0 || dup2(fds[fd], fd) < 0)
                _exit(126);
        for (const auto &e : env)
            putenv(const_cast<char *>(e.c_str()));
        execvp(args[0], args.data());
        _exit(127);
    }
    if (pid > 0)
        setpgid(pid, pid);
    return pid;
}

int reap(int pid, double seconds)
{
    int status = -1;
    if (!within(seconds, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) {
        kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    return status;
}

SlowClear::SlowClear(int nth)
{
    std::string real = shell("command -v clear");
    real.erase(real.find_last_not_of('\n') + 1);
    const std::string count = quote(dir.path + "/count");
    std::ofstream(dir.path + "/clear")
        << "#!/bin/sh\n"
        << "n=$(($(cat " << count << " 2>/dev/null || echo 0) + 1))\n"
        << "echo $n >" << count << "\n"
        << "[ $n = " << nth << " ] || exec " << quote(real) << "\n"
        << "touch " << quote(dir.path + "/started") << "\n"
        << "exec sleep 60\n";
    std::filesystem::permissions(dir.path + "/clear", std::filesystem::perms::owner_all);
}

Piped piped(const std::string &input, const std::vector<std::string> &env,
            const std::vector<Beeper> &beepers)
{
    Scratch dir;
    std::ofstream(dir.path + "/in", std::ios::binary) << input;
    // A terminal type for "clear", as a console would have; `env` may override it.
    std::vector<std::string> vars{"TERM=xterm"};
    vars.insert(vars.end(), env.begin(), env.end());
    std::vector<std::string> argv = traced(dir.path, vars, beepers);
    argv.emplace_back(binary());
    int in = open((dir.path + "/in").c_str(), O_RDONLY | O_CLOEXEC);
    int out = open((dir.path + "/out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    int err = open((dir.path + "/err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    int pid = spawn(argv, in, out, err);
    for (int fd : {in, out, err})
        close(fd);
    // A program that never ends is a failure, not a hung test.
    reap(pid, 30);
    return {parse_trace(slurp(dir.path + "/trace")), slurp(dir.path + "/out"),
            slurp(dir.path + "/err")};
}

Term::Term(const std::string &args, const std::vector<std::string> &env, const std::string &wrapper,
           const std::vector<Beeper> &beepers)
{
    static int count = 0;
    sock_ = "vq-test-" + std::to_string(getpid()) + "-" + std::to_string(++count);
    std::ofstream(dir_.path + "/tmux.conf") << "set -g status off\n";
    // The program runs as a shell's foreground job would, in a process group
    // of its own; the pane outlives it, so its last screen can still be read.
    // No core files from the signals the tests send.
    std::string cmd = "ulimit -c 0; (exec " VQ_FOREGROUND " ";
    for (const auto &word : traced(dir_.path, env, beepers))
        cmd += quote(word) + " ";
    cmd += wrapper + " " + quote(binary()) + " " + args + "); exec sleep 3600";
    tmux("-f " + quote(dir_.path + "/tmux.conf") + " new-session -d -x 80 -y 25 -s vq " +
         quote(cmd));
    try {
        int pane_pid = std::stoi(tmux("display -p -t vq '#{pane_pid}'"));
        // Down the line of first children; strace forks short-lived probes of
        // its own before the program.
        std::error_code ec;
        std::string exe = std::filesystem::canonical(binary(), ec).string();
        await(
            [&] {
                pid_ = pane_pid;
                for (int depth = 0; depth < 4 && pid_ > 0 && target(pid_, "exe") != exe; ++depth)
                    pid_ = child(pid_);
                if (pid_ <= 0 || target(pid_, "exe") != exe)
                    return false;
                // The program may have started between two looks, and this
                // be its first child, the watcher.
                int parent = std::stoi(stat_fields(pid_).at(1));
                if (target(parent, "exe") == exe)
                    pid_ = parent;
                return true;
            },
            "the program to start");
        wait_input();
    } catch (...) {
        stop();
        throw;
    }
}

void Term::stop()
{
    if (pid_ > 0 && !trace().ended())
        kill(pid_, SIGKILL);
    tmux("kill-server");
}

std::string Term::tmux(const std::string &args)
{
    return shell("tmux -L " + sock_ + " " + args + " 2>/dev/null");
}

void Term::type(const std::string &line)
{
    if (line == "^D") {
        press("C-d");
        return wait_ended();
    }
    long before = reads(pid_);
    tmux("send-keys -t vq -l " + quote(line) + " \\; send-keys -t vq Enter");
    await([&] { return trace().ended() || (reads(pid_) > before && asleep_in_read(pid_)); },
          "the program to take the line " + quote(line), pid_);
}

void Term::wait_input() const
{
    await([&] { return trace().ended() || asleep_in_read(pid_); }, "the program to wait for input",
          pid_);
}

void Term::wait_ended() const
{
    await([&] { return trace().ended(); }, "the program to end", pid_);
}

void Term::wait_stopped(long n) const
{
    // A ptrace stop looks the same in /proc; strace tells the job-control stop apart.
    await(
        [&] {
            auto events = trace().events;
            return std::count(events.begin(), events.end(), "stopped") >= n;
        },
        "the program to stop", pid_);
}

std::string Term::screen()
{
    std::string s = tmux("capture-pane -p -t vq");
    if (!s.empty() && s.back() == '\n')
        s.pop_back();
    return s;
}

std::pair<int, int> Term::cursor()
{
    std::pair<int, int> at{-1, -1};
    std::istringstream(tmux("display -p -t vq '#{cursor_x} #{cursor_y}'")) >> at.first >> at.second;
    return at;
}

Trace Term::trace() const
{
    return parse_trace(slurp(dir_.path + "/trace"));
}

std::string Term::tty() const
{
    return target(pid_, "fd/1");
}

} // namespace vq
