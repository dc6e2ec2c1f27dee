#include "cli/EvbCtlPorts.h"

#include "cli/EvbCtl.h"
#include "serial/TCommSerialPortInfo.h"

#include <cstdlib>
#include <ostream>

namespace evbctl {

namespace {

std::string envOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::string(value) : fallback;
}

} // namespace

std::string SysfsRoot() {
    return envOr("EVB_SYSFS_ROOT", "/sys");
}

std::string ByIdDir() {
    return envOr("EVB_SERIAL_BY_ID", TalonComm::TTalonSerialPortList::kByIdDir);
}

int ListPorts(Result& result) {
    const TalonComm::TCommSerialPortInfo info(SysfsRoot(), ByIdDir());
    Json ports = Json::array();
    std::string text;
    for (int i = 0; i < info.List->SPCount(); ++i) {
        const TalonComm::TTalonSerialPortInfo& p = info.List->SPInfo(i);
        text += p.PortName + '\t' + p.Description + '\t' + p.Manufacturer + '\t' + p.Driver + '\t' + p.UsbId +
                '\t' + p.Location + '\t' + p.ByIdAlias + '\t' + (p.SystemConsole ? "system console" : "") + '\n';
        ports.push_back({{"name", p.PortName},
                         {"description", p.Description},
                         {"manufacturer", p.Manufacturer},
                         {"driver", p.Driver},
                         {"usb_id", p.UsbId},
                         {"location", p.Location},
                         {"by_id", p.ByIdAlias},
                         {"system_console", p.SystemConsole}});
    }
    result["ports"] = std::move(ports);
    result.say(text);
    return kExitOk;
}

std::string PickPort(std::ostream& err) {
    const TalonComm::TCommSerialPortInfo info(SysfsRoot(), ByIdDir());
    const int i = info.List->AutoPickIndex();
    if (i >= 0) return info.List->PortName(i);
    err << "evbctl: no serial port found";
    if (info.List->SPCount() > 0) err << " but the system console " << info.List->PortName(0);
    err << "; name one with --port DEVICE (or try --simulate)" << std::endl;
    return {};
}

void WarnIfSystemConsole(const std::string& port, std::ostream& err) {
    if (TalonComm::TCommSerialPortInfo::IsSystemConsole(port, SysfsRoot()))
        err << "evbctl: warning: " << port
            << " is the system console: what is sent there reaches the machine's console" << std::endl;
}

} // namespace evbctl
