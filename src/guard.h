// SPDX-License-Identifier: GPL-2.0-or-later
// The program's guards: a tone is console state that outlives the process,
// so every way out leaves the speaker silent; and the program never runs
// with rights its user does not have.
#pragma once

#include <csignal>

// The catchable signals whose default action ends the process: these, and
// every real-time signal.
inline constexpr int lethal_classic[] = {
    SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,
    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU,
    SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS,
};

inline bool lethal(int sig)
{
    for (int s : lethal_classic)
        if (s == sig)
            return true;
    return sig >= SIGRTMIN && sig <= SIGRTMAX;
}

// Becomes the real user and group for good if started setuid or setgid;
// false if that failed (errno says why).
bool drop_privileges();
// Starts the watcher, a child that silences the speaker once the program has
// ended in any way, even by SIGKILL.
void start_watcher();
// Hands every lethal and stop signal that is not ignored to the program's
// handlers: silence, then the signal's own default action.
void guard_speaker();
// The level tone to set again when the program is continued after a stop;
// 0 while no level tone sounds.
void keep_tone(int hz);
// Takes the status of "clear" as system() reports it. Ctrl-C and Ctrl-\ are
// ignored here while it runs, so a shell killed by them means the key was
// meant for the program: it then ends the program by that signal.
int relay_interrupt(int status);
