// The main window's link monitor entry, the console pane's context menu, and the lock of the
// sending controls while a configuration or preset send runs.
#include "app/Tmainfrm.h"

#include "console/Tkv2580mfrm.h"
#include "protocol/SaveTextFile.h"
#include "windows/TLinkMonitorFrm.h"
#include "windows/TRS232CfgFrm.h"
#include "windows/TSPDIFConfigFRM.h"
#include "windows/TSetCodecComodeFrm.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QPushButton>
#include "windows/TRegisterWatchFrm.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTextEdit>

TLinkMonitorFrm* Tmainfrm::LinkMonitorWindow() {
    if (!Windows.LinkMonitorFrm) Windows.LinkMonitorFrm = new TLinkMonitorFrm(m_session->Log(), this);
    return Windows.LinkMonitorFrm;
}

void Tmainfrm::LinkMonitor1Click() {
    ShowToolWindow(LinkMonitorWindow());
}

TRegisterWatchFrm* Tmainfrm::RegisterWatchWindow() {
    if (!Windows.RegisterWatchFrm) Windows.RegisterWatchFrm = new TRegisterWatchFrm(this);
    return Windows.RegisterWatchFrm;
}

void Tmainfrm::RegisterWatch1Click() {
    ShowToolWindow(RegisterWatchWindow());
}

void Tmainfrm::UARTSHOWContextPopup(const QPoint& where) {
    QMenu menu(this);
    menu.setObjectName("UARTSHOWMenu");
    QAction* copy = menu.addAction("Copy", UARTSHOW, &QTextEdit::copy);
    copy->setObjectName("UARTSHOWCopy");
    copy->setEnabled(UARTSHOW->textCursor().hasSelection());
    menu.addAction("Select All", UARTSHOW, &QTextEdit::selectAll)->setObjectName("UARTSHOWSelectAll");
    menu.addSeparator();
    menu.addAction(QString::fromUtf8("Save As\u2026"), this, [this] { UARTSHOWSaveAsClick(); })
        ->setObjectName("UARTSHOWSaveAs");
    menu.exec(UARTSHOW->viewport()->mapToGlobal(where));
}

void Tmainfrm::UARTSHOWSaveAsClick() {
    const QString path = consoleSaveFile
                             ? consoleSaveFile()
                             : QFileDialog::getSaveFileName(this, "Save Console", "console.txt", "Text files (*.txt)");
    if (path.isEmpty()) return;
    const std::string failed =
        evb::SaveTextFile(QFile::encodeName(path).toStdString(), UARTSHOW->toPlainText().toStdString() + "\n");
    if (!failed.empty()) showErrorBox("The console could not be saved to " + path, QString::fromStdString(failed));
}

void Tmainfrm::setSendLock(bool sending) {
    if (!sending) {
        for (const QPointer<QObject>& o : m_lockedForSend) {
            if (auto* w = qobject_cast<QWidget*>(o.data()))
                w->setEnabled(true);
            else if (auto* a = qobject_cast<QAction*>(o.data()))
                a->setEnabled(true);
        }
        m_lockedForSend.clear();
        return;
    }
    const auto lock = [this](QObject* o) {
        if (auto* w = qobject_cast<QWidget*>(o); w && w->isEnabled()) {
            w->setEnabled(false);
            m_lockedForSend.emplace_back(o);
        } else if (auto* a = qobject_cast<QAction*>(o); a && a->isEnabled()) {
            a->setEnabled(false);
            m_lockedForSend.emplace_back(o);
        }
    };
    // The main window's controls, but not the console pane, its hex switch and "Clear".
    for (QWidget* w : centralWidget()->findChildren<QWidget*>())
        if ((qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w)) && w != HEXSHOW && w != ClrCMD)
            lock(w);
    lock(Image1); // a click asks the board for its information
    // The codec-type menu reads registers; the port and control-interface entries change them.
    for (QAction* menu : menuBar()->actions())
        if (menu->menu() && menu->menu()->objectName() == "CodecType")
            for (QAction* a : menu->menu()->actions())
                if (a != EXIT1) lock(a);
    lock(RS2321);
    lock(RS2322);
    // The other windows that send follow the same signal themselves (createdOnce).
}
