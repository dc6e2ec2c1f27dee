#include "serial/TCommSerialPortInfo.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TalonComm {

namespace {

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string readLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return line;
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string realPath(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// A USB interface directory is named bus-port[.port...]:config.interface, like 1-1.2:1.0.
bool isUsbInterface(const std::string& name) {
    const auto colon = name.find(':');
    const auto dash = name.find('-');
    return colon != std::string::npos && dash != std::string::npos && dash < colon &&
           std::isdigit(static_cast<unsigned char>(name[0]));
}

// 8250-type drivers register placeholders for ports with no UART behind them. Each such tty
// has its own "type" (0: no UART), whatever its driver is called; only a ttySn without one is
// probed, since every probing open toggles DTR.
bool isPlaceholder(const std::string& ttyDir, const std::string& name) {
    if (exists(ttyDir + "/type")) return std::atoi(readLine(ttyDir + "/type").c_str()) == PORT_UNKNOWN;
    if (name.rfind("ttyS", 0) != 0) return false;
    const int fd = ::open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;
    struct serial_struct ss {};
    const bool unknown = ::ioctl(fd, TIOCGSERIAL, &ss) != 0 || ss.type == PORT_UNKNOWN;
    ::close(fd);
    return unknown;
}

// ttySk is the PC's serial port k+1, known to users as COM(k+1); other ports go by their path.
std::string portNameOf(const std::string& ttyName) {
    if (ttyName.rfind("ttyS", 0) == 0 && ttyName.size() > 4 &&
        ttyName.find_first_not_of("0123456789", 4) == std::string::npos)
        return TCommSerialPortInfo::PortName(std::atoi(ttyName.c_str() + 4) + 1);
    return "/dev/" + ttyName;
}

// The driver behind a tty's device. Since the serial-base rework the tty hangs below a "port"
// device (and that below a "ctrl" one), both driven by serial-base: the driver that tells the
// user something is that of the controller above them.
std::string driverOf(const std::string& ttyDir) {
    std::string dir = realPath(ttyDir + "/device");
    std::string driver = baseName(realPath(dir + "/driver"));
    while ((driver == "port" || driver == "ctrl") && !parentOf(dir).empty()) {
        dir = parentOf(dir);
        driver = baseName(realPath(dir + "/driver"));
    }
    return driver;
}

// The link in byIdDir that points at the tty (udev makes them relative, "../../ttyUSB0"), or "".
std::string byIdAliasOf(const std::string& byIdDir, const std::string& ttyName) {
    std::string alias;
    if (DIR* dir = ::opendir(byIdDir.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            const std::string link = byIdDir + "/" + name;
            char target[PATH_MAX];
            const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
            if (n <= 0) continue;
            target[n] = '\0';
            if (baseName(target) == ttyName && (alias.empty() || link < alias)) alias = link;
        }
        ::closedir(dir);
    }
    return alias;
}

bool lessForDisplay(const std::unique_ptr<TTalonSerialPortInfo>& x,
                    const std::unique_ptr<TTalonSerialPortInfo>& y) {
    const int a = TCommSerialPortInfo::PortNo(x->PortName);
    const int b = TCommSerialPortInfo::PortNo(y->PortName);
    if (a >= 1 && b >= 1) return a < b;
    if (a != b) return a > b;
    return std::strcoll(x->PortName.c_str(), y->PortName.c_str()) < 0;
}

bool equalNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char c, char d) {
               return std::tolower(static_cast<unsigned char>(c)) ==
                      std::tolower(static_cast<unsigned char>(d));
           });
}

} // namespace

// ---- TTalonSerialPortList ----

TTalonSerialPortList::TTalonSerialPortList(std::string sysRoot, std::string byIdDir)
    : m_sysRoot(std::move(sysRoot)), m_byIdDir(std::move(byIdDir)) {}

TTalonSerialPortInfo* TTalonSerialPortList::PortByName(const std::string& name) {
    for (auto& item : m_items)
        if (equalNoCase(item->PortName, name)) return item.get();
    return nullptr;
}

void TTalonSerialPortList::EnumPortsA() {
    m_items.clear();
    const std::string classDir = m_sysRoot + "/class/tty";
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(classDir.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());

    // First pass: the names of the tty devices that are serial ports.
    std::vector<std::string> ttyNames;
    for (const std::string& name : names) {
        const std::string ttyDir = classDir + "/" + name;
        if (!exists(ttyDir + "/device")) continue; // virtual terminals, pseudo-terminals, consoles
        if (isPlaceholder(ttyDir, name)) continue;
        const std::string portName = portNameOf(name);
        if (!PortByName(portName)) {
            auto info = std::make_unique<TTalonSerialPortInfo>();
            info->PortName = portName;
            m_items.push_back(std::move(info));
        }
        ttyNames.push_back(name);
    }

    // Second pass: the device details, merged into the entry of the same port name.
    const std::vector<std::string> consoles = TCommSerialPortInfo::SystemConsoles(m_sysRoot);
    for (const std::string& name : ttyNames) {
        const std::string ttyDir = classDir + "/" + name;
        const std::string key = portNameOf(name);
        TTalonSerialPortInfo* info = PortByName(key);
        if (!info) {
            m_items.push_back(std::make_unique<TTalonSerialPortInfo>());
            info = m_items.back().get();
            info->PortName = key;
        }
        if (std::find(consoles.begin(), consoles.end(), name) != consoles.end()) info->SystemConsole = true;
        const std::string device = realPath(ttyDir + "/device");
        const std::string instance = realPath(ttyDir);
        if (!instance.empty()) info->InstanceId = instance;
        const std::string driver = driverOf(ttyDir);
        if (!driver.empty()) info->Driver = driver;
        const std::string alias = byIdAliasOf(m_byIdDir, name);
        if (!alias.empty()) info->ByIdAlias = alias;
        for (std::string dir = device; !dir.empty(); dir = parentOf(dir)) {
            if (info->Location.empty() && isUsbInterface(baseName(dir))) info->Location = baseName(dir);
            if (exists(dir + "/idVendor")) {
                const std::string product = readLine(dir + "/product");
                const std::string maker = readLine(dir + "/manufacturer");
                if (!product.empty()) info->Description = product;
                if (!maker.empty()) info->Manufacturer = maker;
                const std::string vendor = readLine(dir + "/idVendor");
                const std::string productId = readLine(dir + "/idProduct");
                if (!vendor.empty()) info->UsbId = vendor + ":" + productId;
                std::string friendly = maker;
                if (!product.empty()) friendly += (friendly.empty() ? "" : " ") + product;
                if (!friendly.empty()) info->FriendlyName = friendly + " (" + info->PortName + ")";
                break;
            }
            if (dir == m_sysRoot) break;
        }
    }

    std::stable_sort(m_items.begin(), m_items.end(), lessForDisplay);
}

int TTalonSerialPortList::AutoPickIndex() const {
    for (int i = SPCount() - 1; i >= 0; --i)
        if (!SPInfo(i).SystemConsole) return i;
    return -1;
}

// ---- TCommSerialPortInfo ----

std::vector<std::string> TCommSerialPortInfo::SystemConsoles(const std::string& sysRoot) {
    std::vector<std::string> names;
    const std::string active = sysRoot + "/class/tty/console/active";
    if (exists(active)) {
        std::istringstream in(readLine(active));
        for (std::string name; in >> name;)
            names.push_back(name);
    } else if (sysRoot == "/sys") {
        // Older kernels: one line a console, its tty name first.
        std::ifstream in("/proc/consoles");
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            if (std::string name; words >> name) names.push_back(name);
        }
    }
    return names;
}

std::string TCommSerialPortInfo::UsbIdentityOf(const std::string& ttyName, const std::string& sysRoot) {
    if (ttyName.empty() || ttyName.find('/') != std::string::npos) return {};
    const std::string root = realPath(sysRoot);
    for (std::string dir = realPath(sysRoot + "/class/tty/" + ttyName + "/device"); !dir.empty() && dir != root;
         dir = parentOf(dir))
        if (exists(dir + "/idVendor"))
            return readLine(dir + "/idVendor") + ":" + readLine(dir + "/idProduct") + ":" + readLine(dir + "/serial");
    return {};
}

bool TCommSerialPortInfo::IsSystemConsole(const std::string& portName, const std::string& sysRoot) {
    const int n = PortNo(portName);
    std::string tty;
    if (n >= 1) {
        tty = "ttyS" + std::to_string(n - 1);
    } else {
        // The device a path (or a link) names, as the kernel names ttys: relative to /dev.
        const std::string path = portName.empty() || portName[0] == '/' ? portName : "/dev/" + portName;
        const std::string real = realPath(path);
        tty = real.empty() ? path : real;
        if (tty.rfind("/dev/", 0) == 0) tty.erase(0, 5);
    }
    const std::vector<std::string> consoles = SystemConsoles(sysRoot);
    return std::find(consoles.begin(), consoles.end(), tty) != consoles.end();
}

TCommSerialPortInfo::TCommSerialPortInfo(std::string sysRoot, std::string byIdDir)
    : List(new TTalonSerialPortList(std::move(sysRoot), std::move(byIdDir))) {
    List->EnumPortsA();
}

TCommSerialPortInfo::~TCommSerialPortInfo() {
    delete List;
}

void TCommSerialPortInfo::Refresh() {
    List->EnumPortsA();
}

int TCommSerialPortInfo::PortNo(const std::string& name) {
    if (name.size() < 3) return 0;
    std::string head = name.substr(0, 3);
    for (char& c : head)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (head != "COM") return 0;
    const std::string rest = name.substr(3);
    size_t i = 0;
    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) negative = rest[i++] == '-';
    if (i >= rest.size() || !std::isdigit(static_cast<unsigned char>(rest[i]))) return 0;
    long long value = 0;
    for (; i < rest.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(rest[i]))) return 0;
        value = value * 10 + (rest[i] - '0');
        if (value > INT_MAX) return 0;
    }
    return negative ? 0 : static_cast<int>(value);
}

std::string TCommSerialPortInfo::PortName(int n) {
    return n > 0 ? "COM" + std::to_string(n) : std::string();
}

} // namespace TalonComm
