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

bool readable(const std::string& path, const evb::CheckedConfigFile& f, Result& result) {
    if (f.load.ok) return true;
    result.fail(kExitUsage, "cannot read " + (f.load.error.empty() ? path : f.load.error));
    return false;
}

} // namespace

int RunCheck(const std::vector<std::string>& files, std::uint32_t baud, bool strict, Result& result,
             const evb::RegisterMap* map) {
    int rc = kExitOk;
    Json summaries = Json::array(), diagnostics = Json::array();
    for (const std::string& path : files) {
        evb::CheckedConfigFile f = evb::LoadCheckedConfigFile(path);
        if (!readable(path, f, result)) {
            if (rc == kExitOk) rc = kExitUsage;
            continue;
        }
        if (map) evb::AddRegisterMapWarnings(f.check, *map);
        if (strict) f.check.countWarningsAsErrors();
        const evb::ConfigCheck& c = f.check;
        std::string text;
        if (f.load.droppedBytes > 0) {
            const std::string cut = "longer than the " + std::to_string(evb::kConfigBufferSize) +
                                    "-byte buffer: the last " + std::to_string(f.load.droppedBytes) +
                                    " bytes are not sent";
            text += path + ": warning: " + cut + "\n";
            diagnostics.push_back({{"file", path}, {"line", 0}, {"severity", "warning"}, {"message", cut}});
        }
        text += c.format(path);
        for (Json& d : DiagnosticsJson(c.diagnostics, path))
            diagnostics.push_back(std::move(d));
        const int cLines =
            static_cast<int>(std::count_if(c.commands.begin(), c.commands.end(),
                                           [](const auto& k) { return k.letter == 'C' || k.letter == 'c'; }));
        const std::uint64_t wireMs =
            (static_cast<std::uint64_t>(c.frames()) * evb::kFrameSize * 10 * 1000 + baud / 2) / baud;
        text += path + ": " + counted(c.commandLines(), "command line", "command lines") + ", " +
                counted(c.writes, "write", "writes") + ", " + counted(c.delays, "delay", "delays") + ", " +
                counted(c.gSteps, "G step", "G steps") + ", " + counted(cLines, "C line", "C lines") + ", " +
                counted(c.frames(), "frame", "frames") + ", " + std::to_string(wireMs) + " ms on the wire at " +
                std::to_string(baud) + " baud" +
                (c.hasErrors() ? " (not sendable: " + counted(c.errorCount(), "error", "errors") + ")" : "") + "\n";
        result.say(text);
        summaries.push_back({{"file", path},
                             {"command_lines", c.commandLines()},
                             {"writes", c.writes},
                             {"delays", c.delays},
                             {"g_steps", c.gSteps},
                             {"c_lines", cLines},
                             {"frames", c.frames()},
                             {"wire_ms", wireMs},
                             {"errors", c.errorCount()}});
        if (c.hasErrors()) {
            rc = kExitFileErrors;
            result.fail(rc, c.nothingSent(path), false);
        }
    }
    result["files"] = std::move(summaries);
    result["diagnostics"] = std::move(diagnostics);
    return rc;
}

int RunDryRun(const std::string& file, bool strict, Result& result) {
    const evb::CheckedConfigFile f = evb::LoadCheckedConfigFile(file, {.strict = strict});
    if (!readable(file, f, result)) return kExitUsage;
    result.err() << f.check.format(file);
    result["file"] = file;
    result["diagnostics"] = DiagnosticsJson(f.check.diagnostics, file);
    if (f.check.hasErrors()) return result.fail(kExitFileErrors, f.check.nothingSent(file));
    Json frames = Json::array();
    std::string text;
    for (const evb::CommandRecord& r : batchRecords(f.check)) {
        const evb::CommandFrame frame = evb::MakeFrame(r);
        std::string line;
        for (std::size_t i = 0; i < frame.size(); ++i)
            line += (i ? " " : "") + evb::Hex2(frame[i]);
        text += line + "\n";
        frames.push_back(line);
    }
    result["frames"] = std::move(frames);
    result.say(text);
    return kExitOk;
}

} // namespace evbctl
