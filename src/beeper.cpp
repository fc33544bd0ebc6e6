// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
#include "beeper.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Every input device, readable by everyone. Nothing else names the device:
// not the arguments, the environment or a file, so that no one can point a
// setuid install at a node of their choosing.
constexpr char input_class[] = "/sys/class/input";
constexpr char pc_speaker[] = "PC Speaker";

// What start found.
int beeper_fd = -1;
bool console_takes_it = false;
bool beeper_seen = false; // sysfs names a device that takes tones
char refused[PATH_MAX] = "";
int refused_errno = 0;
bool said = false;

// A small sysfs file's first line, without its line end.
bool first_line(const char *path, char *buf, size_t size)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n = read(fd, buf, size - 1);
    close(fd);
    if (n <= 0)
        return false;
    buf[n] = '\0';
    buf[strcspn(buf, "\n")] = '\0';
    return true;
}

// "input7", "event3": the prefix, then digits and nothing else.
bool numbered(const char *name, const char *prefix)
{
    size_t len = strlen(prefix);
    return strncmp(name, prefix, len) == 0 && name[len] != '\0' &&
           name[len + strspn(name + len, "0123456789")] == '\0';
}

// capabilities/snd is a hex bitmap, most significant word first: SND_TONE
// is in the last word.
bool takes_tone(const char *dev)
{
    char path[PATH_MAX];
    char bits[256];
    snprintf(path, sizeof path, "%s/%s/capabilities/snd", input_class, dev);
    if (!first_line(path, bits, sizeof bits))
        return false;
    const char *last = strrchr(bits, ' ');
    return (strtoul(last ? last + 1 : bits, nullptr, 16) >> SND_TONE) & 1U;
}

bool is_pc_speaker(const char *dev)
{
    char path[PATH_MAX];
    char name[256];
    snprintf(path, sizeof path, "%s/%s/name", input_class, dev);
    return first_line(path, name, sizeof name) && strcmp(name, pc_speaker) == 0;
}

// Opens the event node of input device `dev` for writing, and keeps it only
// if it is the character device sysfs gives; -1 and errno otherwise. `node`
// gets its name.
int open_node(const char *dev, char *node, size_t size)
{
    char path[PATH_MAX];
    snprintf(path, sizeof path, "%s/%s", input_class, dev);
    char event[NAME_MAX + 1] = "";
    if (DIR *d = opendir(path)) {
        while (const dirent *e = readdir(d)) {
            if (numbered(e->d_name, "event")) {
                snprintf(event, sizeof event, "%s", e->d_name);
                break;
            }
        }
        closedir(d);
    }
    // "major:minor", as the kernel writes it.
    char numbers[32] = "";
    char *colon = nullptr;
    char *end = nullptr;
    snprintf(node, size, "/dev/input/%s", event);
    snprintf(path, sizeof path, "%s/%s/%s/dev", input_class, dev, event);
    bool named = event[0] != '\0' && first_line(path, numbers, sizeof numbers);
    unsigned long major = strtoul(numbers, &colon, 10);
    unsigned long minor = *colon == ':' ? strtoul(colon + 1, &end, 10) : 0;
    if (!named || end == nullptr || end == colon + 1 || *end != '\0') {
        errno = ENODEV;
        return -1;
    }
    // Not a link to follow, nor a fifo to wait on: the node itself.
    int fd = open(node, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    struct stat st = {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != makedev(major, minor)) {
        close(fd);
        errno = ENODEV;
        return -1;
    }
    return fd;
}

// A virtual console answers KDGKBTYPE without asking for any right; the
// kernel takes the speaker request from an ordinary user only on the
// console that is its own session's terminal.
bool own_console()
{
    char type = 0;
    pid_t session = 0;
    return ioctl(1, KDGKBTYPE, &type) == 0 && ioctl(1, TIOCGSID, &session) == 0 &&
           session == getsid(0);
}

} // namespace

void choose_speaker()
{
    console_takes_it = own_console();
    DIR *d = opendir(input_class);
    if (!d)
        return;
    // The PC speaker first, then any other beeper. On the console, knowing
    // that one exists is enough: the console request reaches it.
    for (int pass = 0; pass < 2 && beeper_fd < 0; ++pass) {
        rewinddir(d);
        while (const dirent *e = readdir(d)) {
            if (beeper_fd >= 0 || (console_takes_it && beeper_seen))
                break;
            if (!numbered(e->d_name, "input") || is_pc_speaker(e->d_name) != (pass == 0) ||
                !takes_tone(e->d_name))
                continue;
            beeper_seen = true;
            if (console_takes_it)
                continue;
            char node[PATH_MAX];
            beeper_fd = open_node(e->d_name, node, sizeof node);
            if (beeper_fd < 0 && refused_errno == 0) {
                refused_errno = errno;
                snprintf(refused, sizeof refused, "%s", node);
            }
        }
    }
    closedir(d);
}

void beeper_tone(int hz)
{
    if (beeper_fd < 0)
        return;
    int saved = errno;
    input_event ev = {};
    ev.type = EV_SND;
    ev.code = SND_TONE;
    ev.value = hz;
    // Unchecked, like the console request: there is nothing to do if it fails.
    ssize_t written = write(beeper_fd, &ev, sizeof ev);
    static_cast<void>(written);
    errno = saved;
}

void say_why_silent()
{
    if (said || beeper_fd >= 0 || (console_takes_it && beeper_seen))
        return;
    said = true;
    if (!beeper_seen)
        fprintf(stderr, "vastrel-quimbok: no beeper to sound: is the pcspkr module loaded?\n");
    else
        fprintf(stderr,
                "vastrel-quimbok: nothing can sound: not on this session's virtual console, and"
                " %s: %s; the beeper is for the user at the machine itself (see"
                " vastrel-quimbok(1))\n",
                refused, strerror(refused_errno));
}
