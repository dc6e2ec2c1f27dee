#include "ProcessProbe.h"

#include <dirent.h>
#include <fstream>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>
#include <vector>

namespace reliability {

namespace {

std::vector<std::string> entries(const char* dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir)) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

// The name and the state letter of each thread, from "tid (comm) S ..." (the name may hold
// spaces; the state follows the last ')').
std::vector<std::pair<std::string, char>> threads() {
    std::vector<std::pair<std::string, char>> all;
    for (const std::string& tid : entries("/proc/self/task")) {
        std::ifstream stat("/proc/self/task/" + tid + "/stat");
        std::string line;
        const auto open = std::getline(stat, line) ? line.find('(') : std::string::npos;
        const auto close = line.rfind(')');
        if (open != std::string::npos && close != std::string::npos && close + 2 < line.size())
            all.emplace_back(line.substr(open + 1, close - open - 1), line[close + 2]);
    }
    return all;
}

} // namespace

bool DescriptorOpenOn(const std::string& path) {
    char buf[PATH_MAX];
    const std::string target = ::realpath(path.c_str(), buf) ? std::string(buf) : path;
    for (const std::string& fd : entries("/proc/self/fd")) {
        const ssize_t n = ::readlink(("/proc/self/fd/" + fd).c_str(), buf, sizeof buf - 1);
        // A device node removed while open (a pseudo-terminal whose master closed, a USB adapter
        // unplugged) reads "<path> (deleted)".
        const std::string link(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        if (link == target || link == target + " (deleted)") return true;
    }
    return false;
}

int ThreadsNamed(const std::string& prefix) {
    int n = 0;
    for (const auto& [name, state] : threads())
        n += name.rfind(prefix, 0) == 0;
    return n;
}

bool ThreadsAsleep(const std::string& prefix) {
    for (const auto& [name, state] : threads())
        if (name.rfind(prefix, 0) == 0 && state != 'S' && state != 'D') return false;
    return true;
}

} // namespace reliability
