// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
#include "console.h"

#include "beeper.h"

#include <linux/kd.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Input clock of the PC's interval timer that drives the speaker. The
// historical 1193180 is kept (not 1193182) so the divisors stay as published.
constexpr int timer_clock = 1193180;

// The speaker is reached through standard output, which must be the console.
constexpr int console_fd = 1;

// The timer takes an integer divisor; the remainder is dropped, so the
// speaker sounds slightly above the requested frequency.
static_assert(timer_clock / 1000 == 1193, "chirp divisor");
static_assert(timer_clock / 16000 == 74, "level 1 divisor");
static_assert(timer_clock / 20000 == 59, "level 5 divisor is truncated, not rounded");

} // namespace

int cls()
{
    // "clear" writes straight to the terminal; anything still buffered here
    // must reach it first, or it would show at the top of the cleared screen.
    fflush(stdout);
    return system("clear"); // NOLINT(cert-env33-c): the shell finds "clear" on PATH
}

// The console request is made wherever standard output points, as it always
// was; the beeper's device, where one was chosen at start, hears the same
// tone in Hz. The result is the console request's.
int mk_sound(int freq)
{
    // A divisor of 0 means silence, which is also the only safe answer to a
    // frequency that cannot be divided by.
    if (freq <= 0)
        return no_sound();
    int rc = ioctl(console_fd, KIOCSOUND, timer_clock / freq);
    beeper_tone(freq);
    return rc;
}

int no_sound()
{
    int rc = no_console_sound();
    beeper_tone(0);
    return rc;
}

int no_console_sound()
{
    return ioctl(console_fd, KIOCSOUND, 0);
}
