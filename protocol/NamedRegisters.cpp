#include "protocol/NamedRegisters.h"

#include "protocol/ConfigLines.h"
#include "protocol/TextConv.h"

#include <algorithm>
#include <cctype>

namespace evb {

namespace {

std::string fieldValue(const RegisterField& f, unsigned v) {
    const std::string* name = f.valueName(v);
    return name ? *name : std::to_string(v);
}

constexpr std::string_view kLabelDash = " \u2014 ";

bool holds(std::string_view text, std::string_view part) {
    const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [&](char x, char y) { return lower(x) == lower(y); }) != text.end();
}

} // namespace

std::string RegisterSummary(const RegisterMap& map, std::uint8_t address, std::uint8_t value) {
    const RegisterInfo* r = map.find(address);
    if (!r) return {};
    std::string out = "0x" + Hex2(address) + " " + r->name + " = 0x" + Hex2(value);
    for (const RegisterField& f : r->fields)
        out += "\n" + f.describe(value);
    return out;
}

std::vector<const RegisterInfo*> SearchRegisters(const RegisterMap& map, std::string_view text) {
    // A completion offered by RegisterSearchLabel stands for its register's name.
    if (const std::size_t dash = text.find(kLabelDash); dash != std::string_view::npos)
        text = text.substr(0, dash);
    std::vector<const RegisterInfo*> found;
    if (text.empty()) return found;
    if (const RegisterInfo* exact = map.find(text)) found.push_back(exact);
    for (const bool byName : {true, false})
        for (const RegisterInfo& r : map.registers())
            if (holds(byName ? r.name : r.description, text) &&
                std::find(found.begin(), found.end(), &r) == found.end())
                found.push_back(&r);
    return found;
}

std::string RegisterSearchLabel(const RegisterInfo& r) {
    return r.description.empty() ? r.name : r.name + std::string(kLabelDash) + r.description;
}

std::string FormatRegisterDiff(const RegisterDiff& diff, const RegisterMap* map) {
    const RegisterInfo* r = map ? map->find(diff.reg) : nullptr;
    if (!r) return FormatRegisterDiff(diff);
    std::string changed;
    for (const RegisterField& f : r->fields) {
        const unsigned board = f.decode(diff.board), file = f.decode(diff.expected);
        if (board != file)
            changed += (changed.empty() ? "" : ", ") + f.name + " " + fieldValue(f, board) + " \u2192 " +
                       fieldValue(f, file);
    }
    const unsigned reserved = r->fields.empty() ? 0u : r->reservedMask();
    if (((diff.board ^ diff.expected) & reserved) != 0)
        changed += (changed.empty() ? "" : ", ") + std::string("reserved bits 0x") +
                   Hex2(diff.board & reserved) + " \u2192 0x" + Hex2(diff.expected & reserved);
    return "Reg0x" + Hex2(diff.reg) + " " + r->name + ": board 0x" + Hex2(diff.board) + ", file 0x" +
           Hex2(diff.expected) + (changed.empty() ? "" : " (" + changed + ")");
}

int LeaveOutVolatile(RegisterValues& expected, const RegisterMap& map) {
    return static_cast<int>(std::erase_if(expected, [&](const auto& entry) {
        const RegisterInfo* r = map.find(entry.first);
        return r && r->isVolatile;
    }));
}

std::vector<RegisterDiff> LeaveOutReadOnly(std::vector<RegisterDiff>& diffs, const RegisterMap& map) {
    std::vector<RegisterDiff> readOnly;
    std::erase_if(diffs, [&](const RegisterDiff& d) {
        const RegisterInfo* r = map.find(d.reg);
        if (!r || r->writable()) return false;
        readOnly.push_back(d);
        return true;
    });
    return readOnly;
}

std::string RegisterList(const std::vector<RegisterDiff>& diffs, const RegisterMap& map) {
    std::string out;
    for (const RegisterDiff& d : diffs) {
        const std::string name = map.nameOf(d.reg);
        out += (out.empty() ? "" : ", ") +
               (name.empty() ? "0x" + Hex2(d.reg) : name + " (0x" + Hex2(d.reg) + ")");
    }
    return out;
}

void AddRegisterMapWarnings(ConfigCheck& check, const RegisterMap& map) {
    for (const ConfigWrite& w : check.registerWrites())
        if (const std::string problem = WriteProblem(map, w.reg, w.value); !problem.empty())
            check.diagnostics.push_back({w.line, ConfigSeverity::Warning,
                                         "write to 0x" + Hex2(w.reg) + ": " + problem + "; it is sent"});
    std::stable_sort(check.diagnostics.begin(), check.diagnostics.end(),
                     [](const ConfigDiagnostic& x, const ConfigDiagnostic& y) { return x.line < y.line; });
}

std::string SnapshotText(const std::vector<std::uint8_t>& values, const SnapshotHeader& header,
                         const RegisterMap& map) {
    const std::string plain = SnapshotText(values, header);
    // The buffer holds the text with CR LF folded to LF.
    std::size_t room = kConfigBufferSize - std::min(kConfigBufferSize, plain.size() - values.size());
    std::string text;
    text.reserve(kConfigBufferSize + values.size());
    std::size_t lineStart = 0;
    for (std::size_t r = 0; r < values.size(); ++r) {
        const std::size_t lineEnd = plain.find("\r\n", lineStart);
        std::string line = plain.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        const std::string name = map.nameOf(static_cast<std::uint8_t>(r));
        const std::string comment = r == 0 ? " " + name + ";" : " " + name;
        if (!name.empty() && comment.size() <= room) {
            line.insert(line.find('@') + 1, comment);
            room -= comment.size();
        }
        text += line + "\r\n";
    }
    return text;
}

} // namespace evb
