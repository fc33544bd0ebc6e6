// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// The beeper's input event device: the second road to the speaker, taken
// where standard output is not a console that takes the speaker request (a
// terminal emulator, ssh, output redirected). Only console.cpp uses it.
#pragma once

// Chooses the road once, at start, with the user's own ids and without a
// request of its own: on this session's virtual console, the console alone;
// elsewhere also the beeper's event device, if sysfs names one and the user
// may open it.
void choose_speaker();
// Sets the device's tone in Hz, 0 for silence, where one was opened.
// Leaves errno as it was, so the console request's failure still shows.
void beeper_tone(int hz);
// Writes, once, one line on standard error saying why nothing the program
// does can be heard, where nothing can: not a word where a road works.
void say_why_silent();
