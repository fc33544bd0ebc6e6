// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// Preloaded into the program (LD_PRELOAD) to cause, at a chosen moment, faults
// a person cannot cause on purpose. VQ_FAULT says which:
//   overflow  once a level tone is set, use up the stack, as a runaway
//             recursion would;
//   stop      right after the first silence that follows a level tone, a
//             stop signal arrives, as if Ctrl-Z came just then;
//   console   standard output answers as this session's own virtual console
//             does, which no test machine has: the keyboard type, the
//             session, and every speaker request taken.
// A level tone is any speaker divisor but 0 and the chirp's.
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

constexpr long chirp_divisor = 1193; // 1193180 Hz / 1000 Hz

bool level_sounded = false;
volatile int depth_limit = 1 << 30;

// Every frame keeps its buffer, and the call is not the last thing done, so
// nothing can turn this into a loop.
int use_up_stack(int depth) // NOLINT(misc-no-recursion): that is the fault
{
    volatile char frame[4096];
    frame[0] = static_cast<char>(depth);
    if (depth > depth_limit)
        return 0;
    return use_up_stack(depth + 1) + frame[0];
}

bool fault(const char *which)
{
    const char *chosen = getenv("VQ_FAULT");
    return chosen && strcmp(chosen, which) == 0;
}

int speaker_request(int fd, unsigned long request, void *arg)
{
    long rc = syscall(SYS_ioctl, fd, request, arg);
    if (fd == 1 && fault("console")) {
        if (request == KDGKBTYPE)
            *static_cast<char *>(arg) = KB_101;
        else if (request == TIOCGSID)
            *static_cast<pid_t *>(arg) = getsid(0);
        if (request == KDGKBTYPE || request == TIOCGSID || request == KIOCSOUND)
            rc = 0;
    }
    if (request == KIOCSOUND) {
        auto divisor = reinterpret_cast<long>(arg);
        if (divisor != 0 && divisor != chirp_divisor) {
            level_sounded = true;
            if (fault("overflow"))
                use_up_stack(0);
        } else if (divisor == 0 && level_sounded && fault("stop")) {
            level_sounded = false;
            kill(getpid(), SIGTSTP);
        }
    }
    return static_cast<int>(rc);
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    return speaker_request(fd, request, arg);
}

// The name 32-bit builds with a 64-bit time_t call.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the C library's name
extern "C" int __ioctl_time64(int fd, unsigned long request, ...) __attribute__((alias("ioctl")));
