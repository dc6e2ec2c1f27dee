#include "protocol/ConfigCheck.h"

#include "protocol/Command.h"
#include "protocol/TextConv.h"

#include <algorithm>

namespace evb {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

std::string quoted(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) return std::string("'") + c + "'";
    return "byte 0x" + Hex2(u);
}

std::string plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A command line begins at pos, possibly after blanks (which the line rules do not allow).
bool commandAt(std::string_view text, std::size_t pos) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
    return pos < text.size() && text[pos] == ':';
}

bool indentedCommandAt(std::string_view text, std::size_t pos) {
    return pos < text.size() && text[pos] != ':' && commandAt(text, pos);
}

// Bytes no text file holds: controls other than tab, line ends and form feed.
bool looksBinary(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || u == 0x7F;
    });
}

// Line numbers of offsets in one text.
class LineIndex {
  public:
    explicit LineIndex(std::string_view text) {
        for (std::size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n') m_lineFeeds.push_back(i);
    }
    int lineOf(std::size_t pos) const {
        return 1 + static_cast<int>(std::lower_bound(m_lineFeeds.begin(), m_lineFeeds.end(), pos) -
                                    m_lineFeeds.begin());
    }
    std::size_t lineStart(std::size_t pos) const {
        const auto it = std::lower_bound(m_lineFeeds.begin(), m_lineFeeds.end(), pos);
        return it == m_lineFeeds.begin() ? 0 : *(it - 1) + 1;
    }
    // Lines after the one holding pos that are command lines (indented ones too).
    int commandLinesAfter(std::string_view text, std::size_t pos) const {
        int count = 0;
        for (auto it = std::lower_bound(m_lineFeeds.begin(), m_lineFeeds.end(), pos); it != m_lineFeeds.end();
             ++it)
            count += commandAt(text, *it + 1);
        return count;
    }

  private:
    std::vector<std::size_t> m_lineFeeds;
};

// The reason a W, D or G line starting at start is malformed, or empty when it is well formed:
// four hexadecimal digits right after the letter, then '@'.
std::string digitProblem(std::string_view text, std::size_t start, std::size_t lineStart, char letter) {
    const char upper = static_cast<char>(letter & ~0x20);
    const auto column = [&](std::size_t pos) { return std::to_string(pos - lineStart + 1); };
    for (int k = 0; k < 4; ++k) {
        const std::size_t pos = start + 2 + static_cast<std::size_t>(k);
        if (pos >= text.size() || text[pos] == '\n')
            return "the line ends after " + std::to_string(k) + " of the four hexadecimal digits";
        const char c = text[pos];
        if (c == '@')
            return "'@' after only " + plural(k, "hexadecimal digit", "hexadecimal digits") + ": a " + upper +
                   " line needs four";
        if (!isHexDigit(c)) return quoted(c) + " in column " + column(pos) + " is not a hexadecimal digit";
    }
    const std::size_t at = start + 6;
    if (at >= text.size() || text[at] == '\n') return "the line ends without the '@' after the four digits";
    if (text[at] != '@')
        return "'@' must follow the four digits right away; column " + column(at) + " holds " +
               quoted(text[at]);
    return {};
}

} // namespace

bool ConfigCheck::hasErrors() const {
    return errorCount() > 0;
}

void ConfigCheck::countWarningsAsErrors() {
    for (ConfigDiagnostic& d : diagnostics)
        d.severity = ConfigSeverity::Error;
}

int ConfigCheck::errorCount() const {
    return static_cast<int>(
        std::count_if(diagnostics.begin(), diagnostics.end(),
                      [](const ConfigDiagnostic& d) { return d.severity == ConfigSeverity::Error; }));
}

std::vector<ConfigWrite> ConfigCheck::registerWrites() const {
    std::vector<ConfigWrite> out;
    for (const ConfigCommand& c : commands)
        if (c.letter == 'W' || c.letter == 'w') out.push_back({c.a, c.b, c.line});
    return out;
}

std::map<std::uint8_t, ConfigWrite> ConfigCheck::lastWrites() const {
    std::map<std::uint8_t, ConfigWrite> out;
    for (const ConfigWrite& w : registerWrites())
        out[w.reg] = w;
    return out;
}

std::string ConfigCheck::format(const std::string& file, const std::string& lineEnd) const {
    std::map<ConfigIssue, int> total, seen;
    for (const ConfigDiagnostic& d : diagnostics)
        ++total[d.issue];
    std::string out;
    for (const ConfigDiagnostic& d : diagnostics) {
        const int k = ++seen[d.issue];
        if (k > kShownPerIssue + 1) continue;
        const std::string message = k <= kShownPerIssue ? d.message
                                                        : "\u2026 and " + std::to_string(total[d.issue] - kShownPerIssue) +
                                                              " more lines like this";
        out += file + ":" + std::to_string(d.line) + ": " +
               (d.severity == ConfigSeverity::Error ? "error: " : "warning: ") + message + lineEnd;
    }
    return out;
}

std::string ConfigCheck::errorLines() const {
    std::vector<int> lines;
    for (const ConfigDiagnostic& d : diagnostics)
        if (d.severity == ConfigSeverity::Error && (lines.empty() || lines.back() != d.line))
            lines.push_back(d.line);
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += i + 1 == lines.size() ? " and " : ", ";
        out += std::to_string(lines[i]);
    }
    return out;
}

std::string ConfigCheck::nothingSent(const std::string& file) const {
    const std::string lines = errorLines();
    const bool one = lines.find_first_not_of("0123456789") == std::string::npos;
    return "nothing was sent: " + file + " has " + (one ? "an error in line " : "errors in lines ") + lines;
}

ConfigCheck CheckConfigText(std::string_view text, const ConfigCheckOptions& options) {
    ConfigCheck check;
    ConfigTextEnd end = options.end;
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
        text = text.substr(0, nul);
        end = ConfigTextEnd::Nul;
    }
    const LineIndex index(text);
    const auto add = [&](std::size_t pos, ConfigSeverity severity, std::string message, ConfigIssue issue) {
        check.diagnostics.push_back({index.lineOf(pos), severity, std::move(message), issue});
    };

    // UTF-16 puts a NUL beside every ASCII character: the text would end after its first one.
    const bool bom16 = text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF");
    const bool asciiThenNul = end == ConfigTextEnd::Nul && text.size() == 1 && text[0] >= 0x20 && text[0] < 0x7F;
    if (bom16 || asciiThenNul) {
        add(0, ConfigSeverity::Error, "UTF-16 text: save the file as ASCII or UTF-8", ConfigIssue::Utf16);
        return check;
    }
    const bool binary = looksBinary(text) || (end == ConfigTextEnd::Nul && text.empty());

    // A cut inside the last line leaves a fragment whose missing digits would read as
    // something nobody wrote: it is dropped before the lines are parsed.
    if (end != ConfigTextEnd::Complete && !text.empty() && text.back() != '\n') {
        const auto lastLf = text.rfind('\n');
        const std::size_t keep = lastLf == std::string_view::npos ? 0 : lastLf + 1;
        add(keep, ConfigSeverity::Warning,
            (end == ConfigTextEnd::Nul
                 ? std::string("line cut off by a NUL byte")
                 : "line cut off by the " + std::to_string(options.bufferSize) + "-byte buffer limit") +
                ": it is neither sent nor counted",
            ConfigIssue::CutOff);
        text = text.substr(0, keep);
    }
    check.sendableLength = text.size();

    std::vector<std::size_t> starts;
    const std::vector<ConfigRecord> records = ParseConfigLines(text, options.lineLimit, &starts);
    const int n = CountCommandLines(records);
    for (int i = 0; i < n; ++i) {
        const ConfigRecord& r = records[static_cast<std::size_t>(i)];
        const std::size_t start = starts[static_cast<std::size_t>(i)];
        const ConfigCommand command{index.lineOf(start), r[1], HexPairToByte(r[2], r[3]),
                                    HexPairToByte(r[4], r[5])};
        check.commands.push_back(command);
        switch (command.letter) {
        case 'W':
        case 'w':
        case 'D':
        case 'd':
        case 'G':
        case 'g': {
            const std::string problem = digitProblem(text, start, index.lineStart(start), command.letter);
            if (!problem.empty()) add(start, ConfigSeverity::Error, problem, ConfigIssue::Digits);
            const char upper = static_cast<char>(command.letter & ~0x20);
            if (upper == 'W') {
                ++check.writes;
                if (problem.empty() && options.highestAddress >= 0 && command.a > options.highestAddress)
                    add(start, ConfigSeverity::Warning,
                        "register 0x" + Hex2(command.a) + " is above the chip's highest register 0x" +
                            Hex2(static_cast<unsigned>(options.highestAddress)) + "; the write is sent",
                        ConfigIssue::Register);
            } else if (upper == 'D') {
                ++check.delays;
            } else {
                ++check.gSteps;
            }
            break;
        }
        case 'C':
        case 'c':
            ++check.countOnly;
            break;
        default:
            ++check.countOnly;
            add(start, ConfigSeverity::Warning,
                (command.letter == 0 || command.letter == '@'
                     ? std::string("no command letter")
                     : "unknown command letter " + quoted(command.letter)) +
                    ": the line is counted, not sent",
                ConfigIssue::Letter);
            break;
        }
    }

    // Where the block ended early, the command lines after it are silently left out.
    std::size_t blockEnd = std::string_view::npos;
    if (records.size() > static_cast<std::size_t>(n)) {
        blockEnd = starts[static_cast<std::size_t>(n)];
    } else if (n > 0 && n < options.lineLimit) {
        const auto lf = text.find('\n', starts[static_cast<std::size_t>(n - 1)]);
        if (lf != std::string_view::npos && lf + 1 < text.size()) blockEnd = lf + 1;
    }
    if (blockEnd != std::string_view::npos) {
        // An indented command line ends the block as any other line does, and is lost itself.
        const bool indented = indentedCommandAt(text, blockEnd);
        const int lost = index.commandLinesAfter(text, blockEnd) + (indented ? 1 : 0);
        if (lost > 0)
            add(blockEnd, ConfigSeverity::Warning,
                indented ? "the command block ends here (the line is indented: a command line begins with ':' "
                           "in its first column): " +
                               plural(lost, "command line", "command lines") + " from here on " +
                               (lost == 1 ? "is" : "are") + " not sent"
                         : "the command block ends here (the line does not begin with ':'): " +
                               plural(lost, "command line", "command lines") + " after it " +
                               (lost == 1 ? "is" : "are") + " not sent",
                ConfigIssue::BlockEnd);
    } else if (n == options.lineLimit && n > 0) {
        const std::size_t last = starts[static_cast<std::size_t>(n - 1)];
        if (const int lost = index.commandLinesAfter(text, last); lost > 0)
            add(last, ConfigSeverity::Warning,
                "the limit of " + std::to_string(options.lineLimit) +
                    " lines is reached here: " + plural(lost, "command line", "command lines") +
                    " after it " + (lost == 1 ? "is" : "are") + " not sent",
                ConfigIssue::LineLimit);
    }

    // Only LF ends a line (CR LF arrives folded): a CR alone hides the command lines after it
    // inside one line. Reading CR as a line end instead would send lines that the same file
    // never sent before, so the text is sent as the rules read it and the user is told.
    std::size_t firstLoneCr = std::string_view::npos;
    int hidden = 0;
    for (std::size_t p = text.find('\r'); p != std::string_view::npos; p = text.find('\r', p + 1)) {
        if (p + 1 < text.size() && text[p + 1] == '\n') continue;
        if (!commandAt(text, p + 1)) continue;
        if (firstLoneCr == std::string_view::npos) firstLoneCr = p;
        ++hidden;
    }
    if (hidden > 0)
        add(firstLoneCr, ConfigSeverity::Warning,
            "CR alone ends a line here (classic Mac line ends), and only LF or CR LF end lines: " +
                plural(hidden, "command line", "command lines") + " after such a CR " +
                (hidden == 1 ? "is" : "are") + " not sent; save the file with LF or CR LF line ends",
            ConfigIssue::LoneCr);

    if (n == 0 && (binary || check.diagnostics.empty()))
        add(0, ConfigSeverity::Warning,
            binary ? "not a text file: no command line; only the batch's begin and end are sent"
                   : "no command line: only the batch's begin and end are sent",
            ConfigIssue::NoCommand);

    if (options.strict) check.countWarningsAsErrors();

    std::stable_sort(check.diagnostics.begin(), check.diagnostics.end(),
                     [](const ConfigDiagnostic& x, const ConfigDiagnostic& y) { return x.line < y.line; });
    return check;
}

CheckedTextSource ConfigTextSource(std::string_view loaded, std::size_t droppedBytes) {
    if (const auto nul = loaded.find('\0'); nul != std::string_view::npos)
        return {loaded.substr(0, nul), ConfigTextEnd::Nul};
    return {loaded, droppedBytes > 0 ? ConfigTextEnd::BufferFull : ConfigTextEnd::Complete};
}

} // namespace evb
