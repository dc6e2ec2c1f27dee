#include "protocol/BoardCommand.h"

#include "protocol/LinkMeaning.h"
#include "protocol/SendStatus.h"
#include "serial/TRkCommDevice.h"

#include <string>

namespace evb {

std::uint8_t BoardReady = 255;
std::uint8_t ExpectedReply = 0;
std::uint8_t ReplyByte = 0;

namespace {

TalonComm::TRkCustomCommDevice* gDevice = nullptr;
IUserReport* gReport = nullptr;
std::chrono::milliseconds gSendTimeout{2000};
std::uint64_t gFramesSent = 0;
CommandFrame gTransmitBuffer{};
const void* gBatchOwner = nullptr;
bool gOwnerSending = false;

bool portActive(TalonComm::TRkCustomCommDevice* device) {
    return device != nullptr && device->fGetActive();
}

} // namespace

void SetBoardDevice(TalonComm::TRkCustomCommDevice* device) {
    gDevice = device;
}
TalonComm::TRkCustomCommDevice* BoardDevice() {
    return gDevice;
}
void SetUserReport(IUserReport* report) {
    gReport = report;
}
IUserReport* UserReport() {
    return gReport;
}
void SetSendTimeout(std::chrono::milliseconds timeout) {
    gSendTimeout = timeout;
}
std::chrono::milliseconds SendTimeout() {
    return gSendTimeout;
}
std::uint64_t FramesSent() {
    return gFramesSent;
}

CommandFrame MakeFrame(const CommandRecord& record) {
    CommandFrame frame{};
    frame[0] = kFrameStart;
    for (std::size_t i = 0; i < kRecordSize; ++i)
        frame[i + 1] = record[i];
    frame[kFrameSize - 1] = kFrameEnd;
    return frame;
}

void SetBatchOwner(const void* owner) {
    gBatchOwner = owner;
}
const void* BatchOwner() {
    return gBatchOwner;
}

BatchOwnerTurn::BatchOwnerTurn() : m_was(gOwnerSending) {
    gOwnerSending = true;
}
BatchOwnerTurn::~BatchOwnerTurn() {
    gOwnerSending = m_was;
}

SendStatus SendBoardCommandStatus(const CommandRecord& record) {
    if (BoardReady == 0) return SendStatus::Suppressed;
    // While a batch is open only its sender may write: anything else would land inside it.
    if (gBatchOwner != nullptr && !gOwnerSending) return SendStatus::Suppressed;
    ExpectedReply = kReplySendingMark;
    TalonComm::TRkCustomCommDevice* device = gDevice;
    if (!portActive(device)) {
        if (gReport) gReport->ShowWarning("COM1 used by others Device!", "");
        return SendStatus::PortNotActive;
    }
    gTransmitBuffer = MakeFrame(record);
    // The frame goes to the transmit queue whole or not at all: waiting here for room is what
    // keeps a long batch intact when the line is slower than the sender.
    if (!device->WaitWriteRoom(static_cast<long>(kFrameSize), gSendTimeout)) {
        if (!portActive(device)) {
            if (gReport) gReport->ShowWarning("COM1 used by others Device!", "");
            return SendStatus::PortNotActive;
        }
        if (gReport)
            gReport->ConsoleAppend("Frame not sent: the transmit queue had no room for it within " +
                                   std::to_string(gSendTimeout.count()) + " ms\r\n");
        return SendStatus::NoRoom;
    }
    const long written = device->Write(gTransmitBuffer.data(), static_cast<long>(kFrameSize));
    if (written != static_cast<long>(kFrameSize)) {
        if (gReport)
            gReport->ConsoleAppend(written > 0
                                       ? "Frame not sent whole: only " + std::to_string(written) +
                                             " of 20 bytes were queued\r\n"
                                       : std::string("Frame not sent: the transmit queue refused it\r\n"));
        return SendStatus::NoRoom;
    }
    ExpectedReply = kFrameEnd; // the last byte written, as after a byte-by-byte send
    ++gFramesSent;
    LogFrameSent(gTransmitBuffer);
    return SendStatus::Sent;
}

bool SendBoardCommand(const CommandRecord& record) {
    return SendBoardCommandStatus(record) != SendStatus::Sent;
}

} // namespace evb
