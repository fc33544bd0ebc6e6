// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// Vastrel-Quimbok: steady high tones from the PC speaker, picked from a menu,
// meant to drive insects away.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "beeper.h"
#include "console.h"
#include "guard.h"

// Level frequencies in Hz, indexed by level - 1.
const int snd[5] = {16000, 17000, 18000, 19000, 20000};

namespace {

constexpr int chirp_hz = 1000;
constexpr useconds_t chirp_us = 10000;
constexpr unsigned char stop_key = '9';

// Reads the next character of the line the user entered, or EOF once the
// input has ended. The terminal stays in line mode, so both loops share one
// stream: what one leaves, the other reads. The prompt has no line end, so
// flush it before blocking. A 0xFF byte is just a character.
int key()
{
    leave_if_hung_up(fflush(stdout));
    return getchar();
}

} // namespace

int freq_Quimbok(int level)
{
    leave_if_hung_up(mk_sound(chirp_hz));
    usleep(chirp_us);
    leave_if_hung_up(no_sound());
    say_why_silent();
    printf("<< Vastrel-Quimbok Level %d Running...Press 9 Return >>:", level);
    // Every character but '9' sets the tone again, line ends included; the
    // line end left from the menu choice is what starts it. End of input
    // stops the run like '9'.
    for (int c = key(); c != stop_key && c != EOF; c = key()) {
        tone_after_stop(snd[level - 1]);
        leave_if_hung_up(mk_sound(snd[level - 1]));
    }
    tone_after_stop(0);
    // A hangup reads as end of input, and the request then fails: no clear.
    leave_if_hung_up(no_sound());
    cls_passing_interrupt();
    return 0;
}

void make_menu()
{
    // A level run leaves this holding the level key, so the loop goes on
    // after a run stopped with '9'.
    unsigned char last = '\0';
    while (last != stop_key) {
        cls_passing_interrupt();
        printf("\n\n             +----------------------+\n");
        printf("             | Vastrel-Quimbok 0.90 |\n");
        printf("             |       for Linux      |###\n");
        printf("             +----------------------+###\n");
        printf("             |   [1] Level freq 1   |###\n");
        printf("             |   [2] Level freq 2   |###\n");
        printf("             |   [3] Level freq 3   |###\n");
        printf("             |   [4] Level freq 4   |###\n");
        printf("             |   [5] Level freq 5   |###\n");
        printf("             |   [9] Exit Program   |###\n");
        printf("             +----------------------+###\n");
        printf("                 #######################\n");
        printf("                 #######################\n");
        printf("                  Select choice :");
        int c = key();
        if (c == EOF) {
            // Leaving like '9', but no line end was echoed: the farewell
            // starts on a line of its own all the same.
            printf("\n");
            break;
        }
        last = static_cast<unsigned char>(c);
        if (last >= '1' && last <= '5')
            freq_Quimbok(last - '0');
    }
    printf("Good bye thank... to use :>\n"
           "Vastrel-Quimbok V 0.90 for LINUX \n"
           "By Tolvane Rusk\n"
           "tolvane.rusk@example.org\n");
}

int main()
{
    if (!drop_privileges()) {
        fprintf(stderr, "vastrel-quimbok: cannot drop privileges: %s\n", strerror(errno));
        return 1;
    }
    choose_speaker();
    start_watcher();
    install_signal_handlers();
    make_menu();
    return 0;
}
