#include "protocol/RegisterSnapshot.h"

#include "protocol/TextConv.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace evb {

int RegistersAnswered(int regCount) {
    return regCount == 255 ? 256 : regCount;
}

std::string SnapshotTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string SnapshotText(const std::vector<std::uint8_t>& values, const SnapshotHeader& header) {
    std::string text;
    text.reserve(values.size() * 9 + 80);
    for (std::size_t r = 0; r < values.size(); ++r) {
        text += ":W" + Hex2(static_cast<unsigned>(r)) + Hex2(values[r]) + "@";
        if (r == 0) {
            text += " " + (header.chip.empty() ? std::string("chip not known") : header.chip);
            text += header.chipAddress < 0 ? std::string(", address not known")
                                           : ", address 0x" + Hex2(static_cast<unsigned>(header.chipAddress));
            text += ", " + std::to_string(values.size()) + " registers, " + header.when;
        }
        text += "\r\n";
    }
    return text;
}

CheckedConfigFile LoadCheckedConfigFile(const std::string& path, ConfigCheckOptions options) {
    CheckedConfigFile f;
    f.load = LoadTextFile(path, kConfigBufferSize);
    if (!f.load.ok) return f;
    const CheckedTextSource source = ConfigTextSource(f.load.text, f.load.droppedBytes);
    f.load.text.resize(source.text.size());
    options.end = source.end;
    f.check = CheckConfigText(f.load.text, options);
    return f;
}

RegisterValues ExpectedRegisters(const ConfigCheck& check) {
    RegisterValues expected;
    for (const auto& [reg, write] : check.lastWrites())
        expected[reg] = write.value;
    return expected;
}

RegisterValues ExpectedRegisters(const std::vector<std::uint8_t>& values) {
    RegisterValues expected;
    for (std::size_t r = 0; r < values.size() && r < 256; ++r)
        expected[static_cast<std::uint8_t>(r)] = values[r];
    return expected;
}

RegisterComparison CompareRegisters(const std::vector<std::uint8_t>& board, const RegisterValues& expected) {
    RegisterComparison c;
    for (const auto& [reg, value] : expected) {
        if (reg >= board.size()) {
            ++c.notRead;
            continue;
        }
        ++c.compared;
        if (board[reg] != value) c.diffs.push_back({reg, board[reg], value});
    }
    return c;
}

std::string FormatRegisterDiff(const RegisterDiff& diff) {
    return "Reg0x" + Hex2(diff.reg) + ": board 0x" + Hex2(diff.board) + ", file 0x" + Hex2(diff.expected);
}

std::string ComparisonSummary(const RegisterComparison& c, const std::string& file, int read) {
    const auto registers = [](int n) { return std::to_string(n) + (n == 1 ? " register" : " registers"); };
    std::string text = c.matches() ? "every register matches " + file + " (" + registers(c.compared) + " compared)"
                                   : std::to_string(c.diffs.size()) + " of " + registers(c.compared) +
                                         (c.diffs.size() == 1 ? " differs from " : " differ from ") + file;
    if (c.notRead > 0)
        text += " (" + registers(c.notRead) + " of the file " + (c.notRead == 1 ? "is" : "are") + " beyond the " +
                std::to_string(read) + " read)";
    return text;
}

std::string RestoreText(const std::vector<RegisterDiff>& diffs) {
    std::string text;
    for (const RegisterDiff& d : diffs)
        text += ":W" + Hex2(d.reg) + Hex2(d.expected) + "@\r\n";
    return text;
}

} // namespace evb
