// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// The program's guards: a tone is console state that outlives the process,
// so every way out leaves the speaker silent; and the program never runs
// with rights its user does not have.
#pragma once

// Becomes the real user and group for good if started setuid or setgid;
// false if that failed (errno says why).
bool drop_privileges();
// Starts the watcher, a child that silences the speaker once the program has
// ended in any way, even by SIGKILL.
void start_watcher();
// Hands every lethal and stop signal that is not ignored to the program's
// handlers: silence, then the signal's own default action.
void install_signal_handlers();
// The level tone to set again when the program is continued after a stop;
// 0 while no level tone sounds.
void tone_after_stop(int hz);
// Leaves at once, silent and with status 1, if `result` is a failed request
// or write whose errno says the terminal was hung up (EIO): nothing can be
// shown there any more, and every moment counts for the watcher.
void leave_if_hung_up(int result);
// Clears the screen with cls(). Ctrl-C and Ctrl-\ are ignored here while
// "clear" runs, so a shell killed by one of them means the key was meant for
// the program: it then ends the program by that signal.
void cls_passing_interrupt();
