#include "console/Tkv2580mfrm.h"

#include "console/ChipProfiles.h"
#include "console/ConfigSendRun.h"
#include "console/RegisterState.h"
#include "protocol/BoardCommand.h"
#include "protocol/BoardState.h"
#include "protocol/BoardSession.h"
#include "protocol/Command.h"
#include "protocol/ConfigCheck.h"
#include "protocol/ConfigLines.h"
#include "protocol/ConfigSender.h"
#include "protocol/NamedRegisters.h"
#include "protocol/NumberField.h"
#include "protocol/ReplyFormat.h"
#include "protocol/TextConv.h"

#include <QCompleter>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QShortcut>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>

using namespace evb;

namespace {

constexpr int kGridColumns = 17;
constexpr int kGridRows = 17;
constexpr int kDesignColumnWidth = 50;
constexpr int kProfileColumnWidth = 45;
constexpr int kRowHeight = 25;
// "：" (U+FF1A), the full-width colon of the console texts.
constexpr const char* kWideColon = "\xEF\xBC\x9A";

void say(const std::string& text) {
    if (IUserReport* report = UserReport()) report->ConsoleAppend(text);
}

QFont boldFont(int pixelSize) {
    QFont f("Arial");
    f.setPixelSize(pixelSize);
    f.setBold(true);
    return f;
}

QString valueText(std::uint8_t v) {
    return QString::fromStdString("  0x" + Hex2(v));
}

struct ButtonPlace {
    int left, top, width;
};

ButtonPlace presetPlace(int index) {
    if (index < kButtonB1) return {8, 320 + 32 * (index - kButtonA1), 241};
    if (index < kButtonC1) return {264, 352 + 32 * (index - kButtonB1), 249};
    return {528, 320 + 32 * (index - kButtonC1), 249};
}

constexpr std::array<const char*, kPresetButtonCount> kDesignCaptions{
    "POWER ON INITIALIZE KV2930",
    "Headphone Playback",
    "Speaker Playback",
    "MONOOUT Playback",
    "LINEOUT Playback",
    "Record  from MICP/N ",
    "Record  from MONOINP/N",
    "Record  from AINL/R ",
    "DMIC Record",
    "POWER DOWN KV2930",
    "Power Down Headphone Playback ",
    "Power Down Speaker Playback",
    "Power Down MONOOUT Playback ",
    "Power Down LINEOUT Playback",
    "Power Down Record  from MICP/N",
    "Power Down Record  from MONOINP/N ",
    "Power Down Record  from AINL/R",
    "Power Down DMIC Record",
    "GPIO && Headphoe Detection",
    "Equalizer Calculator",
    "External Class D or Class AB TEST",
};

} // namespace

Tkv2580mfrm::Tkv2580mfrm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_config(kConfigBufferSize), m_preset(kPresetBufferSize) {
    setObjectName("kv2580mfrm");
    setWindowTitle("KV2580 Evaluation");
    QFont base("Arial");
    base.setPointSize(8);
    setFont(base);
    buildLayout();
    buildSnapshotActions();
    buildUndoActions();
    buildRecordActions();
    buildFieldPanel();
    opfcmd = [this]() {
        QFileDialog dialog(this);
        dialog.setObjectName("opfcmd");
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setNameFilter("Text files (*.txt)");
        if (dialog.exec() != QDialog::Accepted) return QStringList{};
        return dialog.selectedFiles();
    };
    FormCreate();
}

Tkv2580mfrm::~Tkv2580mfrm() {
    dropUndoObserver();
    // The children go once this class's part is gone: none of them may call back into it then
    // (an undo stack that clears itself on the way reports its index).
    for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
    // The completer goes before the list it completes from and the field it serves.
    delete FindRegCompleter;
}

void Tkv2580mfrm::buildLayout() {
    auto bevel = [this](int x, int y, int w, int h) {
        auto* frame = new QFrame(this);
        frame->setFrameShape(QFrame::Box);
        frame->setFrameShadow(QFrame::Sunken);
        frame->setGeometry(x, y, w, h);
        frame->lower();
    };
    auto label = [this](const char* name, const char* text, int x, int y, const QFont& font) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setObjectName(name);
        l->setFont(font);
        l->adjustSize();
        l->move(x, y);
        return l;
    };
    auto button = [this](const char* name, const char* text, int x, int y, int w,
                         void (Tkv2580mfrm::*handler)()) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setObjectName(name);
        b->setGeometry(x, y, w, 33);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    auto edit = [this](const char* name, const char* text, int x, int y) {
        auto* e = new QLineEdit(QString::fromUtf8(text), this);
        e->setObjectName(name);
        QFont f("Arial");
        f.setPixelSize(19);
        e->setFont(f);
        // Blue as the theme draws links: Qt::blue on a light palette, a light blue on a dark one.
        QPalette pal = e->palette();
        pal.setColor(QPalette::Text, pal.color(QPalette::Link));
        e->setPalette(pal);
        e->setGeometry(x, y, 73, 32);
        return e;
    };

    RegFrm = new QGroupBox("KV2580 Register Map", this);
    RegFrm->setObjectName("RegFrm");
    RegFrm->setFont(boldFont(14));
    RegFrm->setGeometry(8, 0, 937, 281);

    RegMapGrid = new QTableWidget(kGridRows, kGridColumns, RegFrm);
    RegMapGrid->setObjectName("RegMapGrid");
    RegMapGrid->setFont(font());
    RegMapGrid->setGeometry(8, 24, 921, 250);
    RegMapGrid->horizontalHeader()->hide();
    RegMapGrid->verticalHeader()->hide();
    RegMapGrid->horizontalHeader()->setDefaultSectionSize(kDesignColumnWidth);
    RegMapGrid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    RegMapGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    RegMapGrid->setSelectionMode(QAbstractItemView::SingleSelection);

    Label1 = label("Label1", "Register Address ", 728, 432, boldFont(14));
    RegAddrTxt = edit("RegAddrTxt", "0x00", 872, 432);
    Label2 = label("Label2", "Register Value", 744, 480, boldFont(14));
    RegDatTxt = edit("RegDatTxt", "0x", 872, 480);

    RDRegCMD = button("RDRegCMD", "Read Register", 536, 432, 177, &Tkv2580mfrm::RDRegCMDClick);
    WRRegCMD = button("WRRegCMD", "Write Register", 536, 464, 177, &Tkv2580mfrm::WRRegCMDClick);
    RdAllRegCMD = button("RdAllRegCMD", "Read All Register", 536, 496, 177, &Tkv2580mfrm::RdAllRegCMDClick);
    LDFileCMD = button("LDFileCMD", "Load Configuration File", 536, 544, 177, &Tkv2580mfrm::LDFileCMDClick);
    SDFileCMD = button("SDFileCMD", "Send Configuration", 536, 576, 177, &Tkv2580mfrm::SDFileCMDClick);
    ExitCMD = button("ExitCMD", "Exit", 536, 608, 177, &Tkv2580mfrm::ExitCMDClick);
    StopSendCMD = button("StopSendCMD", "Stop", 720, 576, 73, &Tkv2580mfrm::StopSendCMDClick);
    StopSendCMD->hide(); // shown only while a send runs
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setObjectName("StopSendShortcut");
    esc->setContext(Qt::ApplicationShortcut);
    esc->setEnabled(false);
    connect(esc, &QShortcut::activated, this, &Tkv2580mfrm::StopSendCMDClick);
    connect(this, &Tkv2580mfrm::sendingChanged, esc, &QShortcut::setEnabled);

    ProgrBar = new QProgressBar(this);
    ProgrBar->setObjectName("ProgrBar");
    ProgrBar->setRange(0, 100);
    ProgrBar->setValue(0);
    ProgrBar->setTextVisible(false);
    ProgrBar->setGeometry(0, 648, 793, 9);

    Label5 = label("Label5", "Audio Path Application (Use SDP1/I2S1 port)", 8, 288, boldFont(14));
    QFont label4Font;
    label4Font.setPixelSize(16);
    label4Font.setBold(true);
    Label4 = label("Label4", "Widgets Setting", 528, 288, label4Font);

    for (int i = 0; i < kPresetButtonCount; ++i) {
        const ButtonPlace place = presetPlace(i);
        auto* b = new QPushButton(QString::fromUtf8(kDesignCaptions[i]), this);
        b->setObjectName(QString::fromStdString("Button" + PresetButtonName(i)));
        b->setGeometry(place.left, place.top, place.width, 33);
        connect(b, &QPushButton::clicked, this, [this, i] { PresetButtonClick(i); });
        PresetButtons[i] = b;
    }
    PresetButtons[kButtonC1]->setEnabled(false);
    PresetButtons[kButtonC2]->setEnabled(false);

    bevel(4, 312, 250, 330);   // A column
    bevel(260, 312, 258, 330); // B column
    bevel(524, 312, 258, 104); // C column
    bevel(524, 424, 428, 220); // register controls

    LogoLabel = new QLabel("Corvane\nAudio Codecs", this);
    LogoLabel->setObjectName("LogoLabel");
    LogoLabel->setFont(boldFont(16));
    LogoLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LogoLabel->setGeometry(800, 560, 145, 80);

    setFixedSize(953, 665);
}

void Tkv2580mfrm::FormCreate() {
    for (int c = 1; c <= 16; ++c)
        setCell(c, 0, QString::fromStdString("   " + Hex2(static_cast<unsigned>(c - 1))));
    restoreRowHeaders();
}

void Tkv2580mfrm::restoreRowHeaders() {
    for (int r = 1; r < RegMapGrid->rowCount(); ++r)
        if (cellText(0, r).isEmpty())
            setCell(0, r, QString::fromStdString("  0x" + Hex2(static_cast<unsigned>((r - 1) * 16))));
}

void Tkv2580mfrm::setCell(int col, int row, const QString& text) {
    if (col < 0 || row < 0 || col >= RegMapGrid->columnCount() || row >= RegMapGrid->rowCount()) return;
    QTableWidgetItem* item = RegMapGrid->item(row, col);
    if (!item) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        if (row == 0 || col == 0) item->setBackground(palette().button());
        RegMapGrid->setItem(row, col, item);
    }
    item->setText(text);
}

QString Tkv2580mfrm::cellText(int col, int row) const {
    const QTableWidgetItem* item = RegMapGrid->item(row, col);
    return item ? item->text() : QString();
}

void Tkv2580mfrm::showRegisterCell(std::uint8_t a, std::uint8_t v) {
    setCell((a & 0x0F) + 1, (a >> 4) + 1, valueText(v));
    decorateCell(a);
}

void Tkv2580mfrm::applyProfileLayout(const ChipProfile& profile) {
    setWindowTitle(QString::fromUtf8(profile.windowCaption));
    RegFrm->setTitle(QString::fromUtf8(profile.groupCaption));
    const int count = profile.regCount;
    RegMapGrid->setColumnCount(kGridColumns);
    RegMapGrid->setRowCount(count % 16 == 0 ? 1 + count / 16 : 2 + count / 16);
    RegMapGrid->horizontalHeader()->setDefaultSectionSize(kProfileColumnWidth);
    for (int c = 0; c < RegMapGrid->columnCount(); ++c)
        RegMapGrid->setColumnWidth(c, kProfileColumnWidth);
    RegMapGrid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    // Rows removed by a smaller profile lose their cells; give reappearing rows their headers.
    restoreRowHeaders();
    for (int i = 0; i < kPresetButtonCount; ++i) {
        QPushButton* b = PresetButtons[i];
        const ButtonPlace place = presetPlace(i);
        b->setGeometry(place.left, place.top, place.width, 33);
        if (const char* caption = profile.captions[i]) {
            b->setText(QString::fromUtf8(caption));
            b->setEnabled(true);
            b->setVisible(true);
        } else {
            b->setEnabled(false);
            b->setVisible(false);
        }
    }
}

void Tkv2580mfrm::ApplyChipProfile() {
    const int i = FindChipProfile(Board().CodecType);
    if (i == kNoProfile) return;
    const ChipProfile& profile = ChipProfileTable()[i];
    loadShippedMap(profile);
    if (profile.fullSetup) {
        gRegs.RegCount = profile.regCount;
        applyProfileLayout(profile);
    }
    gRegs.ReadProgress = 1;
    CmdReadAllReg(0, gRegs.HighestAddress);
    redrawFromShadow(GridDataRows(gRegs.RegCount));
}

void Tkv2580mfrm::redrawFromShadow(int rows) {
    for (int r = 0; r < rows; ++r)
        for (int c = 1; c <= 16; ++c) {
            const int a = r * 16 + c - 1;
            if (a >= static_cast<int>(kShadowSize)) continue;
            setCell(c, r + 1, valueText(gRegs.Shadow[a]));
            decorateCell(static_cast<std::uint8_t>(a));
        }
}

int Tkv2580mfrm::addressFieldValue(int def) const {
    return StrToIntDef(RegAddrTxt->text().toStdString(), def) & 0xFF;
}

std::optional<std::uint8_t> Tkv2580mfrm::typedRegister() {
    std::string problem;
    const std::optional<int> a =
        ReadNumberField(RegAddrTxt->text().toStdString(), {"Register Address", 0, gRegs.HighestAddress}, &problem);
    if (a) return static_cast<std::uint8_t>(*a);
    say(problem + "\r\n");
    if (IUserReport* report = UserReport()) report->ShowWarning("Register Address is Error!", "");
    return std::nullopt;
}

void Tkv2580mfrm::RDRegCMDClick() {
    if (const std::optional<std::uint8_t> a = typedRegister()) CmdReadReg(*a);
}

void Tkv2580mfrm::WRRegCMDClick() {
    const std::optional<std::uint8_t> reg = typedRegister();
    if (!reg) return;
    std::string problem;
    const std::optional<int> v = ReadNumberField(RegDatTxt->text().toStdString(), {"Register Value", 0, 0xFF}, &problem);
    if (!v) {
        say(problem + "\r\n");
        return;
    }
    const auto value = static_cast<std::uint8_t>(*v);
    if (m_fieldEdit)
        beginWrites("Field Edit", *m_fieldEdit);
    else
        beginWrites("Write Register", QString::fromStdString("Write Reg0x" + Hex2(*reg) + " = 0x" + Hex2(value)));
    writeRegister(*reg, value);
    endWrites();
}

void Tkv2580mfrm::RdAllRegCMDClick() {
    gRegs.ReadProgress = 1;
    CmdReadAllReg(0, gRegs.HighestAddress);
}

void Tkv2580mfrm::ExitCMDClick() {
    close();
}

void Tkv2580mfrm::LDFileCMDClick() {
    m_config.clear();
    const QStringList files = opfcmd ? opfcmd() : QStringList{};
    for (const QString& file : files) {
        const std::string path = QFile::encodeName(file).toStdString();
        const ConfigBuffer::LoadResult result = m_config.load(path);
        const std::string problem =
            ConfigBuffer::problemLine(file.toStdString(), result, m_config.capacity());
        if (!problem.empty()) say(problem);
        if (!result.ok) continue;
        // The file's own problems, before the user presses "Send Configuration".
        const CheckedTextSource source = m_config.loaded(result);
        ConfigCheckOptions options = checkOptions(m_config, kConfigLineLimit);
        options.end = source.end;
        ConfigCheck check = CheckConfigText(source.text, options);
        // Writes the map forbids: to a read-only register, or to reserved bits.
        if (m_map) AddRegisterMapWarnings(check, *m_map);
        const std::string diagnostics = check.format(file.toStdString(), "\r\n");
        if (!diagnostics.empty()) say(diagnostics);
    }
    say(std::string("Load Confuguration File") + kWideColon + "\r\n");
}

void Tkv2580mfrm::SDFileCMDClick() {
    const std::optional<std::string_view> text = checkedForSend(
        m_config, QFile::decodeName(m_config.name().c_str()).toStdString(), kConfigLineLimit, true);
    if (!text) return;
    startSend(*text, kConfigLineLimit, 1, true, "Send Configuration");
}

ConfigCheckOptions Tkv2580mfrm::checkOptions(const ConfigBuffer& buffer, int lineLimit) const {
    ConfigCheckOptions options;
    options.lineLimit = lineLimit;
    options.end = buffer.textEnd();
    options.bufferSize = buffer.capacity();
    // Register addresses are checked only where the chip, and so its highest register, is known.
    if (CurrentChipProfile()) options.highestAddress = gRegs.HighestAddress;
    return options;
}

std::optional<std::string_view> Tkv2580mfrm::checkedForSend(const ConfigBuffer& buffer,
                                                            const std::string& name, int lineLimit,
                                                            bool errorsOnly) {
    const ConfigCheck check = CheckConfigText(buffer.text(), checkOptions(buffer, lineLimit));
    ConfigCheck shown = check;
    if (errorsOnly)
        std::erase_if(shown.diagnostics,
                      [](const ConfigDiagnostic& d) { return d.severity != ConfigSeverity::Error; });
    const std::string diagnostics = shown.format(name, "\r\n");
    if (!diagnostics.empty()) say(diagnostics);
    if (check.hasErrors()) {
        std::string refusal = check.nothingSent(name);
        refusal[0] = 'N';
        say(refusal + "\r\n");
        return std::nullopt;
    }
    return check.sendable(buffer.text());
}

bool Tkv2580mfrm::startSend(std::string_view text, int lineLimit, int beginCount, bool report,
                            const std::string& source) {
    if (m_run) return false;
    beginWrites(source, QString::fromStdString(source));
    m_run = new ConfigSendRun(std::make_unique<ConfigSender>(text, lineLimit, beginCount, report, progressHooks()),
                              [this] { sendEnded(); }, this);
    // Everything in this window that talks to the board waits for the end of the batch.
    m_enabledBeforeSend.clear();
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w == StopSendCMD || w == ProgrBar || !w->isEnabled()) continue;
        m_enabledBeforeSend.emplace_back(w);
        w->setEnabled(false);
    }
    StopSendCMD->setEnabled(true);
    StopSendCMD->show();
    emit sendingChanged(true);
    m_run->start();
    return true;
}

void Tkv2580mfrm::sendEnded() {
    ConfigSendRun* run = m_run;
    m_run = nullptr;
    run->deleteLater(); // it called us
    endWrites();
    StopSendCMD->hide();
    for (const QPointer<QWidget>& w : m_enabledBeforeSend)
        if (w) w->setEnabled(true);
    m_enabledBeforeSend.clear();
    emit sendingChanged(false);
    if (m_verifyAfterSend) verifyAfterRestore();
}

void Tkv2580mfrm::StopSendCMDClick() {
    if (m_run) m_run->stop();
}

void Tkv2580mfrm::renderReply(const ReplyEvent& event) {
    const std::vector<std::uint8_t>& buf = event.bytes;
    if (event.kind == ReplyEvent::Kind::RegisterValue) {
        // The address is the field's at the time the answer arrives, not the one asked for.
        const auto a = static_cast<std::uint8_t>(addressFieldValue(128));
        const std::uint8_t v = buf[0];
        gRegs.store(a, v);
        RegDatTxt->setText(QString::fromStdString("0x" + Hex2(v)));
        showRegisterCell(a, v);
        say(FormatReadReg(a, v));
        readArrived(a, v);
        return;
    }
    if (event.kind != ReplyEvent::Kind::RegisterBlock) return;
    // The progress bar repaints synchronously on every step and each cell asks for its own
    // update: with updates off the whole reply is painted once, after the loop.
    const bool wasUpdating = updatesEnabled();
    setUpdatesEnabled(false);
    const int n = event.count;
    const bool progress = gRegs.ReadProgress == 1;
    if (progress) ProgrBar->setValue(0);
    for (int i = 0; i < n; ++i) {
        gRegs.store(static_cast<std::uint8_t>(i), buf[static_cast<std::size_t>(i)]);
        if (progress) ProgrBar->setValue(i);
    }
    if (progress) ProgrBar->setValue(0);
    for (int c = 1; c <= 16; ++c)
        setCell(c, 0, QString::fromStdString("   " + Hex2(static_cast<unsigned>(c - 1))));
    setCell(0, 1, "  0x00");
    redrawFromShadow(GridDataRows(static_cast<std::uint8_t>(n)));
    if (n == 255) showRegisterCell(0xFF, buf[255]);
    const int a = addressFieldValue(256);
    // Register 0xFF has no shadow entry: show the value this reply carried, if it had one.
    if (a < static_cast<int>(kShadowSize))
        RegDatTxt->setText(QString::fromStdString("0x" + Hex2(gRegs.Shadow[static_cast<std::size_t>(a)])));
    else if (n == 255)
        RegDatTxt->setText(QString::fromStdString("0x" + Hex2(buf[255])));
    setUpdatesEnabled(wasUpdating);
    if (isMinimized()) showNormal();
    if (!isVisible()) show();
    raise();
    activateWindow();
    say(FormatReadAllReg(gRegs.HighestAddress));
    ReadAllArrived(std::vector<std::uint8_t>(
        buf.begin(), buf.begin() + std::min<std::ptrdiff_t>(RegistersAnswered(n), static_cast<std::ptrdiff_t>(buf.size()))));
}

void Tkv2580mfrm::TransmitterEmpty() {
    if (m_run) m_run->TransmitterEmpty();
}

ConfigSendHooks Tkv2580mfrm::progressHooks() {
    ConfigSendHooks hooks;
    // A range of 0..0 would turn the bar into a busy indicator; keep it a plain empty bar.
    hooks.setProgressMaximum = [this](int maximum) { ProgrBar->setRange(0, std::max(1, maximum)); };
    hooks.setProgress = [this](int position) { ProgrBar->setValue(position); };
    return hooks;
}
