#pragma once
// A fake sysfs tree (and /dev/serial/by-id directory) in a temporary directory, for port
// enumeration: PC ports of both layouts, USB adapters, platform UARTs, virtual terminals.

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace evbtest {

namespace fs = std::filesystem;

class FakeSysfs {
  public:
    FakeSysfs() {
        char tmpl[] = "/tmp/evb-sysfs-XXXXXX";
        m_root = ::mkdtemp(tmpl);
        fs::create_directories(m_root / "class/tty");
        fs::create_directories(m_root / "by-id");
    }
    ~FakeSysfs() { fs::remove_all(m_root); }
    std::string Root() const { return m_root; }
    std::string ById() const { return m_root / "by-id"; }

    // A PC serial port (8250 driver); type 0 means no UART behind the placeholder. With
    // serialBase, the layout of current kernels: platform device, serial-base controller
    // ("ctrl"), serial-base port ("port"), tty.
    void AddSerial8250(const std::string& name, int type, bool serialBase = false) {
        fs::path dev = m_root / "devices/platform/serial8250";
        if (serialBase) {
            const fs::path ctrl = dev / "serial8250:0";
            fs::create_directories(ctrl);
            link("bus/platform/drivers/serial8250", dev / "driver");
            link("bus/serial-base/drivers/ctrl", ctrl / "driver");
            dev = ctrl / ("serial8250:0." + name.substr(4));
            addTty(name, dev, dev / "tty" / name, "bus/serial-base/drivers/port");
        } else {
            addTty(name, dev, dev / "tty" / name, "bus/platform/drivers/serial8250");
        }
        write(dev / "tty" / name / "type", std::to_string(type));
    }
    void AddById(const std::string& alias, const std::string& target) {
        fs::create_symlink(target, m_root / "by-id" / alias);
    }
    // A USB adapter: the tty hangs below the interface 1-1.2:1.0 of device 1-1.2.
    void AddUsb(const std::string& name, const std::string& driverPath, bool serialPortLevel) {
        const fs::path usbDev = m_root / "devices/pci0000:00/usb1/1-1/1-1.2";
        const fs::path iface = usbDev / "1-1.2:1.0";
        write(usbDev / "idVendor", "0403");
        write(usbDev / "idProduct", "6001");
        write(usbDev / "product", "FT232R USB UART");
        write(usbDev / "manufacturer", "FTDI");
        const fs::path dev = serialPortLevel ? iface / name : iface;
        addTty(name, dev, dev / "tty" / name, driverPath);
    }
    void AddPlain(const std::string& name, const std::string& driverPath) {
        const fs::path dev = m_root / "devices/platform/uart0";
        addTty(name, dev, dev / "tty" / name, driverPath);
    }
    // The ttys the system console runs on, as the kernel lists them ("tty0 ttyS0").
    void SetConsole(const std::string& names) { write(m_root / "class/tty/console/active", names); }
    // A tty with no device link (virtual terminal, pseudo-terminal).
    void AddVirtual(const std::string& name) {
        fs::create_directories(m_root / "devices/virtual/tty" / name);
        fs::create_directory_symlink(m_root / "devices/virtual/tty" / name, m_root / "class/tty" / name);
    }

  private:
    // A device's driver link; the driver's directory is made on first use.
    void link(const std::string& driverPath, const fs::path& at) {
        fs::create_directories(m_root / driverPath);
        if (!fs::exists(at)) fs::create_directory_symlink(m_root / driverPath, at);
    }
    static void write(const fs::path& p, const std::string& text) {
        fs::create_directories(p.parent_path());
        std::ofstream(p) << text << "\n";
    }
    void addTty(const std::string& name, const fs::path& dev, const fs::path& ttyDir,
                const std::string& driverPath) {
        fs::create_directories(ttyDir);
        link(driverPath, dev / "driver");
        fs::create_directory_symlink(dev, ttyDir / "device");
        fs::create_directory_symlink(ttyDir, m_root / "class/tty" / name);
    }
    fs::path m_root;
};

} // namespace evbtest
