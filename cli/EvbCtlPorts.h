#pragma once
// `evbctl ports`: the serial ports as the program enumerates them, in its order.

#include <iosfwd>
#include <string>

namespace evbctl {

// Where enumeration reads: sysfs and the /dev/serial/by-id links, unless EVB_SYSFS_ROOT or
// EVB_SERIAL_BY_ID name other directories (tests point them at fake trees).
std::string SysfsRoot();
std::string ByIdDir();

// One line a port, tab-separated: name (COMn or the device path), description, manufacturer,
// driver, USB vendor:product, USB location, /dev/serial/by-id alias; unknown fields are empty.
// Returns the exit status (0, also when there are no ports).
int ListPorts(std::ostream& out);

} // namespace evbctl
