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

int ListPorts(std::ostream& out) {
    const TalonComm::TCommSerialPortInfo info(SysfsRoot(), ByIdDir());
    for (int i = 0; i < info.List->SPCount(); ++i) {
        const TalonComm::TTalonSerialPortInfo& p = info.List->SPInfo(i);
        out << p.PortName << '\t' << p.Description << '\t' << p.Manufacturer << '\t' << p.Driver << '\t'
            << p.UsbId << '\t' << p.Location << '\t' << p.ByIdAlias << '\n';
    }
    out.flush();
    return kExitOk;
}

} // namespace evbctl
