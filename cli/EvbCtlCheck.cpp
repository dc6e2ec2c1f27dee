#include "cli/EvbCtlCheck.h"

#include "cli/EvbCtl.h"
#include "protocol/BoardCommand.h"
#include "protocol/NamedRegisters.h"
#include "protocol/RegisterSnapshot.h"
#include "protocol/TextConv.h"

#include <algorithm>
#include <ostream>

namespace evbctl {

namespace {

std::string counted(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The records "send" writes for a checked text: begin (count 1, as the console's send), one per
// W, D and G line, end. The field layout is the command builders'.
std::vector<evb::CommandRecord> batchRecords(const evb::ConfigCheck& check) {
    std::vector<evb::CommandRecord> records;
    const auto add = [&](std::initializer_list<std::uint8_t> bytes) {
        evb::CommandRecord r{};
        std::copy(bytes.begin(), bytes.end(), r.begin());
        records.push_back(r);
    };
    add({0x04, 0x00, 0x01});
    for (const evb::ConfigCommand& c : check.commands) {
        switch (c.letter) {
        case 'W':
        case 'w':
            add({0x05, 0x00, c.a, c.b});
            break;
        case 'D':
        case 'd':
            add({0x05, 0x07, c.a, c.b});
            break;
        case 'G':
        case 'g':
            add({0x05, 0x0B, c.a, c.b});
            break;
        default:
            break;
        }
    }
    add({0x06});
    return records;
}

bool readable(const std::string& path, const evb::CheckedConfigFile& f, std::ostream& err) {
    if (f.load.ok) return true;
    err << "evbctl: cannot read " << (f.load.error.empty() ? path : f.load.error) << std::endl;
    return false;
}

} // namespace

int RunCheck(const std::vector<std::string>& files, std::uint32_t baud, bool strict, std::ostream& out,
             std::ostream& err, const evb::RegisterMap* map) {
    int rc = kExitOk;
    for (const std::string& path : files) {
        evb::CheckedConfigFile f = evb::LoadCheckedConfigFile(path);
        if (!readable(path, f, err)) {
            if (rc == kExitOk) rc = kExitUsage;
            continue;
        }
        if (map) evb::AddRegisterMapWarnings(f.check, *map);
        if (strict) f.check.countWarningsAsErrors();
        const evb::ConfigCheck& c = f.check;
        if (f.load.droppedBytes > 0)
            out << path << ": warning: longer than the " << evb::kConfigBufferSize
                << "-byte buffer: the last " << f.load.droppedBytes << " bytes are not sent\n";
        out << c.format(path);
        const int cLines =
            static_cast<int>(std::count_if(c.commands.begin(), c.commands.end(),
                                           [](const auto& k) { return k.letter == 'C' || k.letter == 'c'; }));
        const std::uint64_t wireMs =
            (static_cast<std::uint64_t>(c.frames()) * evb::kFrameSize * 10 * 1000 + baud / 2) / baud;
        out << path << ": " << counted(c.commandLines(), "command line", "command lines") << ", "
            << counted(c.writes, "write", "writes") << ", " << counted(c.delays, "delay", "delays") << ", "
            << counted(c.gSteps, "G step", "G steps") << ", " << counted(cLines, "C line", "C lines") << ", "
            << counted(c.frames(), "frame", "frames") << ", " << wireMs << " ms on the wire at " << baud
            << " baud"
            << (c.hasErrors() ? " (not sendable: " + counted(c.errorCount(), "error", "errors") + ")" : "")
            << "\n";
        if (c.hasErrors()) rc = kExitFileErrors;
    }
    out << std::flush;
    return rc;
}

int RunDryRun(const std::string& file, bool strict, std::ostream& out, std::ostream& err) {
    const evb::CheckedConfigFile f = evb::LoadCheckedConfigFile(file, {.strict = strict});
    if (!readable(file, f, err)) return kExitUsage;
    err << f.check.format(file);
    if (f.check.hasErrors()) {
        err << "evbctl: " << f.check.nothingSent(file) << std::endl;
        return kExitFileErrors;
    }
    for (const evb::CommandRecord& r : batchRecords(f.check)) {
        const evb::CommandFrame frame = evb::MakeFrame(r);
        std::string line;
        for (std::size_t i = 0; i < frame.size(); ++i)
            line += (i ? " " : "") + evb::Hex2(frame[i]);
        out << line << "\n";
    }
    out << std::flush;
    return kExitOk;
}

} // namespace evbctl
