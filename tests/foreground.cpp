// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// Runs a command the way a job-control shell runs a foreground job: in a
// process group of its own that owns the terminal, with a parent in the same
// session, so that a stop signal really stops it. Waits for it to end however
// often it is stopped and continued, and never takes the terminal back.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        signal(SIGTTOU, SIG_IGN);
        tcsetpgrp(0, getpid());
        // As a job-control shell does for its jobs, whatever this was started with.
        signal(SIGTSTP, SIG_DFL);
        signal(SIGTTIN, SIG_DFL);
        signal(SIGTTOU, SIG_DFL);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    setpgid(pid, pid);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
