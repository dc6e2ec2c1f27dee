// Codec-type menu, tools menu, board picture and the board's replies.
#include "app/ReplyHandoff.h"
#include "app/Tmainfrm.h"
#include "console/ChipProfiles.h"
#include "console/PresetFiles.h"
#include "console/RegisterState.h"
#include "console/Tkv2580mfrm.h"
#include "protocol/BoardState.h"
#include "protocol/Command.h"
#include "protocol/LinkMeaning.h"
#include "protocol/ReplyFormat.h"
#include "protocol/TextConv.h"
#include "windows/ShellOpen.h"
#include "windows/TForm1.h"
#include "windows/TForm6.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>

#include <array>

namespace {

// Which of the main window's controls a codec type enables (the chip's control set).
enum ControlSet : int { kSetDefault = 0, kSetKV2910 = 1, kSetKV2920 = 2, kSetKV2930 = 3, kSetCorvane = 4 };

constexpr int kPackageCompleted = 1;
constexpr long kReplyBufferSize = 257;

void enable(QWidget* w, bool on) {
    if (w) w->setEnabled(on);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Codec type menu

void Tmainfrm::KV1120Click() {
    selectCodecType(1120, 0x4C, "KV1120", kSetDefault);
}
void Tmainfrm::KV1150Click() {
    selectCodecType(1150, 0x0F, "KV1150", kSetDefault);
}
void Tmainfrm::KV1160Click() {
    selectCodecType(1160, 0x0F, "KV1160", kSetDefault);
}
void Tmainfrm::KV1160LClick() {
    selectCodecType(1167, 0x0F, "KV1160L", kSetDefault);
}
void Tmainfrm::KV1160EClick() {
    selectCodecType(1162, 0xFF, "KV1160E", kSetDefault);
}
void Tmainfrm::KV2210Click() {
    selectCodecType(2210, 0x4F, "KV2210", kSetDefault);
}
void Tmainfrm::KV2210SClick() {
    selectCodecType(2215, 0xFF, "KV2210S", kSetDefault);
}
void Tmainfrm::KV2220Click() {
    selectCodecType(2215, 0xFF, "KV2220", kSetDefault);
}
void Tmainfrm::KV2330Click() {
    selectCodecType(2330, 0x3F, "KV2330", kSetDefault);
}
void Tmainfrm::KV2440Click() {
    selectCodecType(2440, 0xFF, "KV2440", kSetDefault);
}
void Tmainfrm::KV2450Click() {
    selectCodecType(2450, 0xFF, "KV2450", kSetDefault);
}
void Tmainfrm::KV2460Click() {
    selectCodecType(2460, 0x53, "KV2460", kSetDefault);
}
void Tmainfrm::KV2640Click() {
    selectCodecType(2640, 0x7F, "KV2640", kSetDefault);
}
void Tmainfrm::KV2650Click() {
    selectCodecType(2650, 0x3D, "KV2650", kSetDefault);
}
void Tmainfrm::KV2910Click() {
    selectCodecType(2910, 0x7F, "KV2910", kSetKV2910);
}
void Tmainfrm::KV2920Click() {
    selectCodecType(2920, 0x7F, "KV2920", kSetKV2920);
}
void Tmainfrm::KV2930Click() {
    selectCodecType(2930, 0x7F, "KV2930", kSetKV2930);
}
void Tmainfrm::CorvaneClick() {
    selectCodecType(8888, 0xFF, "CORVANE", kSetCorvane);
}

void Tmainfrm::selectCodecType(std::int32_t code, std::uint8_t highest, const char* name, int enableSet) {
    // The profile is laid out on the register console and its read-all lands there.
    RegisterConsole();
    evb::gBoard.CodecType = code;

    struct Enables {
        bool sdp1Group, sdp2Group, sdp3Group;
        int dvddGroup; // -1: unchanged
        bool sdp12Buttons, sdp3Buttons, power;
    };
    static constexpr std::array<Enables, 5> kEnables{{
        {true, true, false, -1, true, false, false}, // every other chip
        {true, true, true, 1, true, false, true},    // KV2910
        {true, false, false, 1, true, false, true},  // KV2920
        {true, true, false, 1, true, false, true},   // KV2930
        {true, true, true, -1, true, true, true},    // the maker's entry
    }};
    const Enables& e = kEnables[static_cast<std::size_t>(enableSet) < kEnables.size() ? enableSet : 0];
    enable(SDP1Group, e.sdp1Group);
    enable(SDP2Group, e.sdp2Group);
    enable(SDP3Group, e.sdp3Group);
    if (e.dvddGroup >= 0) enable(DvddGroup, e.dvddGroup == 1);
    for (QWidget* w : {static_cast<QWidget*>(SDP1_MS), static_cast<QWidget*>(SDP1_SLV),
                       static_cast<QWidget*>(SDP2_MS), static_cast<QWidget*>(SDP2_SLV)})
        enable(w, e.sdp12Buttons);
    enable(SDP3_MS, e.sdp3Buttons);
    enable(SDP3_SLV, e.sdp3Buttons);
    for (QWidget* w :
         {static_cast<QWidget*>(DVDD2), static_cast<QWidget*>(DVDD2P5), static_cast<QWidget*>(DVDD3P3),
          static_cast<QWidget*>(PLLCMD), static_cast<QWidget*>(PLL_USE_CHK)})
        enable(w, e.power);

    evb::gRegs.ReadProgress = 1;
    evb::CmdReadAllReg(0, highest);
    evb::gRegs.HighestAddress = highest;
    evb::ApplyChipProfile();
    ShowToolWindow(RegisterConsole());
    if (UARTSHOW) UARTSHOW->clear();
    ConsoleAppend(std::string("..............................Codec Type:") + name +
                  "..............................\r\n");
}

// ---------------------------------------------------------------------------------------------
// Tools menu and board picture

void Tmainfrm::EQ2Click() {
    evb::ShellOpenFile("CorvaneEQ.exe");
}
// The documents are ours and ship with the program: the working folder's copy first, as the
// shell would open the bare name, else the one next to the program or installed with it.
void Tmainfrm::EQInstruction1Click() {
    evb::ShellOpen(QUrl::fromLocalFile(QString::fromStdString(evb::FindDocument(evb::kEqPictureFile))));
}
void Tmainfrm::EVBInstructions1Click() {
    evb::ShellOpen(QUrl::fromLocalFile(QString::fromStdString(evb::FindDocument(evb::kManualFile))));
}
void Tmainfrm::MatlabInstruction1Click() {
    ShowToolWindow(MatlabWindow());
}
void Tmainfrm::VersionV221Click() {
    ShowToolWindow(AboutWindow());
}
void Tmainfrm::Image1Click() {
    evb::CmdBoardInfo();
}

// ---------------------------------------------------------------------------------------------
// Replies

void Tmainfrm::queuePackageEvent(TalonComm::TObject* Sender, int NotifyType) {
    // Serial layer's timer thread: touch nothing but the counter, decode on the UI thread in
    // arrival order (queued invocations to one receiver keep their order).
    if (NotifyType == kPackageCompleted) evb::ReplyHandoff().queued.fetch_add(1, std::memory_order_release);
    QMetaObject::invokeMethod(
        this, [this, Sender, NotifyType] { RS232CommNotify(Sender, NotifyType); }, Qt::QueuedConnection);
}

void Tmainfrm::RS232CommNotify(TalonComm::TObject* /*Sender*/, int NotifyType) {
    if (NotifyType != kPackageCompleted) return;
    struct FinishCount {
        ~FinishCount() { evb::ReplyHandoff().finished.fetch_add(1, std::memory_order_release); }
    } finishCount;
    std::array<std::uint8_t, kReplyBufferSize> buf{};
    // Each package raises one event, but the echo loop below and CmdReadReg take packages out
    // of turn; an event whose package is gone has nothing to decode.
    const long got = RS232.Read(buf.data(), kReplyBufferSize);
    if (got <= 0) return;

    const std::uint8_t kind = evb::ExpectedReply;
    evb::LogPackage(buf.data(), static_cast<std::size_t>(got),
                    evb::DescribeReply(kind, buf.data(), static_cast<std::size_t>(got), evb::gRegs.RegCount, true));
    // Register replies answer the register console's own commands; without it nobody asked.
    Tkv2580mfrm* console = Windows.kv2580mfrm;
    switch (kind) {
    case evb::kReplyRegister: {
        if (!console) break;
        const auto a = static_cast<std::uint8_t>(console->addressFieldValue(128));
        const std::uint8_t v = buf[0];
        evb::gRegs.store(a, v);
        console->RegDatTxt->setText(QString::fromStdString("0x" + evb::Hex2(v)));
        console->showRegisterCell(a, v);
        ConsoleAppend(evb::FormatReadReg(a, v));
        break;
    }
    case evb::kReplyBlock: {
        if (!console) break;
        // The progress bar repaints synchronously on every step and each cell asks for its own
        // update: with updates off the whole reply is painted once, after the loop.
        const bool wasUpdating = console->updatesEnabled();
        console->setUpdatesEnabled(false);
        const int n = evb::gRegs.RegCount;
        const bool progress = evb::gRegs.ReadProgress == 1;
        if (progress) console->ProgrBar->setValue(0);
        for (int i = 0; i < n; ++i) {
            evb::gRegs.store(static_cast<std::uint8_t>(i), buf[static_cast<std::size_t>(i)]);
            if (progress) console->ProgrBar->setValue(i);
        }
        if (progress) console->ProgrBar->setValue(0);
        for (int c = 1; c <= 16; ++c)
            console->setCell(c, 0, QString::fromStdString("   " + evb::Hex2(static_cast<unsigned>(c - 1))));
        console->setCell(0, 1, "  0x00");
        console->redrawFromShadow(evb::GridDataRows(static_cast<std::uint8_t>(n)));
        if (n == 255) console->showRegisterCell(0xFF, buf[255]);
        const int a = console->addressFieldValue(256);
        // Register 0xFF has no shadow entry: show the value this reply carried, if it had one.
        if (a < static_cast<int>(evb::kShadowSize))
            console->RegDatTxt->setText(QString::fromStdString("0x" + evb::Hex2(evb::gRegs.Shadow[a])));
        else if (n == 255)
            console->RegDatTxt->setText(QString::fromStdString("0x" + evb::Hex2(buf[255])));
        console->setUpdatesEnabled(wasUpdating);
        ShowToolWindow(console);
        ConsoleAppend(evb::FormatReadAllReg(evb::gRegs.HighestAddress));
        console->ReadAllArrived(std::vector<std::uint8_t>(
            buf.begin(), buf.begin() + std::min<std::ptrdiff_t>(evb::RegistersAnswered(n), kReplyBufferSize)));
        break;
    }
    case evb::kReplyBoardInfo:
        ConsoleAppend(evb::FormatBoardInfo(buf.data()));
        break;
    default:
        // The answer to this command is consumed unseen; whatever else is waiting is echoed.
        for (;;) {
            // The whole package is read for the link log; only its first byte is echoed.
            std::array<std::uint8_t, kReplyBufferSize> later{};
            const long n = RS232.Read(later.data(), kReplyBufferSize);
            if (n <= 0) break;
            evb::ReplyByte = later[0];
            evb::LogPackage(later.data(), static_cast<std::size_t>(n),
                            evb::DescribeReply(kind, later.data(), static_cast<std::size_t>(n), 0,
                                               evb::ReplyByte == 0));
            if (evb::ReplyByte == 0) break;
            const std::uint8_t b = evb::ReplyByte;
            if (HEXSHOW && HEXSHOW->isChecked())
                ConsoleAppend(evb::Hex2(b) + " ");
            else
                ConsoleAppend(QString(QChar(b)).toStdString());
            evb::ReplyByte = 0;
        }
        break;
    }
    evb::ReplyHandoff().handled.fetch_add(1, std::memory_order_release);
    if (const evb::ReplyObserver& observer = evb::CurrentReplyObserver()) observer(kind);
}
