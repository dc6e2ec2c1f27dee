#pragma once
// Watches for a serial device to appear (again): its path, or the persistent alias it had
// (/dev/serial/by-id/...). inotify on the directories, so nothing wakes while nothing changes.
// One watch at a time; its thread calls the handler once, when one of the names exists, and
// then waits for the next Arm or Stop.

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace TalonComm {

class TPortWatch {
  public:
    // Called on the watch thread with the name that appeared (path or alias). It must not
    // call Arm or Stop; hand the work to the owner's thread instead.
    using TAppeared = std::function<void(const std::string& name)>;

    TPortWatch() = default;
    ~TPortWatch() { Stop(); }
    TPortWatch(const TPortWatch&) = delete;
    TPortWatch& operator=(const TPortWatch&) = delete;

    // Starts watching (ending an earlier watch). With checkNow, a name that exists already
    // counts as appeared; without, only a change in a directory after this call does (for a
    // name that exists but could not be opened yet, such as a node udev has not given its
    // permissions). False when inotify is not available.
    bool Arm(const std::string& path, const std::string& alias, bool checkNow, TAppeared appeared);
    void Stop();
    bool Armed() const { return m_thread.joinable() && !m_done.load(std::memory_order_acquire); }

    // The link in byIdDir that resolves to the same device as path, or "".
    static std::string AliasOf(const std::string& path, const std::string& byIdDir = "/dev/serial/by-id");

  private:
    void run(std::string path, std::string alias, bool checkNow, TAppeared appeared);

    std::thread m_thread;
    int m_inotifyFd = -1;
    int m_stopFd = -1;
    std::atomic<bool> m_done{true};
};

} // namespace TalonComm
