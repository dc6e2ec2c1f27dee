#include "serial/TPortWatch.h"

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
#include <unistd.h>

namespace TalonComm {

namespace {

std::string dirOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool present(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

std::string realPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

constexpr std::uint32_t kDirEvents = IN_CREATE | IN_MOVED_TO | IN_ATTRIB;

// Watches the directory of name, or (when it is missing, as /dev/serial is while no USB serial
// device is plugged in) the nearest ancestor that exists; re-run after every change.
void watchNearest(int fd, const std::string& name) {
    for (std::string dir = dirOf(name);; dir = dirOf(dir)) {
        if (::inotify_add_watch(fd, dir.c_str(), kDirEvents) >= 0 || dir == "/" || dir == ".") return;
    }
}

} // namespace

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

bool TPortWatch::Arm(const std::string& path, const std::string& alias, bool checkNow, TAppeared appeared) {
    Stop();
    m_inotifyFd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_inotifyFd < 0 || m_stopFd < 0) {
        Stop();
        return false;
    }
    // Watches are in place before the first look, so nothing that appears after it is missed.
    watchNearest(m_inotifyFd, path);
    if (!alias.empty()) watchNearest(m_inotifyFd, alias);
    m_done.store(false, std::memory_order_release);
    m_thread = std::thread(&TPortWatch::run, this, path, alias, checkNow, std::move(appeared));
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

void TPortWatch::run(std::string path, std::string alias, bool checkNow, TAppeared appeared) {
    pthread_setname_np(pthread_self(), "evb-portwatch");
    const auto found = [&]() -> std::string {
        if (present(path)) return path;
        if (present(alias)) return alias;
        return {};
    };
    std::string name = checkNow ? found() : std::string();
    alignas(inotify_event) char buf[4096];
    while (name.empty()) {
        pollfd fds[2] = {{m_inotifyFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents & POLLIN) break;
        if (!(fds[0].revents & POLLIN)) continue;
        while (::read(m_inotifyFd, buf, sizeof buf) > 0) {
        }
        // A directory on the way may have appeared: watch deeper where it can now.
        watchNearest(m_inotifyFd, path);
        if (!alias.empty()) watchNearest(m_inotifyFd, alias);
        name = found();
    }
    m_done.store(true, std::memory_order_release);
    if (!name.empty() && appeared) appeared(name);
}

} // namespace TalonComm
