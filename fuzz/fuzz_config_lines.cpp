// Configuration text of any bytes: the parser within the line limit, what the checker lets
// through, and the sender over the parsed lines with nothing able to reach a board (sending
// suppressed, or the port closed). The line rules, and the counts, console lines and warnings
// of a send, are the unit tables'.

#include "fuzz/FuzzInput.h"
#include "protocol/BoardCommand.h"
#include "protocol/BoardSession.h"
#include "protocol/ConfigCheck.h"
#include "protocol/ConfigLines.h"

#include <cctype>
#include <string>

using evbfuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The letters that send a frame.
    const auto sent = [](char c) { return std::string_view("WwDdGg").find(c) != std::string_view::npos; };
    evbfuzz::FuzzInput in(data, size);
    // The mode's bits: the preset line limit, the send's report, sending suppressed, a cut text.
    const std::uint8_t mode = in.byte();
    const int lineLimit = (mode & 1) ? evb::kPresetLineLimit : evb::kConfigLineLimit;
    // The text as the console's buffer would hold it.
    const std::string_view text = in.rest().substr(0, evb::kConfigBufferSize);

    const std::vector<evb::ConfigRecord> records = evb::ParseConfigLines(text, lineLimit);
    require(static_cast<int>(records.size()) <= lineLimit, "no more records than the line limit");
    const int n = evb::CountCommandLines(records);

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
    const auto inText = [&](const evb::ConfigDiagnostic& d) { return d.line >= 0 && d.line <= lines; };
    require(std::ranges::is_sorted(check.diagnostics, {}, &evb::ConfigDiagnostic::line) &&
                std::ranges::all_of(check.diagnostics, inText),
            "diagnostics name lines of the text, in order");
    for (int i = 0; i < checkedLines && !check.hasErrors(); ++i) {
        const evb::ConfigRecord& r = checked[static_cast<std::size_t>(i)];
        const bool digits =
            std::all_of(&r[2], &r[6], [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
        require(!sent(r[1]) || (digits && r[6] == '@'),
                "a text without errors sends four hexadecimal digits and '@' right after them");
    }

    // Nothing can reach a board: either sending is suppressed (start-up) or the port is closed.
    // A session whose port is never opened, with no sink: its threads stay idle.
    static auto* closed = new evb::BoardSession(nullptr, {});
    const evb::SessionScope scope(*closed);
    evb::BoardReady = (mode & 4) ? 0 : 255;
    const std::uint64_t sentBefore = evb::FramesSent();
    const evb::ConfigSendResult r = evb::SendConfigLines(text, lineLimit, -1, (mode & 2) != 0, {});
    evb::BoardReady = 255;

    const int frames = 2 + static_cast<int>(std::count_if(records.begin(), records.begin() + n,
                                                           [&](auto& r) { return sent(r[1]); }));
    require(evb::FramesSent() == sentBefore, "nothing is sent when nothing can be");
    require(r.framesNotSent == frames, "every frame the lines call for is reported as not sent");
    require(!r.aborted, "a port closed from the start does not count as going away");
    return 0;
}
