// The main window: layout, start-up and "Refresh", clock and PLL, port routing and S/PDIF
// controls, the control-interface window's openers and port selection. Everything here runs on
// the UI thread: what the board session raises on other threads reaches it through the session
// bridge.
#include "app/Tmainfrm.h"
#include "windows/TRegisterWatchFrm.h"

#include "console/ChipProfiles.h"
#include "app/SessionBridge.h"
#include "console/RegisterState.h"
#include "console/Tkv2580mfrm.h"
#include "protocol/BoardState.h"
#include "protocol/Command.h"
#include "protocol/LinkMeaning.h"
#include "protocol/NumberField.h"
#include "protocol/Pll.h"
#include "protocol/TextConv.h"
#include "serial/ETalonCommError.h"
#include "serial/TCommSerialPortInfo.h"
#include "serial/TNetLine.h"
#include "serial/TTalonComm.h"
#include "windows/GroupPanel.h"
#include "windows/TForm1.h"
#include "windows/TForm6.h"
#include "windows/TLinkMonitorFrm.h"
#include "windows/TRS232CfgFrm.h"
#include "windows/TSPDIFConfigFRM.h"
#include "windows/TSetCodecComodeFrm.h"
#include "windows/Twarnfrm.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include <cmath>
#include <cstdint>
#include <tuple>

namespace {

constexpr const char* kStartBanner =
    "..............................Initialize the EVB Start..............................\r\n";
constexpr const char* kEndBanner =
    "..............................Initialize the EVB end..............................\r\n";
constexpr const char* kSpdifBanner =
    "..............................Set the SPDIF Mode..............................\r\n";

QRadioButton* makeRadio(QWidget* parent, const char* name, const char* caption) {
    auto* button = new QRadioButton(caption, parent);
    button->setObjectName(name);
    return button;
}

QGroupBox* makeGroup(QWidget* parent, const char* name, const QString& caption) {
    auto* group = new QGroupBox(caption, parent);
    group->setObjectName(name);
    return group;
}

// A drawing of the evaluation board: PCB, codec socket, MCU, FPGA, S/PDIF transceiver and the
// connectors. Ours, drawn at start-up.
QPixmap drawBoardPicture() {
    const QSize size(220, 140);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    QPainterPath board;
    board.addRoundedRect(QRectF(4, 4, size.width() - 8, size.height() - 8), 8, 8);
    p.fillPath(board, QColor(0x1F, 0x6B, 0x3A));
    p.setPen(QPen(QColor(0xC8, 0xA2, 0x4A), 2));
    p.drawPath(board);

    p.setPen(QPen(QColor(0xD9, 0xC0, 0x6A), 1));
    for (int i = 0; i < 6; ++i)
        p.drawLine(40, 30 + i * 14, 150, 30 + i * 14);

    auto chip = [&p](const QRectF& r, const QString& label, const QColor& body) {
        p.setPen(QPen(QColor(0xB0, 0xB0, 0xB0), 1));
        for (qreal x = r.left() + 4; x < r.right() - 2; x += 6) {
            p.drawLine(QPointF(x, r.top() - 3), QPointF(x, r.top()));
            p.drawLine(QPointF(x, r.bottom()), QPointF(x, r.bottom() + 3));
        }
        p.fillRect(r, body);
        p.setPen(Qt::white);
        // The labels use the window's own font as it stands: no face or size of their own to load.
        p.drawText(r, Qt::AlignCenter, label);
    };
    chip(QRectF(20, 22, 50, 34), "MCU", QColor(0x22, 0x22, 0x22));
    chip(QRectF(86, 20, 56, 40), "FPGA", QColor(0x30, 0x30, 0x38));
    chip(QRectF(20, 80, 50, 30), "S/PDIF", QColor(0x22, 0x22, 0x22));
    // The codec socket.
    p.setPen(QPen(QColor(0xE0, 0xE0, 0xE0), 1.5, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(84, 70, 62, 48));
    chip(QRectF(90, 78, 50, 32), "CODEC", QColor(0x10, 0x10, 0x10));

    // Serial connector and audio jacks on the right edge.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x9A, 0x9A, 0xA0));
    p.drawRoundedRect(QRectF(166, 20, 40, 22), 3, 3);
    p.setBrush(QColor(0x20, 0x20, 0x20));
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(186, 66 + i * 22), 7, 7);
    p.setPen(Qt::white);
    p.drawText(QRectF(156, 43, 60, 16), Qt::AlignCenter, "RS-232");
    return pixmap;
}

} // namespace

namespace {

evb::BoardSession::Options sessionOptions(const StartOptions& start) {
    evb::BoardSession::Options o;
    o.line = start.line;
    o.byIdDir = start.byIdDir;
    o.sysRoot = start.sysRoot;
    // A block reply fills the current chip profile's registers.
    o.registerCount = [] { return evb::gRegs.RegCount; };
    return o;
}

} // namespace

Tmainfrm::Tmainfrm(StartOptions options, QWidget* parent)
    : QMainWindow(parent), m_options(std::move(options)), m_bridge(new SessionBridge(this)),
      m_session(std::make_unique<evb::BoardSession>(m_bridge, sessionOptions(m_options))), m_scope(*m_session),
      RS232(m_session->Device()) {
    setObjectName("mainfrm");
    setWindowTitle("Corvane Audio CODEC Evaluation Software");

    BuildLayout();
    BuildMenus();

    // The device as the window has always streamed it.
    RS232.fSetPortNo(2);
    RS232.fSetPortName("COM2");
    RS232.fSetPortParams("COM2,19200,N,8,1");
    RS232.fSetBaud(TalonComm::br19200);
    RS232.fSetBaudRate(19200);
    RS232.fSetSyncEvents(false);
    RS232.fSetPackageSize(8192);

    // What the session reports, on the UI thread.
    m_bridge->setWakeHandler([this](const evb::SessionWake& wake) {
        if (wake.kind == evb::SessionWake::Kind::Package)
            RS232CommNotify(&RS232, 1);
        else
            runHandler([this, &wake] { m_session->Handle(wake); });
    });
    connect(m_bridge, &SessionBridge::consoleText, this, &Tmainfrm::ConsoleAppend);
    connect(m_bridge, &SessionBridge::warning, this, &Tmainfrm::ShowWarning);
    connect(m_bridge, &SessionBridge::reply, this, &Tmainfrm::renderReply);
    connect(m_bridge, &SessionBridge::sendingChanged, this, &Tmainfrm::setSendLock);
}

Tmainfrm::~Tmainfrm() {
    // The other windows show and use the session: they go first.
    for (QWidget* window : std::initializer_list<QWidget*>{
             Windows.kv2580mfrm, Windows.RS232CfgFrm, Windows.warnfrm, Windows.SetCodecComodeFrm,
             Windows.SPDIFConfigFRM, Windows.Form6, Windows.Form1, Windows.LinkMonitorFrm, Windows.RegisterWatchFrm})
        delete window;
    Windows = {};
}

void Tmainfrm::BuildLayout() {
    auto* central = new QWidget(this);
    central->setObjectName("MainPanel");
    setCentralWidget(central);

    // --- serial port ---
    auto* rs232Group = makeGroup(central, "Rs232Group", "Set RS232 (UART)");
    setrs232cmd = new QPushButton(QString::fromUtf8("Set RS232 Port\uFF1A"), rs232Group);
    setrs232cmd->setObjectName("setrs232cmd");
    RS232_CommPort = new QLineEdit("2", rs232Group);
    RS232_CommPort->setObjectName("RS232_CommPort");
    RS232_CommPort->setMaximumWidth(110);
    RS232_CommPort->setAccessibleName("RS232 port number or device");
    Refresh = new QPushButton("Refresh", rs232Group);
    Refresh->setObjectName("Refresh");
    auto* rs232Layout = new QHBoxLayout(rs232Group);
    rs232Layout->addWidget(setrs232cmd);
    rs232Layout->addWidget(RS232_CommPort);
    rs232Layout->addWidget(Refresh);

    // --- S/PDIF ---
    SpdifGroup = makeGroup(central, "SpdifGroup", "SPDIF Configuration");
    SPDIF_RESET = new QCheckBox("SPDIF Reset", SpdifGroup);
    SPDIF_RESET->setObjectName("SPDIF_RESET");
    SPDIF_TX_STOP = new QCheckBox("SPDIF Stop", SpdifGroup);
    SPDIF_TX_STOP->setObjectName("SPDIF_TX_STOP");
    SetTXCMD = new QPushButton("SPDIF Configuration", SpdifGroup);
    SetTXCMD->setObjectName("SetTXCMD");
    auto* spdifLayout = new QHBoxLayout(SpdifGroup);
    spdifLayout->addWidget(SPDIF_RESET);
    spdifLayout->addWidget(SPDIF_TX_STOP);
    spdifLayout->addStretch(1);
    spdifLayout->addWidget(SetTXCMD);

    // --- codec address ---
    auto* addressGroup = makeGroup(central, "CodecAddressGroup", "Codec I2C Address Setup");
    setcodecI2C = new QPushButton("Set Codec IIC Address", addressGroup);
    setcodecI2C->setObjectName("setcodecI2C");
    auto* addressLayout = new QHBoxLayout(addressGroup);
    addressLayout->addWidget(setcodecI2C);
    addressLayout->addStretch(1);

    // --- clock, supply and PLL ---
    auto* clockGroup = makeGroup(central, "ClockGroup", "Setup MCLK &&  PLL for Codec");
    auto* clockPanel = evb::InnerGroupPanel(clockGroup, "ClockPanel");
    auto* mclkGroup = makeGroup(clockPanel, "MclkGroup", "Select MCLK ");
    Sel_OSC_CLK = makeRadio(mclkGroup, "Sel_OSC_CLK", "Use Oscillator Clock");
    Sel_SPDIF_DMCLK = makeRadio(mclkGroup, "Sel_SPDIF_DMCLK", "Use SPDIF DMCLK");
    Sel_SPDIF_AMCLK = makeRadio(mclkGroup, "Sel_SPDIF_AMCLK", "Use SPDIF AMCLK");
    mclktxt = new QLineEdit("13", mclkGroup);
    mclktxt->setObjectName("mclktxt");
    mclktxt->setMaximumWidth(60);
    auto* mclkRow = new QHBoxLayout;
    auto* mclkLabel = new QLabel("MCLK = ", mclkGroup);
    mclkLabel->setBuddy(mclktxt);
    mclkRow->addWidget(mclkLabel);
    mclkRow->addWidget(mclktxt);
    mclkRow->addWidget(new QLabel("MHz", mclkGroup));
    mclkRow->addStretch(1);
    auto* mclkLayout = new QVBoxLayout(mclkGroup);
    mclkLayout->addWidget(Sel_OSC_CLK);
    mclkLayout->addWidget(Sel_SPDIF_DMCLK);
    mclkLayout->addWidget(Sel_SPDIF_AMCLK);
    mclkLayout->addLayout(mclkRow);

    auto* lrckGroup = makeGroup(clockPanel, "LrckGroup", "Set LRCK Frequency");
    LRCKTXT = new QLineEdit("48", lrckGroup);
    LRCKTXT->setObjectName("LRCKTXT");
    LRCKTXT->setMaximumWidth(60);
    auto* lrckLayout = new QHBoxLayout(lrckGroup);
    auto* lrckLabel = new QLabel("LRCK = ", lrckGroup);
    lrckLabel->setBuddy(LRCKTXT);
    lrckLayout->addWidget(lrckLabel);
    lrckLayout->addWidget(LRCKTXT);
    lrckLayout->addWidget(new QLabel("kHz", lrckGroup));
    lrckLayout->addStretch(1);

    DvddGroup = makeGroup(clockPanel, "DvddGroup", "Select DVDD  Voltage");
    DVDD2 = makeRadio(DvddGroup, "DVDD2", "DVDD <=2 .0V");
    DVDD2P5 = makeRadio(DvddGroup, "DVDD2P5", "2.0V < DVDD <= 2.5V");
    DVDD3P3 = makeRadio(DvddGroup, "DVDD3P3", "2.5V < DVDD <= 3.3V");
    auto* dvddLayout = new QVBoxLayout(DvddGroup);
    dvddLayout->addWidget(DVDD2);
    dvddLayout->addWidget(DVDD2P5);
    dvddLayout->addWidget(DVDD3P3);

    PLL_USE_CHK = new QCheckBox("PLL Used", clockGroup);
    PLL_USE_CHK->setObjectName("PLL_USE_CHK");
    PLLCMD = new QPushButton("PLL Configuration", clockGroup);
    PLLCMD->setObjectName("PLLCMD");
    auto* pllRow = new QHBoxLayout;
    pllRow->addWidget(PLL_USE_CHK);
    pllRow->addStretch(1);
    pllRow->addWidget(PLLCMD);

    auto* clockGrid = new QGridLayout(clockPanel);
    clockGrid->setContentsMargins(0, 0, 0, 0);
    clockGrid->addWidget(mclkGroup, 0, 0, 2, 1);
    clockGrid->addWidget(lrckGroup, 0, 1);
    clockGrid->addWidget(DvddGroup, 1, 1);
    qobject_cast<QVBoxLayout*>(clockGroup->layout())->addLayout(pllRow);

    // --- serial audio port routing ---
    auto* sdpGroup = makeGroup(central, "SdpGroup", "Set SDP SPDIF<=>Codec ");
    auto* sdpPanel = evb::InnerGroupPanel(sdpGroup, "SdpPanel");
    SDP1Group = makeGroup(sdpPanel, "SDP1Group", "SDP1 (I2S Port DAC)");
    SDP1_MS = makeRadio(SDP1Group, "SDP1_MS", "Codec=>Spdif");
    SDP1_SLV = makeRadio(SDP1Group, "SDP1_SLV", "Spdif=>Codec");
    SDP2Group = makeGroup(sdpPanel, "SDP2Group", "SDP2 (I2S Port ADC)");
    SDP2_MS = makeRadio(SDP2Group, "SDP2_MS", "Codec=>Spdif");
    SDP2_SLV = makeRadio(SDP2Group, "SDP2_SLV", "Spdif=>Codec");
    SDP3Group = makeGroup(sdpPanel, "SDP3Group", "SDP3 (I2S Port 3)");
    SDP3_MS = makeRadio(SDP3Group, "SDP3_MS", "Codec=>Spdif");
    SDP3_SLV = makeRadio(SDP3Group, "SDP3_SLV", "Spdif=>Codec");
    auto* sdpLayout = new QHBoxLayout(sdpPanel);
    sdpLayout->setContentsMargins(0, 0, 0, 0);
    for (auto [group, ms, slv] :
         {std::tuple{SDP1Group, SDP1_MS, SDP1_SLV}, std::tuple{SDP2Group, SDP2_MS, SDP2_SLV},
          std::tuple{SDP3Group, SDP3_MS, SDP3_SLV}}) {
        auto* layout = new QVBoxLayout(group);
        layout->addWidget(ms);
        layout->addWidget(slv);
        sdpLayout->addWidget(group);
    }
    SDP3Group->setEnabled(false);
    SDP3_MS->setEnabled(false);
    SDP3_SLV->setEnabled(false);

    // --- console pane ---
    UARTSHOW = new QTextEdit(central);
    UARTSHOW->setObjectName("UARTSHOW");
    UARTSHOW->setAccessibleName("Console");
    UARTSHOW->setTabChangesFocus(true); // Tab moves on instead of typing into the console
    UARTSHOW->setAcceptRichText(false);
    UARTSHOW->setUndoRedoEnabled(false);
    UARTSHOW->setLineWrapMode(QTextEdit::NoWrap);
    UARTSHOW->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A monospaced face that also carries the full-width colon, and narrow enough for the
    // banners to fit the pane.
    QFont consoleFont("Noto Sans Mono CJK SC");
    consoleFont.setStyleHint(QFont::Monospace);
    consoleFont.setPointSize(9);
    UARTSHOW->setFont(consoleFont);
    UARTSHOW->setMinimumSize(560, 380);
    UARTSHOW->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(UARTSHOW, &QTextEdit::customContextMenuRequested, this, &Tmainfrm::UARTSHOWContextPopup);

    HEXSHOW = new QCheckBox("Display in Hex", central);
    HEXSHOW->setObjectName("HEXSHOW");
    ClrCMD = new QPushButton("Clear Display Area", central);
    ClrCMD->setObjectName("ClrCMD");
    Image1 = new QLabel(central);
    Image1->setObjectName("Image1");
    Image1->setPixmap(drawBoardPicture());
    Image1->setCursor(Qt::PointingHandCursor);
    Image1->setFocusPolicy(Qt::StrongFocus);
    Image1->setToolTip("Read the board information");
    Image1->setAccessibleName("Evaluation board: read the board information");
    Image1->installEventFilter(this);
    Label8 = new QLabel(QString::fromUtf8("Version\uFF1A2.4.5.2    "), central);
    Label8->setObjectName("Label8");

    auto* left = new QVBoxLayout;
    left->addWidget(rs232Group);
    left->addWidget(SpdifGroup);
    left->addWidget(addressGroup);
    left->addWidget(clockGroup);
    left->addWidget(sdpGroup);
    left->addStretch(1);

    auto* consoleButtons = new QHBoxLayout;
    consoleButtons->addWidget(HEXSHOW);
    consoleButtons->addStretch(1);
    consoleButtons->addWidget(ClrCMD);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Image1);
    bottom->addStretch(1);
    bottom->addWidget(Label8, 0, Qt::AlignBottom);
    auto* right = new QVBoxLayout;
    right->addWidget(UARTSHOW, 1);
    right->addLayout(consoleButtons);
    right->addLayout(bottom);

    auto* outer = new QHBoxLayout(central);
    outer->addLayout(left);
    outer->addLayout(right, 1);

    // Handlers. A radio button's handler runs whenever it becomes checked (by the user or by
    // code); a check box's whenever its state changes. Unticking an unticked box runs nothing.
    auto onChecked = [this](QRadioButton* button, void (Tmainfrm::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool on) {
            if (on) runHandler([this, handler] { (this->*handler)(); });
        });
    };
    auto onToggled = [this](QCheckBox* box, void (Tmainfrm::*handler)()) {
        connect(box, &QCheckBox::toggled, this,
                [this, handler] { runHandler([this, handler] { (this->*handler)(); }); });
    };
    auto onClicked = [this](QPushButton* button, void (Tmainfrm::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { runHandler([this, handler] { (this->*handler)(); }); });
    };
    onClicked(setrs232cmd, &Tmainfrm::setrs232cmdClick);
    onClicked(Refresh, &Tmainfrm::RefreshClick);
    onToggled(SPDIF_RESET, &Tmainfrm::SPDIF_RESETClick);
    onToggled(SPDIF_TX_STOP, &Tmainfrm::SPDIF_TX_STOPClick);
    onClicked(SetTXCMD, &Tmainfrm::SetTXCMDClick);
    onClicked(setcodecI2C, &Tmainfrm::setcodecI2CClick);
    onChecked(Sel_OSC_CLK, &Tmainfrm::Sel_OSC_CLKClick);
    onChecked(Sel_SPDIF_DMCLK, &Tmainfrm::Sel_SPDIF_DMCLKClick);
    onChecked(Sel_SPDIF_AMCLK, &Tmainfrm::Sel_SPDIF_AMCLKClick);
    onChecked(DVDD2, &Tmainfrm::DVDD2Click);
    onChecked(DVDD2P5, &Tmainfrm::DVDD2P5Click);
    onChecked(DVDD3P3, &Tmainfrm::DVDD3P3Click);
    onToggled(PLL_USE_CHK, &Tmainfrm::PLL_USE_CHKClick);
    onClicked(PLLCMD, &Tmainfrm::PLLCMDClick);
    onChecked(SDP1_MS, &Tmainfrm::SDP1_MSClick);
    onChecked(SDP1_SLV, &Tmainfrm::SDP1_SLVClick);
    onChecked(SDP2_MS, &Tmainfrm::SDP2_MSClick);
    onChecked(SDP2_SLV, &Tmainfrm::SDP2_SLVClick);
    onChecked(SDP3_MS, &Tmainfrm::SDP3_MSClick);
    onChecked(SDP3_SLV, &Tmainfrm::SDP3_SLVClick);
    onToggled(HEXSHOW, &Tmainfrm::HEXSHOWClick);
    onClicked(ClrCMD, &Tmainfrm::ClrCMDClick);
}

void Tmainfrm::BuildMenus() {
    auto add = [this](QMenu* menu, const QString& caption, const char* name, bool enabled,
                      void (Tmainfrm::*handler)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        action->setEnabled(enabled);
        if (handler)
            connect(action, &QAction::triggered, this,
                    [this, handler] { runHandler([this, handler] { (this->*handler)(); }); });
        return action;
    };

    QMenu* codec = menuBar()->addMenu("Codec Type");
    codec->setObjectName("CodecType");
    for (int row = 0; row < evb::kProfileCount; ++row) {
        const evb::CodecMenuEntry& entry = evb::ChipProfileTable()[static_cast<std::size_t>(row)].menu;
        QAction* action = add(codec, entry.caption, entry.name, entry.enabled, nullptr);
        if (entry.code != 0)
            connect(action, &QAction::triggered, this,
                    [this, row] { runHandler([this, row] { selectCodecType(row); }); });
    }
    codec->addSeparator();
    EXIT1 = add(codec, "EXIT", "EXIT1", true, &Tmainfrm::EXIT1Click);

    QMenu* communication = menuBar()->addMenu("Communication");
    communication->setObjectName("Communication");
    RS2321 = add(communication, "Codec I2C Address", "RS2321", true, &Tmainfrm::RS2321Click);
    RS2322 = add(communication, "RS-232 Port", "RS2322", true, &Tmainfrm::RS2322Click);
    LinkMonitor1 = add(communication, "Link Monitor", "LinkMonitor1", true, &Tmainfrm::LinkMonitor1Click);
    RegisterWatch1 = add(communication, "Register Watch", "RegisterWatch1", true, &Tmainfrm::RegisterWatch1Click);

    QMenu* eq = menuBar()->addMenu("EQTool");
    eq->setObjectName("EQTool");
    add(eq, "CorvaneEQ", "EQ2", true, &Tmainfrm::EQ2Click);

    QMenu* instructions = menuBar()->addMenu("Instructions");
    instructions->setObjectName("Instructions");
    add(instructions, "EQ Instruction", "EQInstruction1", true, &Tmainfrm::EQInstruction1Click);
    add(instructions, "EVB Instruction", "EVBInstructions1", true, &Tmainfrm::EVBInstructions1Click);
    add(instructions, "Matlab Instruction", "MatlabInstruction1", true, &Tmainfrm::MatlabInstruction1Click);

    QMenu* about = menuBar()->addMenu("About");
    about->setObjectName("About");
    add(about, "Corvane Evaluation Software", "VersionV221", true, &Tmainfrm::VersionV221Click);
}

bool Tmainfrm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image1 && Image1->isEnabled() && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && Image1->rect().contains(mouse->position().toPoint())) {
            runHandler([this] { Image1Click(); });
            return true;
        }
    }
    // The picture takes the keyboard focus too: Space or Enter is its click.
    if (watched == Image1 && Image1->isEnabled() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
            runHandler([this] { Image1Click(); });
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void Tmainfrm::Start() {
    runHandler([this] { FormCreate(); });
}

namespace {

// Whether a window can talk to the board (or change the port under it): createdOnce asks it
// of every window it creates.
enum class Sends { Nothing, ToTheBoard };

template <class Window>
Window* createdOnce(Window*& slot, Tmainfrm& main, Sends sends) {
    if (slot) return slot;
    slot = new Window(&main);
    // A window that sends waits, as every one does, for the end of a configuration batch.
    if (sends == Sends::ToTheBoard) {
        slot->setEnabled(!main.Session().Sending().active);
        QObject::connect(&main.Bridge(), &SessionBridge::sendingChanged, slot,
                         [w = slot](bool sending) { w->setEnabled(!sending); });
    }
    return slot;
}

} // namespace

Tkv2580mfrm* Tmainfrm::RegisterConsole() {
    if (!Windows.kv2580mfrm) {
        // The sender of the batches: it locks its own controls while it sends one.
        createdOnce(Windows.kv2580mfrm, *this, Sends::Nothing);
        // Register replies and transmit-empty reports are the register console's to show and use.
        connect(m_bridge, &SessionBridge::reply, Windows.kv2580mfrm, &Tkv2580mfrm::renderReply);
        connect(m_bridge, &SessionBridge::transmitterEmpty, Windows.kv2580mfrm, &Tkv2580mfrm::TransmitterEmpty);
        connect(Windows.kv2580mfrm, &Tkv2580mfrm::watchRegister, this, [this](int reg) {
            if (reg >= 0) RegisterWatchWindow()->addWatch(QString::fromStdString("0x" + evb::Hex2(static_cast<unsigned>(reg))));
            ShowToolWindow(RegisterWatchWindow());
        });
    }
    return Windows.kv2580mfrm;
}
TRS232CfgFrm* Tmainfrm::Rs232Window() {
    return createdOnce(Windows.RS232CfgFrm, *this, Sends::ToTheBoard);
}
Twarnfrm* Tmainfrm::WarningWindow() {
    return createdOnce(Windows.warnfrm, *this, Sends::Nothing);
}
TSetCodecComodeFrm* Tmainfrm::ControlInterfaceWindow() {
    return createdOnce(Windows.SetCodecComodeFrm, *this, Sends::ToTheBoard);
}
TSPDIFConfigFRM* Tmainfrm::SpdifWindow() {
    return createdOnce(Windows.SPDIFConfigFRM, *this, Sends::ToTheBoard);
}
TForm6* Tmainfrm::AboutWindow() {
    return createdOnce(Windows.Form6, *this, Sends::Nothing);
}
TForm1* Tmainfrm::MatlabWindow() {
    return createdOnce(Windows.Form1, *this, Sends::Nothing);
}

// ---------------------------------------------------------------------------------------------
// Console pane and warning window

void Tmainfrm::ConsoleAppend(const std::string& text) {
    QString converted = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    converted.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    converted.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // Replaces the selection (or inserts at the caret) and leaves the caret after the text.
    QTextCursor cursor = UARTSHOW->textCursor();
    cursor.insertText(converted);
    UARTSHOW->setTextCursor(cursor);
    UARTSHOW->ensureCursorVisible();
}

void Tmainfrm::ShowWarning(const std::string& line1, const std::string& line2) {
    WarningWindow()->Report(QString::fromStdString(line1), QString::fromStdString(line2));
}

bool Tmainfrm::isApplicationForm(const QWidget* window) const {
    if (!window) return false;
    const QWidget* forms[] = {this,
                              Windows.kv2580mfrm,
                              Windows.RS232CfgFrm,
                              Windows.warnfrm,
                              Windows.SetCodecComodeFrm,
                              Windows.SPDIFConfigFRM,
                              Windows.Form6,
                              Windows.Form1,
                              Windows.LinkMonitorFrm,
                              Windows.RegisterWatchFrm};
    for (const QWidget* form : forms)
        if (form == window) return true;
    return false;
}

bool Tmainfrm::ShowToolWindow(QWidget* window) {
    if (!isApplicationForm(window)) return false;
    if (window->isMinimized()) window->showNormal();
    if (!window->isVisible()) window->show();
    window->raise();
    window->activateWindow();
    return true;
}

void Tmainfrm::runHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const TalonComm::ETalonCommError& e) {
        showErrorBox(QString::fromUtf8(e.what()), QString::fromUtf8(e.OsReason().c_str()));
    } catch (const std::exception& e) {
        showErrorBox(QString::fromUtf8(e.what()), QString());
    }
}

void Tmainfrm::showErrorBox(const QString& message, const QString& reason) {
    QString text = message;
    if (!reason.isEmpty()) text += "\n" + reason;
    auto* box =
        new QMessageBox(QMessageBox::Critical, QApplication::applicationName(), text, QMessageBox::Ok, this);
    box->setObjectName("ErrorBox");
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Does not block the caller: the rest of the program stays usable behind it.
    box->open();
}

// ---------------------------------------------------------------------------------------------
// Start-up and "Refresh"

std::vector<std::string> Tmainfrm::StartupPortNames() const {
    std::vector<std::string> names;
    if (m_options.listMachinePorts) {
        // The system console's port is opened only when the user names it.
        TalonComm::TCommSerialPortInfo info(m_options.sysRoot);
        for (int i = 0; i < info.List->SPCount(); ++i)
            if (!info.List->SPInfo(i).SystemConsole) names.push_back(info.List->PortName(i));
    }
    if (!m_options.extraPort.empty()) names.push_back(m_options.extraPort);
    if (!m_options.simulatedPort.empty()) names.push_back(m_options.simulatedPort);
    return names;
}

void Tmainfrm::FormCreate() {
    initialiseBoard(false);
}

void Tmainfrm::RefreshClick() {
    // A start-up cut short by a port that would not open left the commands masked; "Refresh"
    // runs with them enabled, as after a complete start-up.
    evb::BoardReady = 255;
    initialiseBoard(true);
}

void Tmainfrm::initialiseBoard(bool refresh) {
    auto& gBoard = evb::Board();
    if (refresh) {
        UARTSHOW->clear();
    } else {
        evb::BoardReady = 0;
    }
    evb::ExpectedReply = 0;
    ConsoleAppend(kStartBanner);
    m_session->DisarmReopen();

    // Every port is opened in turn; the last one stays open. A port that cannot be opened
    // throws out of here and the rest is skipped.
    const std::vector<std::string> ports = StartupPortNames();
    for (std::size_t i = 0; i < ports.size(); ++i) {
        ConsoleAppend(" Set RS232 PORT" + std::to_string(i + 1) + " : " + ports[i] + "\r\n");
        warnIfSystemConsole(ports[i]);
        RS232.fSetPortName(ports[i]);
        RS232.fSetActive(true);
    }
    RS232.fSetPackageType(TalonComm::cptFrameTimeout);
    RS232.fSetUsePackage(true);

    gBoard.CommMode = 0;
    gBoard.ChipAddress = 0x20;
    if (refresh) evb::CmdChipAddress(0x20);
    ConsoleAppend(" Set the COMM Mode:IIC Mode        Set the CHIP Address:0x20\r\n");
    if (refresh && Windows.SPDIFConfigFRM) Windows.SPDIFConfigFRM->hide();

    gBoard.Spdif.reset = 0;
    SPDIF_RESET->setChecked(false);
    gBoard.Spdif.stop = 0;
    SPDIF_TX_STOP->setChecked(false);
    gBoard.Spdif.rx_mode = 0;
    gBoard.Spdif.rx_mclk_ratio = 1;
    gBoard.Spdif.rx_sclk_ratio = 0x40;
    gBoard.Spdif.rx_resolution = 0x10;
    gBoard.Spdif.rx_format = 1;

    ConsoleAppend(kSpdifBanner);
    ConsoleAppend(refresh
                      ? " Mode:Master Format:IIS   Resolution:24 Bits   MCLK/LRCK:256  SCLK/LRCK:64\r\n"
                      : " Mode:Master  Format:IIS   Resolution:24 Bits   MCLK/LRCK:256  SCLK/LRCK:64\r\n");

    gBoard.Spdif.tx_mode = 1;
    gBoard.Spdif.tx_mclk_ratio = 1;
    gBoard.Spdif.tx_sclk_ratio = 0x40;
    gBoard.Spdif.tx_resolution = 0x10;
    gBoard.Spdif.tx_format = 1;

    // Checking runs the click handlers of the buttons whose state changes; while BoardReady is
    // 0 (start-up) their commands are dropped.
    Sel_SPDIF_DMCLK->setChecked(true);
    DVDD2->setChecked(true);
    SDP1_SLV->setChecked(true);
    SDP2_MS->setChecked(true);
    SDP3_SLV->setChecked(true);
    PLL_USE_CHK->setChecked(false);
    gBoard.PllUsed = 0;

    if (!refresh) evb::BoardReady = 255;
    gBoard.PllMclk = 13000000.0f;
    gBoard.PllLrck = 48000.0f;
    if (refresh) {
        evb::CmdMclkSource(0);
        evb::CmdSdpDirection(0, 1);
        evb::CmdSdpDirection(1, 0);
        evb::CmdSdpDirection(2, 1);
    }
    ConsoleAppend(kEndBanner);
}

void Tmainfrm::ClrCMDClick() {
    UARTSHOW->clear();
}

void Tmainfrm::HEXSHOWClick() {}

void Tmainfrm::EXIT1Click() {
    close();
}

// ---------------------------------------------------------------------------------------------
// Clock, supply and PLL

void Tmainfrm::Sel_OSC_CLKClick() {
    evb::CmdMclkSource(1);
    ConsoleAppend(" Set the MCLK:Use Oscillator Clock\r\n");
}

void Tmainfrm::Sel_SPDIF_DMCLKClick() {
    evb::CmdMclkSource(0);
    ConsoleAppend(" Set the MCLK:Use SPDIF DMCLK\r\n");
}

void Tmainfrm::Sel_SPDIF_AMCLKClick() {
    evb::CmdMclkSource(3);
    ConsoleAppend(" Set the MCLK:Use SPDIF AMCLK\r\n");
}

void Tmainfrm::DVDD2Click() {
    evb::Board().Supply = evb::SupplyRange::Dvdd2V0;
}

void Tmainfrm::DVDD2P5Click() {
    evb::Board().Supply = evb::SupplyRange::Dvdd2V5;
}

void Tmainfrm::DVDD3P3Click() {
    evb::Board().Supply = evb::SupplyRange::Dvdd3V3;
}

void Tmainfrm::PLL_USE_CHKClick() {
    evb::Board().PllUsed = PLL_USE_CHK->isChecked() ? 1 : 0;
}

void Tmainfrm::PLLCMDClick() {
    auto& gBoard = evb::Board();
    // Where the values are sent, a typo must not program a PLL nobody asked for.
    if (gBoard.PllUsed == 1) {
        std::string problem;
        if (!evb::ReadNumberField(mclktxt->text().toStdString(), {"MCLK in MHz", 1, 100, false}, &problem) ||
            !evb::ReadNumberField(LRCKTXT->text().toStdString(), {"LRCK in kHz", 1, 768, false}, &problem)) {
            ConsoleAppend(" PLL Configuration: " + problem + "; nothing sent\r\n");
            return;
        }
    }
    const evb::PllValues pll = evb::ComputePll(mclktxt->text().toStdString(), LRCKTXT->text().toStdString());
    gBoard.PllMclk = pll.mclk;
    gBoard.PllLrck = pll.lrck;
    if (!pll.valid) {
        // MCLK 0 gives no ratio: nothing meaningful can be programmed.
        ConsoleAppend(" PLL Configuration: MCLK " + mclktxt->text().toStdString() +
                      " MHz gives no PLL ratio; nothing sent\r\n");
        return;
    }
    gBoard.PllN = pll.n;
    gBoard.PllK = pll.k;
    if (gBoard.PllUsed != 1) return;
    m_session->SetWriteSource("PLL Configuration"); // as a recording names these writes
    for (const evb::PllRegisterWrite& w : evb::PllRegisterWrites(pll, gBoard.Supply))
        evb::CmdWriteReg(w.reg, w.value);
    m_session->SetWriteSource("");
}

// ---------------------------------------------------------------------------------------------
// Serial audio port routing and S/PDIF

namespace {

void sdpDirection(Tmainfrm& window, std::uint8_t port, std::uint8_t dir) {
    evb::CmdSdpDirection(port, dir);
    evb::Board().SdpFlag[port] = dir;
    window.ConsoleAppend(" Set the SDP" + std::to_string(port + 1) +
                         (dir ? ":Spdif=>Codec\r\n" : ":Codec=>Spdif\r\n"));
}

} // namespace

void Tmainfrm::SDP1_MSClick() {
    sdpDirection(*this, 0, 0);
}
void Tmainfrm::SDP1_SLVClick() {
    sdpDirection(*this, 0, 1);
}
void Tmainfrm::SDP2_MSClick() {
    sdpDirection(*this, 1, 0);
}
void Tmainfrm::SDP2_SLVClick() {
    sdpDirection(*this, 1, 1);
}
void Tmainfrm::SDP3_MSClick() {
    sdpDirection(*this, 2, 0);
}
void Tmainfrm::SDP3_SLVClick() {
    sdpDirection(*this, 2, 1);
}

void Tmainfrm::SPDIF_RESETClick() {
    if (SPDIF_RESET->isChecked()) {
        evb::CmdSpdifReset(1);
        evb::Board().Spdif.reset = 1;
        ConsoleAppend(" SPDIF Reset.........\r\n");
    } else {
        evb::CmdSpdifReset(0);
        evb::Board().Spdif.reset = 0;
        ConsoleAppend(" SPDIF Reset Release\r\n");
    }
}

void Tmainfrm::SPDIF_TX_STOPClick() {
    if (SPDIF_TX_STOP->isChecked()) {
        evb::CmdSpdifTxStop(1);
        evb::Board().Spdif.stop = 1;
        ConsoleAppend(" SPDIF stop.........\r\n");
    } else {
        evb::CmdSpdifTxStop(0);
        evb::Board().Spdif.stop = 0;
        ConsoleAppend(" SPDIF stop Release\r\n");
    }
}

void Tmainfrm::SetTXCMDClick() {
    TSPDIFConfigFRM* w = SpdifWindow();
    w->show();
    w->setWindowTitle("SPDIF Configuration");
    w->SPDIFTitle->setTitle("SPDIF Configuration");
    w->SPDIF_LRC_384->setEnabled(false);
    w->SPDIF_LRC_384->hide();
    w->SPDIF_LRC_512->setEnabled(false);
    w->SPDIF_LRC_512->hide();
    w->SPDIF_LRC_128->move(w->SPDIF_LRC_128->x(), 55);
    w->SPDIF_LRC_256->move(w->SPDIF_LRC_256->x(), 30);

    auto& s = evb::Board().Spdif;
    s.selector = 0;
    auto check = [](QRadioButton* button) {
        if (button) button->setChecked(true);
    };
    check(s.rx_mode == 0 ? w->SPDIF_MASTER : s.rx_mode == 1 ? w->SPDIF_SLAVE : nullptr);
    check(s.rx_format == 0   ? w->SPDIF_FMT_LJ
          : s.rx_format == 1 ? w->SPDIF_FMT_I2S
          : s.rx_format == 2 ? w->SPDIF_FMT_RJ
                             : nullptr);
    check(s.rx_resolution == 0x10   ? w->SPDIF_FMT_B24
          : s.rx_resolution == 0x11 ? w->SPDIF_FMT_B20
          : s.rx_resolution == 0x12 ? w->SPDIF_FMT_B16
                                    : nullptr);
    check(s.rx_mclk_ratio == 0 ? w->SPDIF_LRC_128 : s.rx_mclk_ratio == 1 ? w->SPDIF_LRC_256 : nullptr);
    check(s.rx_sclk_ratio == 0x40 ? w->SPDIF_SCLK_64 : s.rx_sclk_ratio == 0x80 ? w->SPDIF_SCLK_128 : nullptr);
    ShowToolWindow(w);
}

// ---------------------------------------------------------------------------------------------
// Codec control interface

void Tmainfrm::setcodecI2CClick() {
    TSetCodecComodeFrm* w = ControlInterfaceWindow();
    const auto addressText = [] { return QString::fromStdString("0x" + evb::Hex2(evb::Board().ChipAddress)); };
    // Checking the buttons runs their handlers; nothing they would send may reach the board.
    evb::BoardReady = 0;
    w->ChipaddTxt->setText(addressText());
    (evb::Board().CommMode == 1 ? w->CODEC_SPI_SEL : w->CODEC_I2C_SEL)->setChecked(true);
    QRadioButton* address = w->AddressButton(evb::Board().ChipAddress);
    (address ? address : w->CODEC_ADDR_WR)->setChecked(true);
    evb::BoardReady = 255;
    w->ChipaddTxt->setText(addressText());
    ShowToolWindow(w);
    w->ChipaddTxt->setText(addressText());
}

void Tmainfrm::RS2321Click() {
    TSetCodecComodeFrm* w = ControlInterfaceWindow();
    evb::BoardReady = 0;
    w->ChipaddTxt->setText(QString::fromStdString("0x" + evb::Hex2(evb::Board().ChipAddress)));
    if (evb::Board().CommMode == 0) w->CODEC_I2C_SEL->setChecked(true);
    if (evb::Board().CommMode == 1) w->CODEC_SPI_SEL->setChecked(true);
    QRadioButton* address = w->AddressButton(evb::Board().ChipAddress);
    (address ? address : w->CODEC_ADDR_WR)->setChecked(true);
    evb::BoardReady = 255;
    ShowToolWindow(w);
}

// ---------------------------------------------------------------------------------------------
// Serial port selection

void Tmainfrm::setrs232cmdClick() {
    // After a start-up cut short, choosing a port by hand ends the masking of commands too.
    evb::BoardReady = 255;
    m_session->DisarmReopen();
    const std::string typed = RS232_CommPort->text().toStdString();
    const std::string path = RS232_CommPort->text().trimmed().toStdString();
    // A device path or a network port (tcp://, rfc2217://) selects that port as it stands (USB
    // adapters, pseudo-terminals have no COM number); anything else is a port number.
    if ((!path.empty() && path.front() == '/') || TalonComm::TNetLine::IsNetName(path)) {
        RS232.fSetPortName(path);
        ConsoleAppend(" Set RS232 PORT :" + path + "\r\n");
    } else {
        const int n = evb::StrToIntDef(typed, 128);
        RS232.fSetPortNo(n);
        ConsoleAppend(" Set RS232 PORT :COM" + std::to_string(n) + "\r\n");
    }
    warnIfSystemConsole(RS232.fGetPortName());
    RS232.fSetByteSize(8);
    RS232.fSetBaudRate(19200);
    RS232.fSetActive(true);
    RS232.fSetPackageType(TalonComm::cptFrameTimeout);
    RS232.fSetUsePackage(true);
}

void Tmainfrm::warnIfSystemConsole(const std::string& port) {
    if (TalonComm::TCommSerialPortInfo::IsSystemConsole(port, m_options.sysRoot))
        ConsoleAppend(" Warning: " + port + " is the system console: what is sent there reaches the machine's console\r\n");
}

void Tmainfrm::RS2322Click() {
    ShowToolWindow(Rs232Window());
}
