#pragma once
// The one checker of configuration text. Everything that sends configuration lines (the
// register console's "Send Configuration", the preset buttons, evbctl) checks the text first
// and sends only text without errors, and only its sendable part. Diagnostics read as a
// compiler's do, "FILE:LINE: error: ..." / "FILE:LINE: warning: ...", so editors and
// terminals can jump to the line.
//
// Errors (nothing may be sent): a W, D or G line whose four digit positions are not all
// hexadecimal digits, or whose '@' does not follow them right away; UTF-16 text.
// Warnings (the text is sent as the line rules say): an unknown command letter; a line that
// ends the command block while command lines follow (also an indented command line); command
// lines after a CR that ends a line alone (classic Mac line ends: only LF ends a line, so they
// are not sent); a write above the chip's highest register; a last line cut off by the buffer
// limit or a NUL byte (dropped: neither sent nor counted); no command line at all, or no text.
// Strict checking turns every warning into an error.

#include "protocol/ConfigLines.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace evb {

// Why the text handed to the checker ends where it does.
enum class ConfigTextEnd {
    Complete,   // the whole text
    BufferFull, // the buffer limit cut it: more bytes followed
    Nul,        // a NUL byte ended it
};

struct ConfigCheckOptions {
    int lineLimit = kConfigLineLimit;
    ConfigTextEnd end = ConfigTextEnd::Complete;
    std::size_t bufferSize = kConfigBufferSize; // named in the cut-off warning
    int highestAddress = -1;                    // the chip's highest register; < 0: chip unknown, not checked
    bool strict = false;                        // warnings count as errors: nothing is sent
};

enum class ConfigSeverity { Warning, Error };

// What a diagnostic is about; repeated diagnostics of one kind are summarised.
enum class ConfigIssue { Other, Digits, Letter, BlockEnd, LineLimit, Register, CutOff, LoneCr, Utf16, NoCommand };

struct ConfigDiagnostic {
    int line = 0; // 1-based line of the text
    ConfigSeverity severity = ConfigSeverity::Warning;
    std::string message; // without the "FILE:LINE: error: " lead
    ConfigIssue issue = ConfigIssue::Other;
};

// One command line of the block that is sent, in order.
struct ConfigCommand {
    int line = 0;    // 1-based line of the text
    char letter = 0; // as written: W w D d G g C c, or an unknown letter
    std::uint8_t a = 0;
    std::uint8_t b = 0;
};

struct ConfigWrite {
    std::uint8_t reg = 0;
    std::uint8_t value = 0;
    int line = 0;
};

struct ConfigCheck {
    std::vector<ConfigDiagnostic> diagnostics; // in line order
    std::vector<ConfigCommand> commands;       // the counted command lines (n of them)
    std::size_t sendableLength = 0; // the prefix of the text that may be sent (a cut last line dropped)
    int writes = 0, delays = 0, gSteps = 0, countOnly = 0; // countOnly: C lines and unknown letters

    bool hasErrors() const;
    // Strict checking: every warning becomes an error, so nothing is sent.
    void countWarningsAsErrors();
    int errorCount() const;
    int commandLines() const { return static_cast<int>(commands.size()); }
    // Frames a send writes: begin, one per W, D and G line, end.
    int frames() const { return 2 + writes + delays + gSteps; }
    // The register writes in order, and the last write of each register (the last one wins).
    std::vector<ConfigWrite> registerWrites() const;
    std::map<std::uint8_t, ConfigWrite> lastWrites() const;
    // The text a send may use: text cut to sendableLength.
    std::string_view sendable(std::string_view text) const { return text.substr(0, sendableLength); }
    // "FILE:LINE: severity: message" lines, each ended by lineEnd. After the first ten of one
    // kind, the rest of that kind are one line: "FILE:LINE: warning: … and 348 more lines like
    // this", LINE being the first of them.
    static constexpr int kShownPerIssue = 10;
    std::string format(const std::string& file, const std::string& lineEnd = "\n") const;
    // "2, 5 and 9": the lines holding errors.
    std::string errorLines() const;
    // "nothing was sent: FILE has errors in lines 2 and 5", for a text with errors.
    std::string nothingSent(const std::string& file) const;
};

// text: the text as the buffer holds it (a NUL ends it, whatever options.end says).
ConfigCheck CheckConfigText(std::string_view text, const ConfigCheckOptions& options = {});

// The text of a file as a buffer of the given capacity holds it, and why it ends there.
struct CheckedTextSource {
    std::string_view text;
    ConfigTextEnd end = ConfigTextEnd::Complete;
};
// text as loaded (at most capacity bytes), droppedBytes beyond it: cuts at a NUL or notes the cut.
CheckedTextSource ConfigTextSource(std::string_view loaded, std::size_t droppedBytes);

} // namespace evb
