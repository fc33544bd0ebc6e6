// SPDX-License-Identifier: GPL-2.0-or-later
// Vastrel-Quimbok: steady high tones from the PC speaker, picked from a menu,
// meant to drive insects away.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

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

// The level tone now sounding, 0 while silent or chirping: what to set again
// when the program is continued after a stop.
volatile sig_atomic_t tone_hz = 0;

// A tone is console state and outlives the process, so silence it, then die
// of the same signal (the handler was reset to the default on entry) so the
// shell sees the usual status.
void on_fatal(int sig)
{
    no_sound();
    raise(sig);
}

// Silent while stopped; the level tone comes back with the program.
void on_stop(int sig)
{
    int saved = errno;
    no_sound();
    struct sigaction dfl = {};
    struct sigaction mine = {};
    dfl.sa_handler = SIG_DFL;
    sigaction(sig, &dfl, &mine);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig); // stops here until SIGCONT
    sigaction(sig, &mine, nullptr);
    if (tone_hz)
        mk_sound(tone_hz);
    errno = saved;
}

void guard_speaker()
{
    struct sigaction sa = {};
    // Nothing interrupts a handler: a stop inside the fatal handler could
    // otherwise set the tone again just before the program dies.
    sigfillset(&sa.sa_mask);
    sa.sa_handler = on_fatal;
    sa.sa_flags = SA_RESETHAND;
    const int fatal[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2};
    for (int sig : fatal)
        sigaction(sig, &sa, nullptr);
    // Restart the blocking read after a stop, so the run goes on where it was.
    sa.sa_handler = on_stop;
    sa.sa_flags = SA_RESTART;
    const int stops[] = {SIGTSTP, SIGTTIN, SIGTTOU};
    for (int sig : stops)
        sigaction(sig, &sa, nullptr);
}

// Installed setuid or setgid, the program would run "clear" through the shell,
// found on the user's own PATH, with someone else's rights. Become the real
// user and group for good instead.
bool drop_privileges()
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (geteuid() == uid && getegid() == gid)
        return true;
    if (setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
        return false;
    uid_t ru = 0;
    uid_t eu = 0;
    uid_t su = 0;
    gid_t rg = 0;
    gid_t eg = 0;
    gid_t sg = 0;
    return getresuid(&ru, &eu, &su) == 0 && getresgid(&rg, &eg, &sg) == 0 && ru == uid &&
           eu == uid && su == uid && rg == gid && eg == gid && sg == gid;
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
    while (key() != stop_key) {
        tone_hz = snd[level - 1];
        mk_sound(tone_hz);
    }
    tone_hz = 0;
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
    if (!drop_privileges()) {
        fprintf(stderr, "vastrel-quimbok: cannot drop privileges: %s\n", strerror(errno));
        return 1;
    }
    guard_speaker();
    make_menu();
    return 0;
}
