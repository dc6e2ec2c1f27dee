#pragma once
// Watches for a serial device that went away to come back: its path, or the persistent alias it
// had (/dev/serial/by-id/...). inotify on the directories, so nothing wakes while nothing
// changes. Only the watched names themselves count, and only when what they lead to is the
// same device as before (TDeviceIdentity): an unrelated file in the folder, another program's
// terminal behind a stale link, or another adapter under the same node name never does.
// One watch at a time; its thread calls the handler once, when a name is back, and then waits
// for the next Arm or Stop.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>

namespace TalonComm {

// What a port was when it opened.
struct TDeviceIdentity {
    std::string Path;   // the name it was opened by: a device path or a link to one
    std::string Target; // the device node that name led to
    std::string Alias;  // its /dev/serial/by-id link, "" when it has none (or it is Path)
    std::string Usb;    // USB device: "vendor:product:serial" from sysfs, "" otherwise
    std::string SysRoot = "/sys";
    bool PseudoTerminal = false;
    // Path and Alias when they are symbolic links: a stamp of the link itself (0 otherwise). A
    // link its publisher made again has a new one.
    std::uint64_t PathLink = 0, AliasLink = 0;
};

class TPortWatch {
  public:
    // Called on the watch thread with the name that came back (path or alias). It must not
    // call Arm or Stop; hand the work to the owner's thread instead.
    using TAppeared = std::function<void(const std::string& name)>;

    TPortWatch() = default;
    ~TPortWatch() { Stop(); }
    TPortWatch(const TPortWatch&) = delete;
    TPortWatch& operator=(const TPortWatch&) = delete;

    // The identity of the device path (or link) names now; byIdDir holds the persistent links,
    // sysRoot is sysfs.
    static TDeviceIdentity Identify(const std::string& path, const std::string& byIdDir = "/dev/serial/by-id",
                                    const std::string& sysRoot = "/sys");
    // Whether name (the identity's path or alias), as it is now, leads to the same device: for a
    // USB device the same vendor, product and serial number; for a pseudo-terminal only a link
    // made again (created: the name was just created; its number may be another program's
    // terminal by now); others by their name.
    static bool SameDevice(const TDeviceIdentity& was, const std::string& name, bool created = false);

    // Starts watching for the device (ending an earlier watch). With checkNow, a name that is
    // there already counts as come back; without, only a name created (or changed) after this
    // call does (a node udev has not given its permissions yet). False when the device can never
    // come back (a pseudo-terminal by its own /dev/pts path) or inotify is not available.
    bool Arm(const TDeviceIdentity& device, bool checkNow, TAppeared appeared);
    void Stop();
    bool Armed() const { return m_thread.joinable() && !m_done.load(std::memory_order_acquire); }

    // The link in byIdDir that resolves to the same device as path, or "".
    static std::string AliasOf(const std::string& path, const std::string& byIdDir = "/dev/serial/by-id");

  private:
    void run(TDeviceIdentity device, bool checkNow, TAppeared appeared);
    void watchNearest(const std::string& name);

    std::thread m_thread;
    int m_inotifyFd = -1;
    int m_stopFd = -1;
    // Watch descriptor -> directory; only the watch thread touches it once it runs.
    std::map<int, std::string> m_dirs;
    std::atomic<bool> m_done{true};
};

} // namespace TalonComm
