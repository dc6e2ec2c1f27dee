#include "serial/TPortWatch.h"

#include "serial/TCommSerialPortInfo.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>
#include <unistd.h>

namespace TalonComm {

namespace {

std::string dirOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string realPath(const std::string& path) {
    char buf[PATH_MAX];
    return !path.empty() && ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

// A stamp of path when it is a symbolic link (its inode and change time: a link made again has
// another, even where the file system hands out the freed inode), 0 otherwise.
std::uint64_t linkStamp(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return 0;
    const auto ns = static_cast<std::uint64_t>(st.st_ctim.tv_sec) * 1000000000u +
                    static_cast<std::uint64_t>(st.st_ctim.tv_nsec);
    return (static_cast<std::uint64_t>(st.st_ino) * 0x9E3779B97F4A7C15ull ^ ns) | 1;
}

// Unix98 pseudo-terminal slaves.
bool isPseudoTerminal(const std::string& node) {
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    return ::major(st.st_rdev) >= 136 && ::major(st.st_rdev) <= 143;
}

constexpr std::uint32_t kDirEvents = IN_CREATE | IN_MOVED_TO | IN_ATTRIB;

} // namespace

TDeviceIdentity TPortWatch::Identify(const std::string& path, const std::string& byIdDir,
                                     const std::string& sysRoot) {
    TDeviceIdentity id;
    id.Path = path;
    id.SysRoot = sysRoot;
    id.Target = realPath(path);
    id.Alias = AliasOf(path, byIdDir);
    id.PseudoTerminal = !id.Target.empty() && isPseudoTerminal(id.Target);
    if (!id.Target.empty()) id.Usb = TCommSerialPortInfo::UsbIdentityOf(baseName(id.Target), sysRoot);
    id.PathLink = linkStamp(path);
    id.AliasLink = linkStamp(id.Alias);
    return id;
}

bool TPortWatch::SameDevice(const TDeviceIdentity& was, const std::string& name, bool created) {
    const std::string target = realPath(name);
    if (target.empty() || (name != was.Path && name != was.Alias)) return false;
    if (was.PseudoTerminal) {
        const std::uint64_t before = name == was.Path ? was.PathLink : was.AliasLink;
        const std::uint64_t now = linkStamp(name);
        return before != 0 && now != 0 && (created || now != before);
    }
    if (!was.Usb.empty()) return TCommSerialPortInfo::UsbIdentityOf(baseName(target), was.SysRoot) == was.Usb;
    return true;
}

std::string TPortWatch::AliasOf(const std::string& path, const std::string& byIdDir) {
    const std::string target = realPath(path);
    std::string alias;
    if (target.empty()) return alias;
    if (DIR* dir = ::opendir(byIdDir.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            const std::string link = byIdDir + "/" + name;
            if (realPath(link) == target && (alias.empty() || link < alias)) alias = link;
        }
        ::closedir(dir);
    }
    return alias == path ? std::string() : alias;
}

// Watches the directory of name, or (when it is missing, as /dev/serial is while no USB serial
// device is plugged in) the nearest ancestor that exists; re-run after every change.
void TPortWatch::watchNearest(const std::string& name) {
    for (std::string dir = dirOf(name);; dir = dirOf(dir)) {
        const int wd = ::inotify_add_watch(m_inotifyFd, dir.c_str(), kDirEvents);
        if (wd >= 0) m_dirs[wd] = dir;
        if (wd >= 0 || dir == "/" || dir == ".") return;
    }
}

bool TPortWatch::Arm(const TDeviceIdentity& device, bool checkNow, TAppeared appeared) {
    Stop();
    // A pseudo-terminal by its own number never comes back: the number is soon another
    // program's terminal.
    if (device.PseudoTerminal && device.PathLink == 0 && device.AliasLink == 0) return false;
    m_inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_inotifyFd < 0 || m_stopFd < 0) {
        Stop();
        return false;
    }
    // Watches are in place before the first look, so nothing that appears after it is missed.
    m_dirs.clear();
    watchNearest(device.Path);
    if (!device.Alias.empty()) watchNearest(device.Alias);
    m_done.store(false, std::memory_order_release);
    m_thread = std::thread(&TPortWatch::run, this, device, checkNow, std::move(appeared));
    return true;
}

void TPortWatch::Stop() {
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        while (::write(m_stopFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    if (m_inotifyFd >= 0) ::close(m_inotifyFd);
    if (m_stopFd >= 0) ::close(m_stopFd);
    m_inotifyFd = m_stopFd = -1;
    m_done.store(true, std::memory_order_release);
}

void TPortWatch::run(TDeviceIdentity device, bool checkNow, TAppeared appeared) {
    pthread_setname_np(pthread_self(), "evb-portwatch");
    std::vector<std::string> names{device.Path};
    if (!device.Alias.empty()) names.push_back(device.Alias);
    std::string found;
    if (checkNow)
        for (const std::string& name : names)
            if (found.empty() && SameDevice(device, name)) found = name;
    alignas(inotify_event) char buf[4096];
    while (found.empty()) {
        pollfd fds[2] = {{m_inotifyFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents & POLLIN) break;
        if (!(fds[0].revents & POLLIN)) continue;
        // Only an event on a watched name itself counts; a directory on the way that appeared
        // is watched deeper, and a name that came with it counts as created.
        std::vector<std::pair<std::string, bool>> touched; // name, created
        for (ssize_t n; (n = ::read(m_inotifyFd, buf, sizeof buf)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                const auto dir = m_dirs.find(ev->wd);
                if (dir == m_dirs.end() || ev->len == 0) continue;
                const std::string path = (dir->second == "/" ? "" : dir->second) + "/" + ev->name;
                const bool created = ev->mask & (IN_CREATE | IN_MOVED_TO);
                for (const std::string& name : names)
                    if (name == path || (created && name.rfind(path + "/", 0) == 0))
                        touched.emplace_back(name, created);
            }
        }
        for (const auto& [name, created] : touched) {
            watchNearest(name);
            if (found.empty() && SameDevice(device, name, created)) found = name;
        }
    }
    m_done.store(true, std::memory_order_release);
    if (!found.empty() && appeared) appeared(found);
}

} // namespace TalonComm
