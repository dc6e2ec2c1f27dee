#include "tests/gui/support/GuiHarness.h"

#include "protocol/TextConv.h"
#include "windows/Twarnfrm.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <thread>

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

std::string NumberedConfigLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += ":W" + evb::Hex2(i & 0x7F) + evb::Hex2(i & 0xFF) + "@\r\n";
    return text;
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
    const QString windowName = objectName.section('/', 0, 0), childName = objectName.section('/', 1);
    for (bool visibleOnly : {true, false})
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (!childName.isEmpty() && window->objectName() == windowName) return window->findChild<QWidget*>(childName);
            if (!childName.isEmpty() || (visibleOnly && !window->isVisible())) continue;
            if (window->objectName() == objectName) return window;
            if (auto* child = window->findChild<QWidget*>(objectName)) return child;
        }
    return nullptr;
}

void ClickNow(QWidget* widget) {
    // Check boxes and radio buttons are clicked on their indicator, buttons in their middle.
    QPointF local = QRectF(widget->rect()).center();
    if (qobject_cast<QCheckBox*>(widget) || qobject_cast<QRadioButton*>(widget))
        local = QPointF(std::min(8, widget->width() / 2), widget->height() / 2.0);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, local, widget->mapToGlobal(local), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
}

void GuiFixture::SetUp() {
    TestApp();
    evb::gRegs = evb::RegisterState{};
    evb::SetPresetSearchRoots({});
    ASSERT_TRUE(files.isValid());
    if (linkedBoard) {
        ownBoard = std::make_unique<evbsim::SimBoard>(evbsim::SimOptions{.baud = 19200, .pace = false});
        linkPath = files.filePath("evb-board").toStdString();
        ASSERT_TRUE(ownBoard->Start() && ownBoard->Link(linkPath));
    }
    restartApp();
    ASSERT_TRUE(board && con);
}

void GuiFixture::restartApp() {
    app.reset();
    AppConfig config;
    config.start.sysRoot = files.path().toStdString();
    config.start.extraPort = linkPath;
    config.simulate = !ownBoard;
    config.simulatePace = pacedBoard;
    sentBase = sentMark = 0; // the new window's session has sent nothing yet
    app = CreateApplicationWindows(config);
    board = ownBoard ? ownBoard.get() : app->sim.get();
    app->main->show();
    con = app->main->RegisterConsole();
    frameMark = board ? board->FrameCount() : 0;
}

void GuiFixture::TearDown() {
    takeErrorBox();
    app.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    ownBoard.reset();
}

void GuiFixture::click(const QString& objectName) {
    QWidget* widget = FindWidgetByName(objectName);
    ASSERT_TRUE(widget && widget->isVisible()) << objectName.toStdString() << ": no such widget on screen";
    ClickNow(widget);
    QCoreApplication::processEvents();
    // A configuration or preset send runs from events; like a user, the test waits for its end.
    WaitUntil([] { return evb::BatchOwner() == nullptr; }, std::chrono::seconds(60));
}

void GuiFixture::triggerMenu(const QString& actionText) {
    for (QWidget* window : QApplication::topLevelWidgets())
        for (QAction* action : window->findChildren<QAction*>()) {
            // The caption without its mnemonic marks ("&&" is "&").
            if (action->iconText() != actionText && action->objectName() != actionText) continue;
            action->trigger(); // a disabled entry does nothing, as for a user
            QCoreApplication::processEvents();
            return;
        }
    ADD_FAILURE() << "no menu entry " << actionText.toStdString();
}

void GuiFixture::typeText(const QString& objectName, const QString& text) {
    auto* edit = find<QLineEdit>(objectName);
    ASSERT_NE(edit, nullptr) << "no edit field named " << objectName.toStdString();
    edit->selectAll();
    edit->insert(text);
}

QString GuiFixture::warning() const {
    return app->main->WarningWindow()->Errlbl->text();
}

std::string GuiFixture::writeFile(const std::string& name, const std::string& bytes) {
    const std::filesystem::path path = files.filePath(QString::fromStdString(name)).toStdString();
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

std::vector<evbsim::ReceivedFrame> GuiFixture::framesSinceMark(std::size_t n, std::chrono::milliseconds timeout) {
    WaitUntil([&] { return board->FrameCount() >= frameMark + n; }, timeout);
    const std::vector<evbsim::ReceivedFrame> all = board->Frames();
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(frameMark, all.size())), all.end()};
}

void GuiFixture::markFrames() {
    const auto sent = static_cast<std::size_t>(evb::FramesSent() - sentBase);
    EXPECT_TRUE(WaitUntil([&] { return board->FrameCount() >= sent; }))
        << "the board received " << board->FrameCount() << " of " << sent << " frames";
    frameMark = board->FrameCount();
    sentMark = evb::FramesSent();
}

static std::string hexRecords(const std::vector<Record>& records) {
    std::string s;
    for (const Record& r : records) {
        for (std::size_t i = 0; i < 18; ++i)
            s += evb::Hex2(i < r.size() ? static_cast<unsigned>(r[i]) : 0) + " ";
        s += "\n";
    }
    return s;
}

void GuiFixture::expectSent(const std::vector<Record>& expected) {
    std::vector<Record> got;
    for (const auto& f : framesSinceMark(expected.size()))
        got.emplace_back(f.record.begin(), f.record.end());
    EXPECT_EQ(hexRecords(got), hexRecords(expected));
    EXPECT_EQ(sentSinceMark(), expected.size());
    markFrames();
}

::testing::AssertionResult GuiFixture::recordIs(const evbsim::ReceivedFrame& frame, const Record& head) {
    const std::string got = hexRecords({Record(frame.record.begin(), frame.record.end())});
    if (got == hexRecords({head})) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "record " << got;
}

void GuiFixture::settle() {
    const auto quiet = std::chrono::milliseconds(300), timeout = std::chrono::milliseconds(20000);
    ASSERT_TRUE(board->WaitRepliesSent(timeout));
    auto& handoff = ReplyHandoff();
    int last = handoff.queued.load();
    auto since = std::chrono::steady_clock::now();
    const auto settled = [&] {
        const int queued = handoff.queued.load();
        const auto now = std::chrono::steady_clock::now();
        if (queued != last) since = now;
        last = queued;
        return handoff.finished.load() == queued && now - since > quiet;
    };
    ASSERT_TRUE(WaitUntil(settled, timeout)) << "replies still arriving or not yet decoded";
}

bool GuiFixture::waitHandedOver(int n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ReplyHandoff().queued.load() < n && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    return ReplyHandoff().queued.load() >= n;
}

QString GuiFixture::takeErrorBox() {
    QString text;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(window)) {
            if (box->isVisible()) text = box->text();
            box->close();
        }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return text;
}
