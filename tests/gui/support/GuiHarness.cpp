#include "tests/gui/support/GuiHarness.h"

#include "app/ReplyHandoff.h"

#include <cstdio>

#include "protocol/BoardCommand.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTextEdit>
#include <QTimer>

#include <cstdlib>

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    QElapsedTimer elapsed;
    elapsed.start();
    // Wakes the event loop regularly, so conditions that change on other threads (the board's
    // thread, the serial layer's) are seen without spinning.
    QTimer tick;
    tick.start(2);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (pred()) return true;
        if (elapsed.elapsed() >= timeout.count()) return pred();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

QApplication& TestApp() {
    static QApplication* instance = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "evbconsole-gui-tests";
        static char* argv[] = {name, nullptr};
        auto* app = new QApplication(argc, argv);
        QApplication::setApplicationName("evbconsole");
        return app;
    }();
    return *instance;
}

QWidget* FindWidgetByName(const QString& objectName) {
    const qsizetype slash = objectName.indexOf('/');
    if (slash >= 0) {
        const QString windowName = objectName.left(slash);
        const QString childName = objectName.mid(slash + 1);
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->objectName() == windowName) return window->findChild<QWidget*>(childName);
        return nullptr;
    }
    for (bool visibleOnly : {true, false}) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (visibleOnly && !window->isVisible()) continue;
            if (window->objectName() == objectName) return window;
            if (auto* child = window->findChild<QWidget*>(objectName)) return child;
        }
    }
    return nullptr;
}

void GuiFixture::SetUp() {
    TestApp();
    sysRoot = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(sysRoot->isValid());
    AppConfig config;
    config.simulate = true;
    config.simulatePace = false;
    restartApp(config);
    ASSERT_NE(board, nullptr);
}

void GuiFixture::restartApp(AppConfig config, evbsim::SimBoard* portBoard) {
    app.reset();
    config.start.sysRoot = sysRoot->path().toStdString();
    sentBase = evb::FramesSent();
    app = CreateApplicationWindows(config);
    board = portBoard ? portBoard : app->sim.get();
    app->main->show();
    frameMark = board ? board->FrameCount() : 0;
    sentMark = sentBase;
}

void GuiFixture::TearDown() {
    closeErrorBoxes();
    app.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    sysRoot.reset();
}

void GuiFixture::click(const QString& objectName) {
    QWidget* widget = FindWidgetByName(objectName);
    if (!widget) {
        ADD_FAILURE() << "no widget named " << objectName.toStdString();
        return;
    }
    if (!widget->isVisible()) {
        ADD_FAILURE() << objectName.toStdString() << " is not on screen: a user cannot click it";
        return;
    }
    // Check boxes and radio buttons are clicked on their indicator, buttons in their middle.
    QPointF local = QRectF(widget->rect()).center();
    if (qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget))
        local = QPointF(std::min(8, widget->width() / 2), widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
    QCoreApplication::processEvents();
    // A configuration or preset send runs from events; like a user, the test waits for its end.
    WaitUntil([] { return evb::BatchOwner() == nullptr; }, std::chrono::seconds(60));
}

void GuiFixture::triggerMenu(const QString& actionText) {
    QAction* found = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        for (QAction* action : window->findChildren<QAction*>()) {
            QString caption = action->text();
            caption.replace("&&", "\x01").remove('&').replace("\x01", "&");
            if (caption == actionText || action->objectName() == actionText) {
                found = action;
                break;
            }
        }
        if (found) break;
    }
    if (!found) {
        ADD_FAILURE() << "no menu entry " << actionText.toStdString();
        return;
    }
    found->trigger(); // a disabled entry does nothing, as for a user
    QCoreApplication::processEvents();
}

void GuiFixture::typeText(const QString& objectName, const QString& text) {
    auto* edit = find<QLineEdit>(objectName);
    if (!edit) {
        ADD_FAILURE() << "no edit field named " << objectName.toStdString();
        return;
    }
    edit->selectAll();
    edit->insert(text);
}

QString GuiFixture::consoleText() const {
    auto* console = app && app->main ? app->main->UARTSHOW : nullptr;
    return console ? console->toPlainText() : QString();
}

std::vector<evbsim::ReceivedFrame> GuiFixture::framesSinceMark(std::size_t n,
                                                               std::chrono::milliseconds timeout) {
    WaitUntil([&] { return board->FrameCount() >= frameMark + n; }, timeout);
    std::vector<evbsim::ReceivedFrame> all = board->Frames();
    if (all.size() <= frameMark) return {};
    return {all.begin() + static_cast<std::ptrdiff_t>(frameMark), all.end()};
}

void GuiFixture::markFrames() {
    const auto sent = static_cast<std::size_t>(evb::FramesSent() - sentBase);
    EXPECT_TRUE(WaitUntil([&] { return board->FrameCount() >= sent; }))
        << "the board received " << board->FrameCount() << " of " << sent << " frames";
    frameMark = board->FrameCount();
    sentMark = evb::FramesSent();
}

std::uint64_t GuiFixture::sentSinceMark() const {
    return evb::FramesSent() - sentMark;
}

QMessageBox* GuiFixture::errorBox() const {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible()) return box;
    return nullptr;
}

void GuiFixture::closeErrorBoxes() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(window)) box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void GuiFixture::settleReplies(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout) {
    ASSERT_TRUE(board->WaitRepliesSent(timeout));
    auto& handoff = evb::ReplyHandoff();
    int last = handoff.queued.load();
    auto since = std::chrono::steady_clock::now();
    const bool settled = WaitUntil(
        [&] {
            const int queued = handoff.queued.load();
            const auto now = std::chrono::steady_clock::now();
            if (queued != last) {
                last = queued;
                since = now;
                return false;
            }
            return handoff.finished.load() == queued && now - since > quiet;
        },
        timeout);
    ASSERT_TRUE(settled) << "replies still arriving or not yet decoded";
}

std::string NumberedConfigLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        char line[16];
        std::snprintf(line, sizeof line, ":W%02X%02X@\r\n", i & 0x7F, i & 0xFF);
        text += line;
    }
    return text;
}
