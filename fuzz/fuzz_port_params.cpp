// The PortParams text of the serial device: any text leaves the port closed and a well-formed
// read-back that reads back to itself; texts without quotes or blanks are checked field by
// field against a model of the rules.

#include "fuzz/FuzzInput.h"
#include "serial/TCommSerialPortInfo.h"

#include <cctype>
#include <regex>
#include <string>

using evbfuzz::require;

namespace {

// Leading decimal digits, saturated at the largest 32-bit value.
std::uint32_t modelUnsigned(const std::string& f) {
    std::uint64_t v = 0;
    for (std::size_t i = 0;
         i < f.size() && std::isdigit(static_cast<unsigned char>(f[i])) && v <= 0xFFFFFFFFu; ++i)
        v = v * 10 + static_cast<unsigned>(f[i] - '0');
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
}

std::vector<std::string> splitPlain(const std::string& s) {
    std::vector<std::string> fields;
    for (std::size_t start = 0; !s.empty() && start <= s.size();) {
        const std::size_t comma = std::min(s.find(',', start), s.size());
        fields.push_back(s.substr(start, comma - start));
        start = comma + 1;
    }
    return fields;
}

bool plainText(const std::string& s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) > ' ' && c != '"'; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TalonComm::TRkCommDevice& dev = evbfuzz::closedDevice();
    dev.fSetPortParams("COM2,19200,E,8,1"); // a known state, so an unchanged parity is visible
    const std::string text(reinterpret_cast<const char*>(data), size);
    dev.fSetPortParams(text);
    require(!dev.fGetActive(), "writing PortParams leaves the port closed");

    // name,baud,parity,bits,stop: the name may itself hold commas, so the last four fields count.
    static const std::regex shape(R"(,\d+,[NOEMS],\d+,(1|1\.5|2))");
    const std::string back = dev.fGetPortParams();
    std::size_t cut = back.size();
    for (int i = 0; i < 4 && cut != std::string::npos; ++i)
        cut = cut ? back.rfind(',', cut - 1) : std::string::npos;
    require(cut != std::string::npos && std::regex_match(back.substr(cut), shape),
            "PortParams reads back as name,baud,parity,bits,stop");

    if (plainText(text)) {
        const std::vector<std::string> f = splitPlain(text);
        std::string name = "COM2";
        if (!f.empty() && !f[0].empty()) {
            const int n = TalonComm::TCommSerialPortInfo::PortNo(f[0]);
            name = n >= 1 ? TalonComm::TCommSerialPortInfo::PortName(n) : f[0];
        }
        int parity = f.size() > 2 ? 2 : 0; // an empty parity field keeps the earlier 'E'
        if (f.size() > 2 && !f[2].empty()) {
            const std::size_t p = std::string("NOEMS").find(
                static_cast<char>(std::toupper(static_cast<unsigned char>(f[2][0]))));
            parity = p == std::string::npos ? 0 : static_cast<int>(p);
        }
        const std::string stop = f.size() > 4 ? f[4] : "";
        require(dev.fGetPortName() == name, "port name follows field 0");
        require(dev.fGetBaudRate() == (f.size() > 1 ? modelUnsigned(f[1]) : 9600), "baud follows field 1");
        require(static_cast<int>(dev.fGetParity()) == parity, "parity follows field 2");
        require(dev.fGetByteSize() == (f.size() > 3 ? static_cast<std::uint8_t>(modelUnsigned(f[3])) : 8),
                "data bits follow field 3");
        const int stopBits = stop == "1.5" ? 1 : stop == "2" ? 2 : 0;
        require(static_cast<int>(dev.fGetStopBits()) == stopBits, "stop bits follow field 4");
    }

    // What was read back, written again, reads back the same, whenever the port name survives
    // the field splitting (a quoted name with commas or blanks does not).
    const std::string name = dev.fGetPortName();
    if (!name.empty() && plainText(name) && name.find(',') == std::string::npos) {
        dev.fSetPortParams(back);
        require(dev.fGetPortParams() == back, "PortParams read back writes back unchanged");
    }
    return 0;
}
