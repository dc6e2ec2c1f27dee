// Codec-type menu, tools menu, board picture and the board's replies.
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
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>

#include <array>

namespace {

constexpr int kPackageCompleted = 1;

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
    evb::Board().CodecType = entry.code;

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

void Tmainfrm::RS232CommNotify(TalonComm::TObject* /*Sender*/, int NotifyType) {
    if (NotifyType == kPackageCompleted) m_session->HandlePackage();
}

void Tmainfrm::renderReply(const evb::ReplyEvent& event) {
    switch (event.kind) {
    case evb::ReplyEvent::Kind::BoardInfo:
        ConsoleAppend(evb::FormatBoardInfo(event.bytes.data()));
        break;
    case evb::ReplyEvent::Kind::Echoed:
        if (HEXSHOW && HEXSHOW->isChecked())
            ConsoleAppend(evb::Hex2(event.bytes[0]) + " ");
        else
            ConsoleAppend(QString(QChar(event.bytes[0])).toStdString());
        break;
    default: // register replies are the register console's; the rest is consumed unseen
        break;
    }
}
