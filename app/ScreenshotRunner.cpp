#include "app/ScreenshotRunner.h"

#include "app/AppSetup.h"
#include "console/Tkv2580mfrm.h"
#include "sim/SimBoard.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <utility>

ScreenshotRunner::ScreenshotRunner(AppInstance& app, QString directory)
    : m_app(app), m_directory(std::move(directory)) {}

QWidget* ScreenshotRunner::findWindow(const QString& name) const {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name) return w;
    return nullptr;
}

QWidget* ScreenshotRunner::findWidget(const QString& name) const {
    // Visible windows first, so a name used in several windows means the one on screen.
    for (bool visibleOnly : {true, false}) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (visibleOnly && !w->isVisible()) continue;
            if (auto* child = w->findChild<QWidget*>(name)) return child;
        }
    }
    return nullptr;
}

void ScreenshotRunner::settle() {
    if (m_app.sim) m_app.sim->WaitRepliesSent(std::chrono::milliseconds(2000));
    // Replies become packages after an idle gap of 50 ms and are then handed to the UI thread;
    // a few gaps' worth of event processing lets them land in the windows.
    QEventLoop loop;
    QTimer::singleShot(250, &loop, &QEventLoop::quit);
    loop.exec();
}

bool ScreenshotRunner::Run(const QString& steps) {
    if (!QDir().mkpath(m_directory)) {
        std::fprintf(stderr, "screenshots: cannot create %s\n", qPrintable(m_directory));
        return false;
    }
    settle();
    for (const QString& rawStep : steps.split(',', Qt::SkipEmptyParts)) {
        const QString step = rawStep.trimmed();
        const QString kind = step.section(':', 0, 0);
        const QString arg = step.section(':', 1);
        if (kind == "click") {
            auto* button = qobject_cast<QAbstractButton*>(findWidget(arg));
            if (!button) {
                std::fprintf(stderr, "screenshots: no button %s\n", qPrintable(arg));
                return false;
            }
            button->click();
            settle(); // what the click sent is answered before the next step
        } else if (kind == "trigger") {
            QAction* action = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (!action) action = w->findChild<QAction*>(arg);
            if (!action) {
                std::fprintf(stderr, "screenshots: no menu entry %s\n", qPrintable(arg));
                return false;
            }
            action->trigger();
            settle();
        } else if (kind == "text") {
            auto* edit = qobject_cast<QLineEdit*>(findWidget(arg.section('=', 0, 0)));
            if (!edit) {
                std::fprintf(stderr, "screenshots: no edit field %s\n", qPrintable(arg));
                return false;
            }
            edit->setText(arg.section('=', 1));
            emit edit->returnPressed(); // as typed and ended with Enter
        } else if (kind == "hover") {
            // A tooltip request at X,Y of the widget (a view's: of its viewport).
            QWidget* widget = findWidget(arg.section(':', 0, 0));
            if (auto* area = qobject_cast<QAbstractScrollArea*>(widget)) widget = area->viewport();
            if (!widget) {
                std::fprintf(stderr, "screenshots: no widget %s\n", qPrintable(arg));
                return false;
            }
            const QPoint at(arg.section(':', 1, 1).toInt(), arg.section(':', 2, 2).toInt());
            QHelpEvent tip(QEvent::ToolTip, at, widget->mapToGlobal(at));
            QApplication::sendEvent(widget, &tip);
        } else if (kind == "choose") {
            // The register console's file choosers answer this file from here on.
            Tkv2580mfrm* console = m_app.main->RegisterConsole();
            console->opfcmd = [arg] { return QStringList{arg}; };
            console->saveRegsDialog = [arg] { return arg; };
            console->openRegsDialog = [arg](const char*) { return arg; };
            console->openMapDialog = [arg] { return arg; };
            console->saveRecordingDialog = [arg] { return arg; };
        } else if (kind == "grab") {
            const QString name = arg.section(':', 0, 0);
            QString file = arg.section(':', 1);
            if (file.isEmpty()) file = name + ".png";
            QWidget* window = findWindow(name);
            if (!window) {
                std::fprintf(stderr, "screenshots: no window %s\n", qPrintable(name));
                return false;
            }
            if (!window->isVisible()) window->show();
            settle();
            const QString path = QDir(m_directory).filePath(file);
            if (!window->grab().save(path, "PNG")) {
                std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
                return false;
            }
            std::printf("%s\n", qPrintable(path));
        } else {
            std::fprintf(stderr, "screenshots: unknown step %s\n", qPrintable(step));
            return false;
        }
        QApplication::processEvents();
    }
    return true;
}
