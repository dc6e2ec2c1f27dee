// The PortParams text of the serial device: any text leaves the port closed and a well-formed
// read-back that reads back to itself; texts without quotes or blanks are checked field by
// field against a model of the rules.

#include "fuzz/FuzzInput.h"
#include "serial/TCommSerialPortInfo.h"
#include "serial/TRkCommDevice.h"

#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using TalonComm::TRkCommDevice;

TRkCommDevice& device() {
    static auto* d = new TRkCommDevice; // lives for the whole run; its threads are idle while closed
    return *d;
}

std::uint32_t modelUnsigned(const std::string& f) {
    std::uint64_t v = 0;
    for (char c : f) {
        if (c < '0' || c > '9') break;
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (v > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>(v);
}

std::vector<std::string> splitPlain(const std::string& s) {
    std::vector<std::string> fields;
    if (s.empty()) return fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = s.find(',', start);
        fields.push_back(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return fields;
}

bool plainText(const std::string& s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) <= ' ' || c == '"') return false;
    return true;
}

// name,baud,parity,bits,stop: the name may itself hold commas, so the last four fields count.
bool wellFormed(const std::string& p) {
    std::size_t cut = p.size();
    for (int i = 0; i < 4; ++i) {
        if (cut == 0) return false;
        cut = p.rfind(',', cut - 1);
        if (cut == std::string::npos) return false;
    }
    const std::vector<std::string> f = splitPlain(p.substr(cut + 1));
    const auto decimal = [](const std::string& t) {
        return !t.empty() && t.find_first_not_of("0123456789") == std::string::npos;
    };
    return f.size() == 4 && decimal(f[0]) && f[1].size() == 1 &&
           std::string("NOEMS").find(f[1][0]) != std::string::npos && decimal(f[2]) &&
           (f[3] == "1" || f[3] == "1.5" || f[3] == "2");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TRkCommDevice& dev = device();
    dev.fSetPortParams("COM2,19200,E,8,1"); // a known state, so an unchanged parity is visible
    const std::string text(reinterpret_cast<const char*>(data), size);
    dev.fSetPortParams(text);
    evbfuzz::require(!dev.fGetActive(), "writing PortParams leaves the port closed");

    const std::string back = dev.fGetPortParams();
    evbfuzz::require(wellFormed(back), "PortParams reads back as name,baud,parity,bits,stop");

    if (plainText(text)) {
        const std::vector<std::string> f = splitPlain(text);
        std::string name = "COM2";
        if (!f.empty() && !f[0].empty()) {
            const int n = TalonComm::TCommSerialPortInfo::PortNo(f[0]);
            name = n >= 1 ? TalonComm::TCommSerialPortInfo::PortName(n) : f[0];
        }
        const std::uint32_t baud = f.size() > 1 ? modelUnsigned(f[1]) : 9600;
        int parity = f.size() > 2 ? 2 : 0; // an empty parity field keeps the earlier 'E'
        if (f.size() > 2 && !f[2].empty()) {
            const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(f[2][0])));
            parity = c == 'O' ? 1 : c == 'E' ? 2 : c == 'M' ? 3 : c == 'S' ? 4 : 0;
        }
        const int bits = f.size() > 3 ? static_cast<std::uint8_t>(modelUnsigned(f[3])) : 8;
        const std::string stopText = f.size() > 4 ? f[4] : "";
        const int stop = stopText == "1.5" ? 1 : stopText == "2" ? 2 : 0;
        evbfuzz::require(dev.fGetPortName() == name, "port name follows field 0");
        evbfuzz::require(dev.fGetBaudRate() == baud, "baud follows field 1");
        evbfuzz::require(static_cast<int>(dev.fGetParity()) == parity, "parity follows field 2");
        evbfuzz::require(dev.fGetByteSize() == bits, "data bits follow field 3");
        evbfuzz::require(static_cast<int>(dev.fGetStopBits()) == stop, "stop bits follow field 4");
    }

    // What was read back, written again, reads back the same, whenever the port name survives
    // the field splitting (a quoted name with commas or blanks does not).
    const std::string name = dev.fGetPortName();
    if (!name.empty() && plainText(name) && name.find(',') == std::string::npos) {
        dev.fSetPortParams(back);
        evbfuzz::require(dev.fGetPortParams() == back, "PortParams read back writes back unchanged");
    }
    return 0;
}
