#pragma once
// Register configuration text: lines ":Wxxyy@comment", ":Dxxyy@", ":Gxxyy@", ":Cxxyy@".
// Parsing and sending are shared by the register console's "Send Configuration", the preset
// buttons and evbctl's "send".

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace evb {

constexpr std::size_t kConfigBufferSize = 4096; // configuration files
constexpr std::size_t kPresetBufferSize = 4000; // preset files
constexpr int kConfigLineLimit = 512;
constexpr int kPresetLineLimit = 500;

// One parsed line: the characters from ':' up to and including '@' (bytes 0..6), byte 7 LF
// once the '@' was met.
using ConfigRecord = std::array<char, 8>;

// Parses the command block at the start of text (up to the first NUL). Returns the records
// scanned (at most lineLimit); CountCommandLines gives how many lead with ':'. starts, when
// given, receives the offset in text at which each record begins.
std::vector<ConfigRecord> ParseConfigLines(std::string_view text, int lineLimit,
                                           std::vector<std::size_t>* starts = nullptr);
int CountCommandLines(const std::vector<ConfigRecord>& records);

struct ConfigSendHooks {
    std::function<void(int maximum)> setProgressMaximum;
    std::function<void(int position)> setProgress;
    // Polled before each line by SendConfigLines; true stops the send after the current
    // frame (the batch is closed with its end frame).
    std::function<bool()> stopRequested;
};

struct ConfigSendResult {
    int commandLines = 0; // n
    int framesNotSent = 0;
    bool aborted = false; // the port went away during the send; the rest was not attempted
    bool stopped = false; // stopped on request before the last line; the batch was closed
};

// beginCount < 0: CmdBatchBegin gets the number of command lines. report: write the
// "SET_TXT_LENGTH：n" and "Send the Confuguration  " console lines.
ConfigSendResult SendConfigLines(std::string_view text, int lineLimit, int beginCount, bool report,
                                 const ConfigSendHooks& hooks = {});

// Reads a text file as Windows text mode does (CR LF becomes LF) into at most capacity bytes.
// A UTF-8 byte-order mark at the start of the file is skipped.
struct TextLoad {
    bool ok = false;
    std::string text;          // at most capacity bytes, CR LF folded
    std::size_t droppedBytes = 0; // bytes of the folded text beyond capacity (not loaded)
    std::string error;         // why the file could not be read, when !ok
};
TextLoad LoadTextFile(const std::string& path, std::size_t capacity);

} // namespace evb
