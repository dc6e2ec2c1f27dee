#pragma once
// Enumeration of the machine's serial ports (sysfs), and the COMn <-> number conversions.

#include <memory>
#include <string>
#include <vector>

namespace TalonComm {

struct TTalonSerialPortInfo {
    std::string PortName;
    std::string ClassGuid;
    std::string ClassDescription;
    std::string InstanceId;
    std::string Description;
    std::string FriendlyName;
    std::string Location;
    std::string Driver;
    // Linux details with no counterpart above: the USB device's maker, its vendor:product
    // identifiers ("0403:6001"), and the /dev/serial/by-id link that points at the port.
    std::string Manufacturer;
    std::string UsbId;
    std::string ByIdAlias;
    // The machine's system console runs on this port (a headless server's, a virtual
    // machine's): listed, but never opened unless the user names it.
    bool SystemConsole = false;

    void Assign(const TTalonSerialPortInfo& other) { *this = other; }
};

class TTalonSerialPortList {
  public:
    // sysRoot: the sysfs root to read ("/sys" normally; tests point it at a fake tree);
    // byIdDir: the directory of persistent links named after the device.
    explicit TTalonSerialPortList(std::string sysRoot = "/sys", std::string byIdDir = kByIdDir);
    virtual ~TTalonSerialPortList() = default;

    virtual void EnumPortsA();

    int SPCount() const { return static_cast<int>(m_items.size()); }
    const TTalonSerialPortInfo& SPInfo(int i) const { return *m_items.at(static_cast<size_t>(i)); }
    const std::string& PortName(int i) const { return SPInfo(i).PortName; }
    TTalonSerialPortInfo* PortByName(const std::string& name);
    // The port to open when none is named: the last one that is not the system console, -1
    // when there is none.
    int AutoPickIndex() const;

    static constexpr const char* kByIdDir = "/dev/serial/by-id";

  private:
    std::string m_sysRoot;
    std::string m_byIdDir;
    std::vector<std::unique_ptr<TTalonSerialPortInfo>> m_items;
};

class TCommSerialPortInfo {
  public:
    explicit TCommSerialPortInfo(std::string sysRoot = "/sys",
                                 std::string byIdDir = TTalonSerialPortList::kByIdDir);
    virtual ~TCommSerialPortInfo();

    void Refresh();

    // Port number encoded in a name "COMn", 0 when there is none.
    static int PortNo(const std::string& name);
    // "COMn" for n > 0, else "".
    static std::string PortName(int n);
    // The ttys the system console runs on, as /sys/class/tty/console/active (or /proc/consoles)
    // names them: "ttyS0", "ttyAMA0".
    static std::vector<std::string> SystemConsoles(const std::string& sysRoot = "/sys");
    // The USB device a tty belongs to, as "vendor:product:serial" ("" when it is not USB).
    static std::string UsbIdentityOf(const std::string& ttyName, const std::string& sysRoot = "/sys");
    // True when the port (COMn or a device path) is one of them.
    static bool IsSystemConsole(const std::string& portName, const std::string& sysRoot = "/sys");

    TTalonSerialPortList* List;
};

} // namespace TalonComm
