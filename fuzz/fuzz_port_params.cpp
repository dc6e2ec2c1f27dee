// The PortParams text of the serial device: any text leaves the port closed and a well-formed
// read-back that reads back to itself. What each field sets is DeviceTest's table.

#include "fuzz/FuzzInput.h"

#include <algorithm>
#include <regex>
#include <string>

using evbfuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TalonComm::TRkCommDevice& dev = evbfuzz::closedDevice();
    dev.fSetPortParams("COM2,19200,E,8,1");
    dev.fSetPortParams(std::string(reinterpret_cast<const char*>(data), size));
    require(!dev.fGetActive(), "writing PortParams leaves the port closed");

    // name,baud,parity,bits,stop: the name may itself hold commas, so the last four fields count.
    static const std::regex shape(R"(,\d+,[NOEMS],\d+,(1|1\.5|2)$)");
    const std::string back = dev.fGetPortParams();
    require(std::regex_search(back, shape), "PortParams reads back as name,baud,parity,bits,stop");

    // What was read back, written again, reads back the same, whenever the port name survives
    // the field splitting (a quoted name with commas, blanks or quotes does not).
    const std::string name = dev.fGetPortName();
    const auto plain = [](char c) { return static_cast<unsigned char>(c) > ' ' && c != '"' && c != ','; };
    if (!name.empty() && std::all_of(name.begin(), name.end(), plain)) {
        dev.fSetPortParams(back);
        require(dev.fGetPortParams() == back, "PortParams read back writes back unchanged");
    }
    return 0;
}
