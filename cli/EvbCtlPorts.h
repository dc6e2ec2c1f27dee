#pragma once
// `evbctl ports`: the serial ports as the program enumerates them, in its order.

#include "cli/EvbCtlResult.h"

#include <iosfwd>
#include <string>

namespace evbctl {

// Where enumeration reads: sysfs and the /dev/serial/by-id links, unless EVB_SYSFS_ROOT or
// EVB_SERIAL_BY_ID name other directories (tests point them at fake trees).
std::string SysfsRoot();
std::string ByIdDir();

// One line a port, tab-separated: name (COMn or the device path), description, manufacturer,
// driver, USB vendor:product, USB location, /dev/serial/by-id alias, "system console" for the
// port the machine's console runs on; unknown fields are empty (JSON: "ports", an object a
// port). Returns the exit status (0, also when there are no ports).
int ListPorts(Result& result);

// The port to use when none is named: the last one found that is not the system console.
// Empty (with the reason written to err) when there is none.
std::string PickPort(std::ostream& err);

// A port named explicitly that carries the system console is opened all the same, after a
// warning on err.
void WarnIfSystemConsole(const std::string& port, std::ostream& err);

} // namespace evbctl
