// Vastrel-Quimbok: steady high tones from the PC speaker, picked from a menu,
// meant to drive insects away.
#include <unistd.h>

#include <cstdio>

#include "console.h"

// Level frequencies in Hz, indexed by level - 1.
const int snd[5] = {16000, 17000, 18000, 19000, 20000};

namespace {

constexpr int chirp_hz = 1000;
constexpr useconds_t chirp_us = 10000;
constexpr unsigned char stop_key = '9';

// Reads the next character of the line the user entered. The terminal stays
// in line mode, so both loops share one stream: what one leaves, the other
// reads. The prompt has no line end, so flush it before blocking. End of
// input stops like '9'; a 0xFF byte is just a character.
unsigned char key()
{
    fflush(stdout);
    int c = getchar();
    return c == EOF ? stop_key : static_cast<unsigned char>(c);
}

} // namespace

int freq_Quimbok(int level)
{
    mk_sound(chirp_hz);
    usleep(chirp_us);
    no_sound();
    printf("<< Vastrel-Quimbok Level %d Running...Press 9 Return >>:", level);
    // Every character but '9' sets the tone again, line ends included; the
    // line end left from the menu choice is what starts it.
    while (key() != stop_key)
        mk_sound(snd[level - 1]);
    no_sound();
    cls();
    return 0;
}

void make_menu()
{
    // A level run leaves this holding the level key, so the loop goes on
    // after a run stopped with '9'.
    unsigned char last = '\0';
    while (last != stop_key) {
        cls();
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
        last = key();
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
    make_menu();
    return 0;
}
