#include "protocol/ConfigSender.h"

#include "protocol/BoardCommand.h"
#include "protocol/BoardSession.h"
#include "protocol/Command.h"
#include "serial/TRkCommDevice.h"

namespace evb {

namespace {

const std::string kFullWidthColon = "\xEF\xBC\x9A"; // U+FF1A in UTF-8

bool portActive() {
    return BoardDevice() != nullptr && BoardDevice()->fGetActive();
}

void say(const std::string& text) {
    if (IUserReport* out = UserReport()) out->ConsoleAppend(text);
}

} // namespace

ConfigSender::ConfigSender(std::string_view text, int lineLimit, int beginCount, bool report,
                           ConfigSendHooks hooks)
    : m_records(ParseConfigLines(text, lineLimit)), m_beginCount(beginCount), m_report(report),
      m_hooks(std::move(hooks)) {
    m_result.commandLines = CountCommandLines(m_records);
}

ConfigSender::~ConfigSender() {
    if (BatchOwner() == this) SetBatchOwner(nullptr);
}

void ConfigSender::progress(int position) const {
    if (m_hooks.setProgress) m_hooks.setProgress(position);
}

void ConfigSender::begin() {
    if (m_begun) return;
    m_begun = true;
    const int n = m_result.commandLines;
    if (m_hooks.setProgressMaximum) m_hooks.setProgressMaximum(n);
    // Only a port that goes away during the send stops it; a port closed from the start gets
    // the usual "not active" report from each command.
    m_activeAtStart = portActive();
    SetBatchOwner(this, n);
    BatchOwnerTurn turn;
    if (CmdBatchBegin(static_cast<std::uint16_t>(m_beginCount < 0 ? n : m_beginCount))) ++m_result.framesNotSent;
    if (m_report) say("SET_TXT_LENGTH" + kFullWidthColon + std::to_string(n) + "\r\n");
}

ConfigSender::Step ConfigSender::next() {
    if (m_done) return Step::Done;
    if (m_closing) return close();
    if (!m_begun) begin();
    if (m_activeAtStart && !portActive()) {
        m_result.aborted = true;
        return finish();
    }
    if (m_stopRequested) return finish();
    BatchOwnerTurn turn;
    while (m_index < m_result.commandLines) {
        const int i = m_index++;
        const ConfigRecord& r = m_records[static_cast<std::size_t>(i)];
        const std::uint8_t a = HexPairToByte(r[2], r[3]);
        const std::uint8_t b = HexPairToByte(r[4], r[5]);
        bool notSent = false;
        switch (r[1]) {
        case 'W':
        case 'w':
            notSent = CmdBatchWriteReg(a, b);
            break;
        case 'D':
        case 'd':
            notSent = CmdBatchDelay(static_cast<std::uint16_t>(a * 256 + b));
            break;
        case 'G':
        case 'g':
            notSent = CmdBatchG(a, b);
            break;
        default: // 'C' and unknown letters: the line only counts
            continue;
        }
        if (notSent) {
            ++m_result.framesNotSent;
            // The port went away under this very line: the rest is not tried (each attempt
            // would only warn again).
            if (m_activeAtStart && !portActive()) {
                m_result.aborted = true;
                return finish();
            }
            continue; // a line that could not go is not retried; the next one follows
        }
        progress(i);
        ++m_linesSent;
        if (BoardSession* session = CurrentSession()) session->SetSendingLine(m_index);
        return Step::WaitDrained;
    }
    return finish();
}

ConfigSender::Step ConfigSender::finish() {
    if (m_activeAtStart && !portActive()) m_result.aborted = true; // the end frame could not go either
    if (m_result.aborted) return close();
    {
        BatchOwnerTurn turn;
        if (CmdBatchEnd()) ++m_result.framesNotSent;
    }
    m_closing = true;
    return Step::WaitDrained;
}

ConfigSender::Step ConfigSender::close() {
    m_done = true;
    m_closing = false;
    const int n = m_result.commandLines;
    if (m_activeAtStart && !portActive()) m_result.aborted = true; // the end frame may not have left
    if (m_result.aborted) {
        SetBatchOwner(nullptr);
        progress(0);
        say("Send stopped: the port closed after " + std::to_string(m_linesSent) + " of " + std::to_string(n) +
            " lines were sent\r\n");
        return Step::Done;
    }
    SetBatchOwner(nullptr);
    progress(0);
    if (m_stopRequested && m_index < n) {
        m_result.stopped = true;
        say("Send stopped after " + std::to_string(m_index) + " of " + std::to_string(n) + " lines\r\n");
    } else if (m_report) {
        say("Send the Confuguration  \r\n");
    }
    return Step::Done;
}

} // namespace evb
