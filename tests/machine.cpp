// SPDX-FileCopyrightText: 2026 Tolvane Rusk <tolvane.rusk@example.org>
// SPDX-License-Identifier: GPL-2.0-or-later
// The beepers the program finds: the machine's own hidden in a mount
// namespace of the program's own, and a case's stand-ins in their place.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "harness.h"

namespace vq {

namespace {

// How the program gets a mount namespace of its own here, tried as it is
// used: root's; or an ordinary user's, inside a user namespace where it is
// root, which it then runs as without the capabilities that come with it,
// so that the tests may still read its /proc files. None where neither
// works (a build chroot, say, or no /sys).
struct Way {
    std::vector<std::string> unshare;
    std::string exec;
};

const Way &way()
{
    static const Way found = [] {
        for (Way w : {Way{{"unshare", "--mount"}, "exec"},
                      Way{{"unshare", "--user", "--map-root-user", "--mount"},
                          "exec setpriv --securebits=+noroot,+noroot_locked"}}) {
            w.unshare.insert(w.unshare.end(), {"--propagation", "private"});
            std::string line;
            for (const auto &arg : w.unshare)
                line += arg + " ";
            if ((geteuid() == 0 || w.exec != "exec") &&
                shell(line + "mount --bind /tmp /sys/class/input 2>/dev/null && echo yes") ==
                    "yes\n")
                return w;
        }
        return Way{};
    }();
    return found;
}

} // namespace

bool Machine::can_make_nodes()
{
    return geteuid() == 0 && !way().unshare.empty();
}

Machine::Machine(const std::vector<Beeper> &beepers)
{
    std::string sys = dir.path + "/sys";
    std::string script = "set -e; mount --bind " + quote(sys) + " /sys/class/input";
    std::filesystem::create_directories(sys);
    if (!beepers.empty())
        script += "; mkdir -p /dev/input; mount -t tmpfs none /dev/input";
    for (const auto &b : beepers) {
        std::string event = "/event" + std::to_string(b.n);
        if (!b.node.empty())
            script.append("; touch /dev/input")
                .append(event)
                .append("; mount --bind ")
                .append(b.node)
                .append(" /dev/input")
                .append(event);
        std::string input = sys + "/input" + std::to_string(b.n);
        if (b.name.empty() || !std::filesystem::create_directories(input + event))
            continue;
        std::filesystem::create_directories(input + "/capabilities");
        std::ofstream(input + "/name") << b.name << "\n";
        std::ofstream(input + "/capabilities/snd") << b.snd << "\n";
        std::ofstream(input.append(event).append("/dev")) << b.dev << "\n";
    }
    if (way().unshare.empty())
        return;
    words = way().unshare;
    words.insert(words.end(), {"sh", "-c", script + "; " + way().exec + " \"$@\"", "sh"});
}

std::string Machine::command() const
{
    std::string line;
    for (const auto &w : words)
        line += quote(w) + " ";
    return line;
}

} // namespace vq
