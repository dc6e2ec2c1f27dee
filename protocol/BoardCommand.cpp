// The program-wide names of the transmit path, over the calling thread's current session.
#include "protocol/BoardCommand.h"

#include "protocol/BoardSession.h"
#include "protocol/SendStatus.h"

namespace evb {

namespace {

std::uint8_t* sessionByte(SessionByteName name) {
    BoardSession* s = CurrentSession();
    if (!s) return nullptr;
    switch (name) {
    case SessionByteName::BoardReady:
        return &s->boardReady;
    case SessionByteName::ExpectedReply:
        return &s->expectedReply;
    case SessionByteName::ReplyByte:
        break;
    }
    return &s->replyByte;
}

} // namespace

SessionByte::operator std::uint8_t() const {
    if (const std::uint8_t* b = sessionByte(m_name)) return *b;
    return m_name == SessionByteName::BoardReady ? 255 : 0;
}

const SessionByte& SessionByte::operator=(std::uint8_t value) const {
    if (std::uint8_t* b = sessionByte(m_name)) *b = value;
    return *this;
}

TalonComm::TRkCustomCommDevice* BoardDevice() {
    BoardSession* s = CurrentSession();
    return s ? &s->Device() : nullptr;
}
IUserReport* UserReport() {
    BoardSession* s = CurrentSession();
    return s ? s->Sink() : nullptr;
}
std::chrono::milliseconds SendTimeout() {
    BoardSession* s = CurrentSession();
    return s ? s->sendTimeout : std::chrono::milliseconds(2000);
}
std::uint64_t FramesSent() {
    BoardSession* s = CurrentSession();
    return s ? s->FramesSent() : 0;
}

CommandFrame MakeFrame(const CommandRecord& record) {
    CommandFrame frame{};
    frame[0] = kFrameStart;
    for (std::size_t i = 0; i < kRecordSize; ++i)
        frame[i + 1] = record[i];
    frame[kFrameSize - 1] = kFrameEnd;
    return frame;
}

void SetBatchOwner(const void* owner, int lines) {
    if (BoardSession* s = CurrentSession()) s->SetBatchOwner(owner, lines);
}
const void* BatchOwner() {
    BoardSession* s = CurrentSession();
    return s ? s->BatchOwner() : nullptr;
}

BatchOwnerTurn::BatchOwnerTurn() : m_was(CurrentSession() && CurrentSession()->OwnerSending()) {
    if (BoardSession* s = CurrentSession()) s->SetOwnerSending(true);
}
BatchOwnerTurn::~BatchOwnerTurn() {
    if (BoardSession* s = CurrentSession()) s->SetOwnerSending(m_was);
}

SendStatus SendBoardCommandStatus(const CommandRecord& record) {
    BoardSession* s = CurrentSession();
    return s ? s->Send(record) : SendStatus::PortNotActive;
}

bool SendBoardCommand(const CommandRecord& record) {
    return SendBoardCommandStatus(record) != SendStatus::Sent;
}

} // namespace evb
