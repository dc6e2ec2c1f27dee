#pragma once
// Why a frame was or was not sent. The builders need the difference: a frame suppressed while
// BoardReady is 0 leaves ExpectedReply alone, every other failure sets it to 255.

#include "protocol/BoardCommand.h"

namespace evb {

enum class SendStatus { Sent, Suppressed, PortNotActive, NoRoom };

constexpr std::uint8_t kReplySendingMark = 254;

SendStatus SendBoardCommandStatus(const CommandRecord& record);

} // namespace evb
