// Register snapshots in the register console: save, compare, restore and marked changes.
#include "console/Tkv2580mfrm.h"

#include "console/ChipProfiles.h"
#include "console/RegisterState.h"
#include "protocol/BoardCommand.h"
#include "protocol/BoardState.h"
#include "protocol/Command.h"
#include "protocol/NamedRegisters.h"
#include "protocol/RegisterMap.h"
#include "protocol/TextConv.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QTableWidget>
#include <QTimer>

using namespace evb;

namespace {

// The board answers a read-all of 256 registers in well under a second at 19200 baud.
constexpr int kReadAllTimeoutMs = 3000;
constexpr int kSettleAfterBatchMs = 250;
// Light backgrounds under black text: readable on a light and on a dark palette alike.
const QColor kDiffColour(255, 150, 150); // the board differs from the file
const QColor kChangeColour(255, 210, 90); // the value changed since the previous read or baseline

// Console lines; text may hold several lines, each ended by "\r\n" already.
void sayText(const std::string& text) {
    if (IUserReport* report = UserReport()) report->ConsoleAppend(text);
}

void say(const std::string& line) {
    sayText(line + "\r\n");
}

} // namespace

void Tkv2580mfrm::buildSnapshotActions() {
    auto action = [this](const char* name, const char* text, const QKeySequence& keys,
                         const char* tip) {
        auto* a = new QAction(QString::fromUtf8(text), this);
        a->setObjectName(name);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setToolTip(QString::fromUtf8(tip));
        addAction(a); // the shortcut works anywhere in the window, menu open or not
        return a;
    };
    SaveRegsAction = action("SaveRegsAction", "Save Registers…", QKeySequence(Qt::CTRL | Qt::Key_S),
                            "Read all registers and save them as a configuration file");
    CompareRegsAction = action("CompareRegsAction", "Compare with File…", QKeySequence(Qt::CTRL | Qt::Key_D),
                               "Read all registers and mark those that differ from a configuration file");
    RestoreRegsAction = action("RestoreRegsAction", "Restore from File…", QKeySequence(Qt::CTRL | Qt::Key_R),
                               "Write only the registers that differ from a configuration file, then read back");
    MarkChangesAction = action("MarkChangesAction", "Mark changes", QKeySequence(Qt::CTRL | Qt::Key_M),
                               "After each read-all, mark the registers that changed");
    MarkChangesAction->setCheckable(true);
    SetBaselineAction = action("SetBaselineAction", "Set baseline", QKeySequence(Qt::CTRL | Qt::Key_B),
                               "Read all registers; later changes are marked against these values");
    ClearMarksAction = action("ClearMarksAction", "Clear marks", QKeySequence(Qt::CTRL | Qt::Key_L),
                              "Remove every mark from the grid");
    connect(SaveRegsAction, &QAction::triggered, this, &Tkv2580mfrm::SaveRegsClick);
    connect(CompareRegsAction, &QAction::triggered, this, &Tkv2580mfrm::CompareRegsClick);
    connect(RestoreRegsAction, &QAction::triggered, this, &Tkv2580mfrm::RestoreRegsClick);
    connect(SetBaselineAction, &QAction::triggered, this, &Tkv2580mfrm::SetBaselineClick);
    connect(ClearMarksAction, &QAction::triggered, this, &Tkv2580mfrm::ClearMarksClick);

    RegMapMenu = new QMenu(this);
    RegMapMenu->setObjectName("RegMapMenu");
    RegMapMenu->setToolTipsVisible(true);
    RegMapMenu->addActions({SaveRegsAction, CompareRegsAction, RestoreRegsAction});
    RegMapMenu->addSeparator();
    RegMapMenu->addActions({MarkChangesAction, SetBaselineAction, ClearMarksAction});
    RegMapGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(RegMapGrid, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        RegMapMenu->popup(RegMapGrid->viewport()->mapToGlobal(at));
    });
    RegMapGrid->setToolTip("Right-click or press the Menu key: Save Registers (Ctrl+S), Compare with "
                           "File (Ctrl+D), Restore from File (Ctrl+R), Mark changes (Ctrl+M)");

    auto fileDialog = [](Tkv2580mfrm* self, QFileDialog::AcceptMode mode, const char* caption) {
        QFileDialog dialog(self, QString::fromUtf8(caption));
        dialog.setAcceptMode(mode);
        dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        dialog.setNameFilter("Text files (*.txt *.TXT)");
        dialog.setDefaultSuffix("txt");
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        return dialog.selectedFiles().first();
    };
    saveRegsDialog = [this, fileDialog] { return fileDialog(this, QFileDialog::AcceptSave, "Save Registers"); };
    openRegsDialog = [this, fileDialog](const char* caption) {
        return fileDialog(this, QFileDialog::AcceptOpen, caption);
    };

    m_readTimeout = new QTimer(this);
    m_readTimeout->setSingleShot(true);
    m_readTimeout->setInterval(kReadAllTimeoutMs);
    connect(m_readTimeout, &QTimer::timeout, this, &Tkv2580mfrm::readAllTimedOut);
    connect(this, &Tkv2580mfrm::sendingChanged, this, &Tkv2580mfrm::updateSnapshotActions);
}

void Tkv2580mfrm::verifyAfterRestore() {
    // The batch's last acknowledgements come in first: a read-all sent on their heels would
    // take them for its answer.
    QTimer::singleShot(kSettleAfterBatchMs, this, [this] {
        m_verifyAfterSend = false;
        readAllThen(AfterRead::Verify);
    });
}

void Tkv2580mfrm::updateSnapshotActions() {
    // One snapshot action at a time, and none while a batch is on its way.
    const bool idle = !sending() && m_afterRead == AfterRead::Nothing && !m_verifyAfterSend;
    for (QAction* a : {SaveRegsAction, CompareRegsAction, RestoreRegsAction, SetBaselineAction})
        a->setEnabled(idle);
}

bool Tkv2580mfrm::readAllThen(AfterRead next) {
    gRegs.ReadProgress = 1;
    if (CmdReadAllReg(0, gRegs.HighestAddress)) {
        say("The registers could not be read: the frame was not sent; nothing done");
        m_afterRead = AfterRead::Nothing;
        updateSnapshotActions();
        return false;
    }
    m_afterRead = next;
    m_readTimeout->start();
    updateSnapshotActions();
    return true;
}

void Tkv2580mfrm::readAllTimedOut() {
    if (m_afterRead == AfterRead::Nothing) return;
    m_afterRead = AfterRead::Nothing;
    say("The board did not answer the read of all registers; nothing done");
    updateSnapshotActions();
}

void Tkv2580mfrm::SaveRegsClick() {
    const QString file = saveRegsDialog ? saveRegsDialog() : QString();
    if (file.isEmpty()) return;
    useFile(file);
    readAllThen(AfterRead::Save);
}

void Tkv2580mfrm::useFile(const QString& file) {
    m_snapshotFile = file.toStdString();
    m_snapshotPath = QFile::encodeName(file).toStdString();
}

bool Tkv2580mfrm::loadExpected(const QString& file, const char* action) {
    useFile(file);
    ConfigCheckOptions options;
    if (CurrentChipProfile()) options.highestAddress = gRegs.HighestAddress;
    const CheckedConfigFile f = LoadCheckedConfigFile(m_snapshotPath, options);
    if (!f.load.ok) {
        say(std::string(action) + ": cannot read " + m_snapshotFile);
        return false;
    }
    const std::string diagnostics = f.check.format(m_snapshotFile, "\r\n");
    sayText(diagnostics);
    if (f.check.hasErrors()) {
        say(std::string(action) + ": nothing done: " + m_snapshotFile + " has errors in lines " +
            f.check.errorLines());
        return false;
    }
    m_expected = ExpectedRegisters(f.check);
    return true;
}

void Tkv2580mfrm::CompareRegsClick() {
    const QString file = openRegsDialog ? openRegsDialog("Compare with File") : QString();
    if (file.isEmpty() || !loadExpected(file, "Compare with File")) return;
    // Status and level registers change by themselves: left out unless asked for.
    if (m_map && !CompareVolatileChk->isChecked())
        if (const int n = LeaveOutVolatile(m_expected, *m_map))
            say("Compare with File: " + std::to_string(n) + " volatile register" + (n == 1 ? "" : "s") +
                " left out");
    readAllThen(AfterRead::Compare);
}

void Tkv2580mfrm::RestoreRegsClick() {
    const QString file = openRegsDialog ? openRegsDialog("Restore from File") : QString();
    if (file.isEmpty() || !loadExpected(file, "Restore from File")) return;
    readAllThen(AfterRead::Restore);
}

void Tkv2580mfrm::SetBaselineClick() {
    readAllThen(AfterRead::Baseline);
}

void Tkv2580mfrm::ClearMarksClick() {
    for (int r = 1; r < RegMapGrid->rowCount(); ++r)
        for (int c = 1; c < RegMapGrid->columnCount(); ++c)
            if (QTableWidgetItem* item = RegMapGrid->item(r, c)) {
                item->setData(kMarkRole, QVariant());
                decorateCell(static_cast<std::uint8_t>((r - 1) * 16 + c - 1));
            }
}

QTableWidgetItem* Tkv2580mfrm::registerItem(std::uint8_t reg) const {
    return RegMapGrid->item((reg >> 4) + 1, (reg & 0x0F) + 1);
}

void Tkv2580mfrm::markCell(std::uint8_t reg, const QColor& colour, const QString& text) {
    QTableWidgetItem* item = registerItem(reg);
    if (!item) return;
    item->setData(kMarkRole, text);
    item->setData(kMarkColourRole, colour);
    decorateCell(reg); // the mark leads the cell's tooltip, above the register's fields
}

QString Tkv2580mfrm::cellMark(std::uint8_t reg) const {
    const QTableWidgetItem* item = registerItem(reg);
    return item ? item->data(kMarkRole).toString() : QString();
}

RegisterComparison Tkv2580mfrm::showComparison(const std::vector<std::uint8_t>& values, const char* lead) {
    const RegisterComparison c = CompareRegisters(values, m_expected);
    ClearMarksClick();
    for (const RegisterDiff& d : c.diffs) {
        say(FormatRegisterDiff(d, m_map.get()));
        markCell(d.reg, kDiffColour, QString::fromStdString("file 0x" + Hex2(d.expected)));
    }
    say(std::string(lead) + ComparisonSummary(c, m_snapshotFile, static_cast<int>(values.size())));
    return c;
}

void Tkv2580mfrm::ReadAllArrived(const std::vector<std::uint8_t>& values) {
    // Changes since the previous read (or the baseline) are marked first; a snapshot action's
    // own marks then take their place.
    if (MarkChangesAction->isChecked()) {
        const std::vector<std::uint8_t>& before = m_baseline ? *m_baseline : m_lastRead;
        const QString lead = m_baseline ? "baseline 0x" : "was 0x";
        for (const RegisterDiff& d : CompareRegisters(values, ExpectedRegisters(before)).diffs)
            markCell(d.reg, kChangeColour, lead + QString::fromStdString(Hex2(d.expected)));
    }
    m_lastRead = values;

    const AfterRead next = m_afterRead;
    m_afterRead = AfterRead::Nothing;
    m_readTimeout->stop();
    switch (next) {
    case AfterRead::Nothing:
        break;
    case AfterRead::Save: {
        SnapshotHeader header;
        if (const ChipProfile* profile = CurrentChipProfile()) header.chip = profile->chip;
        header.chipAddress = Board().ChipAddress;
        header.when = SnapshotTime();
        // With a map each line names its register in its comment.
        const std::string text = m_map ? SnapshotText(values, header, *m_map) : SnapshotText(values, header);
        const std::string failed = SaveTextFile(m_snapshotPath, text);
        say(failed.empty() ? "Save Registers: " + std::to_string(values.size()) + " registers saved to " + m_snapshotFile
                           : "Save Registers: nothing saved: " + failed);
        break;
    }
    case AfterRead::Compare:
        showComparison(values, "Compare with File: ");
        break;
    case AfterRead::Restore: {
        RegisterComparison c = CompareRegisters(values, m_expected);
        if (m_map)
            if (const std::vector<RegisterDiff> readOnly = LeaveOutReadOnly(c.diffs, *m_map); !readOnly.empty())
                say("Restore from File: read-only, not written: " + RegisterList(readOnly, *m_map));
        if (c.diffs.empty()) {
            showComparison(values, "Restore from File: nothing to write: ");
            break;
        }
        say("Restore from File: writing the " + std::to_string(c.diffs.size()) + " registers that differ from " +
            m_snapshotFile);
        m_restoreText = RestoreText(c.diffs);
        m_verifyAfterSend = startSend(m_restoreText, kConfigLineLimit, 1, true, "Restore from File");
        if (!m_verifyAfterSend) say("Restore from File: another send is running; nothing written");
        break;
    }
    case AfterRead::Verify:
        showComparison(values, "Restore from File: after writing, ");
        break;
    case AfterRead::Baseline:
        m_baseline = values;
        MarkChangesAction->setChecked(true);
        say("Mark changes: baseline set from " + std::to_string(values.size()) + " registers");
        break;
    }
    updateSnapshotActions();
}
