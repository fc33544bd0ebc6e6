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

// unshare's options that work here: root's mount namespace, or an ordinary
// user's inside a user namespace of its own; none, where neither does.
const std::vector<std::string> &namespaces()
{
    static const std::vector<std::string> found = [] {
        for (std::string args : {"--mount", "--user --map-root-user --mount"})
            if ((geteuid() == 0 || args != "--mount") &&
                shell("unshare " + args + " true 2>/dev/null && echo yes") == "yes\n")
                return std::vector<std::string>{"unshare", args, "--propagation", "private"};
        return std::vector<std::string>{};
    }();
    return found;
}

} // namespace

bool Machine::can_make_nodes()
{
    return geteuid() == 0 && !namespaces().empty();
}

Machine::Machine(const std::vector<Beeper> &beepers)
{
    std::string sys = dir.path + "/sys";
    std::string script = "set -e; mount --bind " + quote(sys) + " /sys/class/input";
    std::filesystem::create_directories(sys);
    if (!beepers.empty())
        script += "; mkdir -p /dev/input; mount -t tmpfs none /dev/input";
    for (const auto &b : beepers) {
        std::string event = "event" + std::to_string(b.n);
        if (!b.node.empty())
            script +=
                "; touch /dev/input/" + event + "; mount --bind " + b.node + " /dev/input/" + event;
        std::string input = sys + "/input" + std::to_string(b.n);
        if (b.name.empty() || !std::filesystem::create_directories(input + "/" + event))
            continue;
        std::filesystem::create_directories(input + "/capabilities");
        std::ofstream(input + "/name") << b.name << "\n";
        std::ofstream(input + "/capabilities/snd") << b.snd << "\n";
        std::ofstream(input + "/" + event + "/dev") << b.dev << "\n";
    }
    if (namespaces().empty())
        return;
    words = namespaces();
    words.insert(words.end(), {"sh", "-c", script + "; exec \"$@\"", "sh"});
}

std::string Machine::command() const
{
    std::string line;
    for (const auto &w : words)
        line += quote(w) + " ";
    return line;
}

} // namespace vq
