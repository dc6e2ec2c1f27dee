// Recording the register writes: "Record Writes" and "Save Recording…" of the grid's menu.
#include "console/Tkv2580mfrm.h"

#include "protocol/BoardCommand.h"
#include "protocol/BoardSession.h"
#include "protocol/SaveTextFile.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QTableWidget>

using namespace evb;

namespace {

void say(const std::string& line) {
    if (IUserReport* report = UserReport()) report->ConsoleAppend(line + "\r\n");
}

std::string writesText(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " write" : " writes");
}

} // namespace

void Tkv2580mfrm::buildRecordActions() {
    RecordAction = new QAction("Record Writes", this);
    RecordAction->setObjectName("RecordAction");
    RecordAction->setCheckable(true);
    RecordAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    RecordAction->setToolTip("Keep every register write sent to the board, to save it as a configuration file");
    SaveRecordingAction = new QAction("Save Recording…", this);
    SaveRecordingAction->setObjectName("SaveRecordingAction");
    SaveRecordingAction->setToolTip("Save the recorded writes as a configuration file");
    SaveRecordingAction->setEnabled(false);
    KeepPausesAction = new QAction("Keep Pauses over 50 ms", this);
    KeepPausesAction->setObjectName("KeepPausesAction");
    KeepPausesAction->setCheckable(true);
    KeepPausesAction->setToolTip("Save the pauses between recorded writes as delay lines");
    for (QAction* a : {RecordAction, SaveRecordingAction, KeepPausesAction}) {
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);
    }
    WatchRegisterAction = new QAction("Watch Register", this);
    WatchRegisterAction->setObjectName("WatchRegisterAction");
    WatchRegisterAction->setToolTip("Poll the selected register in the Register Watch window");
    connect(WatchRegisterAction, &QAction::triggered, this, [this] {
        const int row = RegMapGrid->currentRow(), col = RegMapGrid->currentColumn();
        emit watchRegister(row >= 1 && col >= 1 ? (row - 1) * 16 + col - 1 : -1);
    });
    RegMapMenu->addSeparator();
    RegMapMenu->addActions({RecordAction, SaveRecordingAction, KeepPausesAction});
    RegMapMenu->addSeparator();
    RegMapMenu->addAction(WatchRegisterAction);
    connect(RecordAction, &QAction::toggled, this, &Tkv2580mfrm::RecordClick);
    connect(SaveRecordingAction, &QAction::triggered, this, &Tkv2580mfrm::SaveRecordingClick);

    RecordingLabel = new QLabel(QString::fromUtf8("\u25CF Recording writes"), this);
    RecordingLabel->setObjectName("RecordingLabel");
    QFont bold = RecordingLabel->font();
    bold.setBold(true);
    RecordingLabel->setFont(bold);
    RecordingLabel->setStyleSheet("color: #c00000");
    RecordingLabel->setGeometry(728, 524, 217, 24);
    RecordingLabel->hide();

    saveRecordingDialog = [this] {
        QFileDialog dialog(this, "Save Recording");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter("Text files (*.txt *.TXT)");
        dialog.setDefaultSuffix("txt");
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        return dialog.selectedFiles().first();
    };
}

void Tkv2580mfrm::RecordClick(bool on) {
    BoardSession* session = CurrentSession();
    if (on && session) {
        m_recording.Start(*session);
        say("Record Writes: on");
    } else if (m_recording.Recording()) {
        m_recording.Stop();
        say("Record Writes: off, " + writesText(m_recording.Writes()) + " recorded");
    }
    RecordingLabel->setVisible(m_recording.Recording());
    SaveRecordingAction->setEnabled(m_recording.Size() > 0 || m_recording.Recording());
}

void Tkv2580mfrm::SaveRecordingClick() {
    const std::vector<std::string> texts = m_recording.Texts({KeepPausesAction->isChecked()});
    if (texts.empty()) {
        say("Save Recording: nothing recorded yet");
        return;
    }
    const QString file = saveRecordingDialog ? saveRecordingDialog() : QString();
    if (file.isEmpty()) return;
    const std::vector<std::string> paths = WriteRecording::FileNames(QFile::encodeName(file).toStdString(), texts.size());
    std::string names;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string name = QFile::decodeName(paths[i].c_str()).toStdString();
        if (const std::string failed = SaveTextFile(paths[i], texts[i]); !failed.empty()) {
            say("Save Recording: " + (i == 0 ? std::string() : "only " + names + " saved; ") + failed);
            return;
        }
        names += (i == 0 ? "" : ", ") + name;
    }
    const std::string what = writesText(m_recording.Writes());
    if (texts.size() == 1)
        say("Save Recording: " + what + " saved to " + names);
    else
        say("Save Recording: " + what + " saved as " + std::to_string(texts.size()) +
            " files, one configuration buffer each, to be sent in turn: " + names);
}
