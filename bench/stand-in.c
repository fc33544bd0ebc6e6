// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// The stand-in bench/run measures the program against: it makes the system
// calls the program makes on each timed path, in the same order, and nothing
// else. Timed the same way in the same run, it gives what the machine and the
// tracing cost on that path; the program's figure over it is what the program
// itself adds, on any machine however busy.
//   stand-in            the program's menu without the menu: "clear" through
//                       system(), then only the prompt; a level key starts a
//                       level run straight from the line read. Where it can
//                       open /dev/input/event0, every request is also
//                       written there, as the program writes to the beeper
//                       it found at start.
//   stand-in fork PROG  a bare fork, then PROG in the same process: under
//                       strace -f, the bare fork and the program's fork of its
//                       watcher land in one trace.
#include <fcntl.h>
#include <linux/input.h>
#include <linux/kd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#define MENU_PROMPT "                  Select choice :"

static int beeper = -1;

// The speaker request, made as the program makes it, then the same tone on
// the beeper's device; 0 Hz is silence.
static void request(int hz)
{
    ioctl(1, KIOCSOUND, hz ? 1193180 / hz : 0);
    struct input_event ev = {.type = EV_SND, .code = SND_TONE, .value = hz};
    if (beeper >= 0) // unchecked, as the program's
        (void)!write(beeper, &ev, sizeof ev);
}

static void prompt(const char *text)
{
    fputs(text, stdout);
    fflush(stdout);
}

// The chirp's request, its 10 ms pause, the silence and the run's prompt;
// then the level's request for every character read but a 9, which silences.
// The line end left from the level key is what sets the tone first.
static int level_run(int key)
{
    request(1000);
    usleep(10000);
    request(0);
    printf("<< Vastrel-Quimbok Level %c Running...Press 9 Return >>:", key);
    fflush(stdout);
    int c;
    while ((c = getchar()) != '9' && c != EOF)
        request(15000 + 1000 * (key - '0'));
    request(0);
    return c == EOF || system("clear") == -1 ? EOF : key;
}

static int menu(void)
{
    int c = 0;
    while (c != EOF && c != '9') {
        if (system("clear") == -1)
            return 1;
        prompt(MENU_PROMPT);
        c = getchar();
        if (c >= '1' && c < '9') // the level keys bench/run sends
            c = level_run(c);
    }
    return 0;
}

// The child leaves at once; the parent's next call, the wait, ends the fork
// as the program's next call ends its fork of the watcher.
static int bare_fork(char **program)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    if (pid > 0)
        waitpid(pid, NULL, 0);
    execv(program[0], program);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc > 2 && strcmp(argv[1], "fork") == 0)
        return bare_fork(argv + 2);
    beeper = open("/dev/input/event0", O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    return menu();
}
