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

constexpr int kPackageCompleted = 1;
constexpr long kReplyBufferSize = 257;

void enable(QWidget* w, bool on) {
    if (w) w->setEnabled(on);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Codec type menu: every entry's facts are its row of the codec table; the menu runs the same
// body for the row of each entry that has a handler.

void Tmainfrm::KV1120Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV1120"));
}
void Tmainfrm::KV1150Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV1150"));
}
void Tmainfrm::KV1160Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV1160"));
}
void Tmainfrm::KV1160LClick() {
    selectCodecType(evb::FindCodecMenuEntry("KV1160L"));
}
void Tmainfrm::KV1160EClick() {
    selectCodecType(evb::FindCodecMenuEntry("KV1160E"));
}
void Tmainfrm::KV2210Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV2210"));
}
void Tmainfrm::KV2210SClick() {
    selectCodecType(evb::FindCodecMenuEntry("KV2210S"));
}
void Tmainfrm::KV2220Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV2220"));
}
void Tmainfrm::KV2330Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV2330"));
}
void Tmainfrm::KV2440Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV2440"));
}
void Tmainfrm::KV2450Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV2450"));
}
void Tmainfrm::KV2460Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV2460"));
}
void Tmainfrm::KV2640Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV2640"));
}
void Tmainfrm::KV2650Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV2650"));
}
void Tmainfrm::KV2910Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV2910"));
}
void Tmainfrm::KV2920Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV2920"));
}
void Tmainfrm::KV2930Click() {
    selectCodecType(evb::FindCodecMenuEntry("KV2930"));
}
void Tmainfrm::CorvaneClick() {
    selectCodecType(evb::FindCodecMenuEntry("Corvane"));
}

void Tmainfrm::selectCodecType(int row) {
    if (row < 0 || row >= evb::kProfileCount) return;
    const evb::CodecMenuEntry& entry = evb::ChipProfileTable()[static_cast<std::size_t>(row)].menu;
    if (entry.code == 0) return;
    // The profile is laid out on the register console and its read-all lands there.
    Tkv2580mfrm* console = RegisterConsole();
    evb::gBoard.CodecType = entry.code;

    const evb::MainControls& c = entry.controls;
    enable(SDP1Group, c.sdp1Group);
    enable(SDP2Group, c.sdp2Group);
    enable(SDP3Group, c.sdp3Group);
    if (c.dvddGroup != evb::Switch::Keep) enable(DvddGroup, c.dvddGroup == evb::Switch::On);
    for (QWidget* w : {static_cast<QWidget*>(SDP1_MS), static_cast<QWidget*>(SDP1_SLV),
                       static_cast<QWidget*>(SDP2_MS), static_cast<QWidget*>(SDP2_SLV)})
        enable(w, c.sdp12Buttons);
    enable(SDP3_MS, c.sdp3Buttons);
    enable(SDP3_SLV, c.sdp3Buttons);
    for (QWidget* w :
         {static_cast<QWidget*>(DVDD2), static_cast<QWidget*>(DVDD2P5), static_cast<QWidget*>(DVDD3P3),
          static_cast<QWidget*>(PLLCMD), static_cast<QWidget*>(PLL_USE_CHK)})
        enable(w, c.power);

    evb::gRegs.ReadProgress = 1;
    evb::CmdReadAllReg(0, entry.highest);
    evb::gRegs.HighestAddress = entry.highest;
    console->ApplyChipProfile();
    ShowToolWindow(console);
    if (UARTSHOW) UARTSHOW->clear();
    ConsoleAppend(std::string("..............................Codec Type:") + entry.consoleName +
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
