// Configuration text: the line parser against a model of the line rules, what the checker lets
// through, and the sender over the parsed lines with nothing able to reach a board (sending
// suppressed, or the port closed). The counts, console lines and warnings of a send are the
// unit tables'.

#include "fuzz/FuzzInput.h"
#include "protocol/BoardCommand.h"
#include "protocol/ConfigCheck.h"
#include "protocol/ConfigLines.h"

#include <cctype>
#include <string>

using evbfuzz::require;

namespace {

bool sent(char letter) { // the letters that send a frame
    return std::string_view("WwDdGg").find(letter) != std::string_view::npos;
}

// Command records (':' at byte 0) from the start of the text, as the line rules describe
// them: a record copies characters up to '@' (keeping the first seven), skips the rest of its
// line, and is cut after 101 characters without '@' or LF; the block ends at a line that does
// not start with ':', at the end of the text or at the line limit.
std::vector<evb::ConfigRecord> modelCommandRecords(std::string_view text, int lineLimit) {
    text = text.substr(0, text.find('\0'));
    std::vector<evb::ConfigRecord> records;
    std::size_t p = 0;
    while (p < text.size() && static_cast<int>(records.size()) < lineLimit) {
        evb::ConfigRecord rec{};
        std::size_t copied = 0;
        bool endOfLine = false;
        while (p < text.size() && copied < 101) {
            const char c = text[p++];
            if (c == '\n') {
                endOfLine = true;
                break;
            }
            if (copied < 7) rec[copied] = c;
            ++copied;
            if (c == '@') {
                rec[7] = '\n';
                const std::size_t lf = text.find('\n', p);
                p = lf == std::string_view::npos ? text.size() : lf + 1;
                endOfLine = lf != std::string_view::npos;
                break;
            }
        }
        if (rec[0] != ':') break;
        records.push_back(rec);
        if (endOfLine && (p >= text.size() || text[p] != ':')) break;
    }
    return records;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    evbfuzz::FuzzInput in(data, size);
    const std::uint8_t mode = in.byte();
    const int lineLimit = (mode & 1) ? evb::kPresetLineLimit : evb::kConfigLineLimit;
    const bool report = (mode & 2) != 0;
    const bool suppressed = (mode & 4) != 0;
    // The text as the console's buffer would hold it.
    const std::string_view raw = in.rest();
    const std::string_view text = raw.substr(0, std::min(raw.size(), evb::kConfigBufferSize));

    const std::vector<evb::ConfigRecord> records = evb::ParseConfigLines(text, lineLimit);
    require(static_cast<int>(records.size()) <= lineLimit, "no more records than the line limit");
    const int n = evb::CountCommandLines(records);
    const std::vector<evb::ConfigRecord> want = modelCommandRecords(text, lineLimit);
    require(n == static_cast<int>(want.size()), "the command block has the model's length");
    require(std::equal(want.begin(), want.end(), records.begin()),
            "each command record holds the model's characters");

    // What the checker lets through to be sent.
    const evb::ConfigTextEnd end = (mode & 8) ? evb::ConfigTextEnd::BufferFull : evb::ConfigTextEnd::Complete;
    const evb::ConfigCheck check = evb::CheckConfigText(text, {.lineLimit = lineLimit, .end = end});
    const std::string_view sendable = check.sendable(text);
    require(sendable.find('\0') == std::string_view::npos, "the sendable text holds no NUL");
    require(end == evb::ConfigTextEnd::Complete || sendable.empty() || sendable.back() == '\n',
            "a cut text is sent only up to its last complete line");
    const std::vector<evb::ConfigRecord> checked = evb::ParseConfigLines(sendable, lineLimit);
    const int checkedLines = evb::CountCommandLines(checked);
    const int lines = 1 + static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    int previous = 0;
    for (const evb::ConfigDiagnostic& d : check.diagnostics) {
        require(d.line >= previous && d.line <= lines, "diagnostics name lines of the text, in order");
        previous = d.line;
    }
    for (int i = 0; i < checkedLines && !check.hasErrors(); ++i) {
        const evb::ConfigRecord& r = checked[static_cast<std::size_t>(i)];
        const bool digits =
            std::all_of(&r[2], &r[6], [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
        require(!sent(r[1]) || (digits && r[6] == '@'),
                "a text without errors sends four hexadecimal digits and '@' right after them");
    }

    // Nothing can reach a board: either sending is suppressed (start-up) or the port is closed.
    evb::SetBoardDevice(&evbfuzz::closedDevice());
    evb::BoardReady = suppressed ? 0 : 255;
    const std::uint64_t sentBefore = evb::FramesSent();
    const evb::ConfigSendResult r = evb::SendConfigLines(text, lineLimit, -1, report, {});
    evb::BoardReady = 255;
    evb::SetBoardDevice(nullptr);

    const int frames =
        2 + static_cast<int>(std::count_if(want.begin(), want.end(), [](auto& r) { return sent(r[1]); }));
    require(evb::FramesSent() == sentBefore, "nothing is sent when nothing can be");
    require(r.framesNotSent == frames, "every frame the lines call for is reported as not sent");
    require(!r.aborted, "a port closed from the start does not count as going away");
    return 0;
}
