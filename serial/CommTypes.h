#pragma once
// Types shared by every class of the serial layer. No Qt, no board knowledge here.

#include <cstdint>
#include <functional>

namespace TalonComm {

// Root of the serial layer's objects, so that event senders can be passed as one type.
class TObject {
  public:
    virtual ~TObject() = default;
};

using TCommNotifyEvent = std::function<void(TObject* Sender, int NotifyType)>;
using TCommSimpleEvent = std::function<void(TObject* Sender)>;

using TErrorCode = std::uint8_t;

enum TCommPackageType : std::uint8_t { cptCompatiblePkg = 0, cptFrameHeadTail = 1, cptFrameTimeout = 2 };

enum TBaudRate {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
    brCustom
};

enum TParity { ptNoParity = 0, ptOddParity = 1, ptEvenParity = 2, ptMarkParity = 3, ptSpaceParity = 4 };

enum TStopBits { sbOneStopBit = 0, sbOne_5_StopBits = 1, sbTwoStopBit = 2 };

enum TFlowControl { fcNone, fcRtsCts, fcXonXoff, fcTranXonXoff, fcRtsCtsXonXoff };

// Port event bits reported through OnCommNotify (same values as the classic comm-event mask).
enum : int {
    evRxChar = 0x0001,
    evRxFlag = 0x0002,
    evTxEmpty = 0x0004,
    evCts = 0x0008,
    evDsr = 0x0010,
    evRlsd = 0x0020,
    evBreak = 0x0040,
    evErr = 0x0080,
    evRing = 0x0100,
    evRx80Full = 0x0400,
    // Not a classic bit: the device vanished (hang-up, unplug). Reported once; the port then closes.
    evHangup = 0x10000,
};

} // namespace TalonComm
