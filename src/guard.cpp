// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
#include "guard.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>

#include "console.h"

namespace {

// Whether a signal's default action ends the process: every signal's does
// (signal(7)) but these few, which are ignored, continue or stop it. Which
// signals exist differs between architectures (SIGSTKFLT on x86, SIGEMT on
// mips and alpha, SIGLOST on sparc); these few are the same everywhere.
bool lethal(int sig)
{
    switch (sig) {
    case SIGCHLD:
    case SIGCONT:
    case SIGURG:
    case SIGWINCH:
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
        return false;
    default:
        return true;
    }
}

// The level tone now sounding, 0 while silent or chirping: what to set again
// when the program is continued after a stop.
volatile sig_atomic_t kept_hz = 0;

// The lethal signals that have the program's handler.
sigset_t handled;

// The handlers run here, so that a crash that used up the stack still
// silences the speaker.
alignas(16) char alt_stack[1 << 16];

// Silence, then die of the same signal: the handler was reset to the default
// on entry and the signal stays blocked until it returns, so the default
// action (a core dump, for some) follows and the shell sees the usual status.
void on_fatal(int sig)
{
    no_sound();
    raise(sig);
}

// Silent while stopped; the level tone comes back with the program.
void on_stop(int sig)
{
    int saved = errno;
    no_sound();
    struct sigaction dfl = {};
    struct sigaction mine = {};
    dfl.sa_handler = SIG_DFL;
    sigaction(sig, &dfl, &mine);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig); // stops here until SIGCONT
    sigaction(sig, &mine, nullptr);
    // A lethal signal that came while stopped (kill %1 sends SIGTERM, then
    // SIGCONT) is taken here, before any tone is set again; one that comes
    // later finds the tone set and silences it.
    sigprocmask(SIG_UNBLOCK, &handled, nullptr);
    if (kept_hz)
        mk_sound(kept_hz);
    errno = saved;
}

bool stop_signal(int sig)
{
    return sig == SIGTSTP || sig == SIGTTIN || sig == SIGTTOU;
}

// After a hangup of the console (its login shell killed, the user logged
// out) every file open on it fails with EIO, but the console itself lives on
// and belongs to no session. A new session that opens it again by name gets
// it as its controlling terminal, where the kernel takes the request again.
// That is left to a child, not waited for: the watcher leads a process group
// and cannot start a session itself. Where the console has been given back
// to root, or is already another session's terminal, the open or the request
// is refused, and nothing more is tried.
void silence_hung_up(const char *console)
{
    if (fork() != 0)
        return;
    setsid();
    // Opened for reading and without O_NOCTTY: only so does the kernel make
    // it this session's controlling terminal.
    int fd = open(console, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0 && dup2(fd, 1) == 1) {
        no_console_sound();
        // Let the console go again, so that this session's end does not hang
        // it up a second time; that sends this group a SIGHUP, still ignored.
        ioctl(1, TIOCNOTTY);
    }
    _exit(0);
}

// The watcher's whole life: wait for the program's end, then silence; and
// silence at once when the console is hung up, which may come first. Runs
// with every signal blocked until it is out of the keyboard's reach.
[[noreturn]] void watch(int pipe_end, const sigset_t &mask)
{
    // Out of the terminal's foreground group, so that the keyboard's signals
    // reach only the program; and deaf to a hangup, a stop and the SIGTERM
    // that systemd sends every process of a session it ends, so that it is
    // still there to silence the speaker when the program goes. Both before
    // the mask is restored: a Ctrl-C in between would kill it.
    setpgid(0, 0);
    const int deaf[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGTSTP, SIGTTIN, SIGTTOU};
    for (int sig : deaf)
        signal(sig, SIG_IGN);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    // The console's name, while it still answers: after a hangup it does not.
    static char console[PATH_MAX];
    if (ttyname_r(1, console, sizeof console) != 0)
        console[0] = '\0';
    // It reads nothing from the terminal and writes nothing to it.
    const int unused[] = {0, 2};
    for (int fd : unused)
        if (fd != pipe_end)
            close(fd);
    // Nothing is ever written to the pipe: it reads as ended once the
    // program's end of it has closed, however the program ended. The
    // console, asked for no event, still reports a hangup: the moment to
    // act, before whoever ends the session gives the console back to root.
    pollfd fds[] = {{pipe_end, POLLIN, 0}, {1, 0, 0}};
    bool hung_up = false;
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            // Refused (a file limit below two): the pipe alone, as a plain read.
            fds[0].revents = POLLIN;
            fds[1].revents = 0;
        }
        if (fds[1].revents != 0) {
            fds[1].fd = -1; // once: a pipe's or a file's error says nothing more
            hung_up = no_console_sound() != 0 && errno == EIO;
            if (hung_up && console[0] != '\0')
                silence_hung_up(console);
        }
        char byte = 0;
        ssize_t n = fds[0].revents != 0 ? read(pipe_end, &byte, 1) : 1;
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    if (no_sound() != 0 && errno == EIO && !hung_up && console[0] != '\0')
        silence_hung_up(console);
    _exit(0);
}

} // namespace

void start_watcher()
{
    // Close-on-exec: the shell and "clear" must not hold the program's end.
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return;
    // No signal may reach the watcher before it has left the foreground group.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &old);
    pid_t pid = fork();
    if (pid == 0) {
        close(ends[1]);
        watch(ends[0], old);
    }
    if (pid > 0)
        setpgid(pid, pid);
    sigprocmask(SIG_SETMASK, &old, nullptr);
    // Without a watcher (no process to spare) the handlers still cover every
    // way out but SIGKILL.
    close(ends[0]);
    if (pid < 0)
        close(ends[1]);
}

void install_signal_handlers()
{
    stack_t stack = {};
    stack.ss_sp = alt_stack;
    stack.ss_size = sizeof alt_stack;
    sigaltstack(&stack, nullptr);

    struct sigaction fatal = {};
    // Nothing interrupts a handler: a stop inside the fatal handler could
    // otherwise set the tone again just before the program dies.
    sigfillset(&fatal.sa_mask);
    fatal.sa_handler = on_fatal;
    fatal.sa_flags = SA_RESETHAND | SA_ONSTACK;
    struct sigaction stop = fatal;
    stop.sa_handler = on_stop;
    // Restart the blocking read after a stop, so the run goes on where it was.
    stop.sa_flags = SA_RESTART | SA_ONSTACK;

    sigemptyset(&handled);
    // sigaction refuses SIGKILL, SIGSTOP and the real-time signals the C
    // library keeps for itself.
    for (int sig = 1; sig < NSIG; ++sig) {
        if (!lethal(sig) && !stop_signal(sig))
            continue;
        // A signal ignored by whoever started the program (nohup, a script's
        // &, a shell that ignores stops) stays ignored.
        struct sigaction was = {};
        if (sigaction(sig, nullptr, &was) != 0 || was.sa_handler == SIG_IGN)
            continue;
        if (stop_signal(sig)) {
            sigaction(sig, &stop, nullptr);
        } else if (sigaction(sig, &fatal, nullptr) == 0) {
            sigaddset(&handled, sig);
        }
    }
}

void tone_after_stop(int hz)
{
    kept_hz = hz;
}

void leave_if_hung_up(int result)
{
    if (result == 0 || errno != EIO)
        return;
    tone_after_stop(0);
    no_sound();
    _exit(1);
}

void cls_passing_interrupt()
{
    int status = cls();
    if (status != -1 && WIFSIGNALED(status) &&
        (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGQUIT))
        raise(WTERMSIG(status));
}

// Installed setuid or setgid, the program would run "clear" through the shell,
// found on the user's own PATH, with someone else's rights. Become the real
// user and group for good instead.
bool drop_privileges()
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (geteuid() == uid && getegid() == gid)
        return true;
    if (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
        return false;
    uid_t ru = 0;
    uid_t eu = 0;
    uid_t su = 0;
    gid_t rg = 0;
    gid_t eg = 0;
    gid_t sg = 0;
    return getresuid(&ru, &eu, &su) == 0 && getresgid(&rg, &eg, &sg) == 0 && ru == uid &&
           eu == uid && su == uid && rg == gid && eg == gid && sg == gid;
}
