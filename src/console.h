// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// Console device control: the only place the program touches the terminal
// itself rather than its text.
#pragma once

// Clears the screen by running "clear"; returns what system() returns.
int cls();
// Sets the PC speaker to freq Hz; the tone keeps sounding until the next
// mk_sound or no_sound. Returns the console request's result.
int mk_sound(int freq);
// Silences the speaker. Returns the console request's result.
int no_sound();
// Silences through the console alone: a hangup of the console concerns it,
// not the beeper's device.
int no_console_sound();
