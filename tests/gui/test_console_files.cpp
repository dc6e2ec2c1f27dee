// Configuration files and preset buttons, sent to the simulated board.
#include "test_console_fixture.h"

#include "protocol/Command.h"
#include "protocol/ConfigLines.h"
#include "serial/TLinePacer.h"

#include <QEvent>
#include <QKeyEvent>
#include <QTextEdit>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTimer>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <fstream>

namespace {

std::string writeFile(const QTemporaryDir& dir, const std::string& name, const std::string& bytes) {
    const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return path;
}

class FileFixture : public ConsoleFixture {
  protected:
    void SetUp() override {
        ConsoleFixture::SetUp();
        ASSERT_TRUE(dir.isValid());
        chooseCodec("KV2440");
    }
    // "Load Configuration File" with these files chosen in the dialog (none: cancelled).
    void load(const QStringList& files) {
        con->opfcmd = [files] { return files; };
        click("kv2580mfrm/LDFileCMD");
    }
    // "Send Configuration"; every frame the board received for it, once the replies settled.
    std::vector<evbsim::ReceivedFrame> send(std::size_t frames) {
        markFrames();
        click("kv2580mfrm/SDFileCMD");
        framesSinceMark(frames, 10s);
        settle();
        const std::vector<evbsim::ReceivedFrame> all = board->Frames();
        if (all.size() <= frameMark) return {};
        return {all.begin() + static_cast<std::ptrdiff_t>(frameMark), all.end()};
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(FileFixture, ThreeLinesAndTrailingTextSendABatchAndReport) {
    load({QString::fromStdString(writeFile(dir, "a.txt", ":W0080@\r\n:D0064@\r\n:G0102@\r\nend\r\n"))});
    EXPECT_TRUE(consoleText().endsWith(QString::fromUtf8("Load Confuguration File\uFF1A\n")));
    const auto frames = send(5);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_TRUE(recordIs(frames[0], {0x04, 0x00, 0x01}));
    EXPECT_TRUE(recordIs(frames[1], {0x05, 0x00, 0x00, 0x80}));
    EXPECT_TRUE(recordIs(frames[2], {0x05, 0x07, 0x00, 0x64}));
    EXPECT_TRUE(recordIs(frames[3], {0x05, 0x0B, 0x01, 0x02}));
    EXPECT_TRUE(recordIs(frames[4], {0x06}));
    EXPECT_TRUE(consoleHas(QString::fromUtf8("SET_TXT_LENGTH\uFF1A3\n")));
    EXPECT_TRUE(consoleText().endsWith("Send the Confuguration  \n"));
    EXPECT_EQ(con->ProgrBar->value(), 0);
    // Sending does not consume the text: a second press sends the same batch again.
    EXPECT_EQ(send(5).size(), 5u);
}

TEST_F(FileFixture, LineVariantsTable) {
    struct Case {
        const char* text;
        std::vector<std::vector<int>> between; // records between begin and end
        int counted;
    };
    const Case cases[] = {
        {":W1A2B@ set gain\r\n", {{0x05, 0x00, 0x1A, 0x2B}}, 1},
        {"; first line is a comment\r\n:W0101@\r\n", {}, 0},
        {":w0a0b@\r\n:d012c@\r\n:g0304@\r\n",
         {{0x05, 0x00, 0x0A, 0x0B}, {0x05, 0x07, 0x01, 0x2C}, {0x05, 0x0B, 0x03, 0x04}},
         3},
        {":C1234@\r\n:W0505@\r\n", {{0x05, 0x00, 0x05, 0x05}}, 2},
    };
    int i = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        load({QString::fromStdString(writeFile(dir, "case" + std::to_string(i++) + ".txt", c.text))});
        const auto frames = send(c.between.size() + 2);
        ASSERT_EQ(frames.size(), c.between.size() + 2);
        EXPECT_TRUE(recordIs(frames.front(), {0x04, 0x00, 0x01}));
        for (std::size_t k = 0; k < c.between.size(); ++k) {
            std::array<std::uint8_t, 18> expected{};
            for (std::size_t j = 0; j < c.between[k].size(); ++j)
                expected[j] = static_cast<std::uint8_t>(c.between[k][j]);
            EXPECT_EQ(frames[k + 1].record, expected) << k;
        }
        EXPECT_TRUE(recordIs(frames.back(), {0x06}));
        EXPECT_TRUE(consoleText().contains(QString::fromUtf8("SET_TXT_LENGTH\uFF1A%1\n").arg(c.counted)));
    }
}

TEST_F(FileFixture, CancelledDialogDiscardsTheLoadedText) {
    load({QString::fromStdString(writeFile(dir, "a.txt", ":W0101@\r\n"))});
    load({});
    EXPECT_EQ(consoleText().count(QString::fromUtf8("Load Confuguration File\uFF1A\n")), 2);
    const auto frames = send(2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(recordIs(frames[0], {0x04, 0x00, 0x01}));
    EXPECT_TRUE(recordIs(frames[1], {0x06}));
}

TEST_F(FileFixture, FiveHundredTwelveWindowsLinesAllReachTheBoard) {
    load({QString::fromStdString(writeFile(dir, "512.txt", NumberedConfigLines(512)))});
    EXPECT_FALSE(consoleHas("not loaded"));
    // The send runs from events, so the window repaints while it runs.
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    con->ProgrBar->installEventFilter(&counter);
    const auto frames = send(514);
    con->ProgrBar->removeEventFilter(&counter);
    ASSERT_EQ(frames.size(), 514u);
    EXPECT_TRUE(recordIs(frames[512], {0x05, 0x00, 0x7F, 0xFF}));
    EXPECT_EQ(board->State().batchLines, 512u);
    EXPECT_TRUE(consoleHas(QString::fromUtf8("SET_TXT_LENGTH\uFF1A512\n")));
    EXPECT_GT(counter.paints, 10);
    EXPECT_EQ(con->ProgrBar->value(), 0);
}

// Sends over a port whose output drains at 19200 baud, as a real UART's does.
class PacedFileFixture : public FileFixture {
  protected:
    void SetUp() override {
        FileFixture::SetUp();
        TalonComm::TLinePacer::SetEnabled(true);
        click("Refresh"); // opens the port again, now paced
        chooseCodec("KV2440");
    }
    void TearDown() override {
        TalonComm::TLinePacer::SetEnabled(false);
        FileFixture::TearDown();
    }
    // Runs action once, from the event loop, when the progress bar reaches `at`.
    void atProgress(int at, std::function<void()> action) {
        QObject::connect(con->ProgrBar, &QProgressBar::valueChanged, con, [this, at, action](int value) {
            if (value != at || m_fired) return;
            m_fired = true;
            QTimer::singleShot(0, con, action);
        });
    }
    // A mouse click that returns at once (the harness's click waits for the send to end).
    static void clickNow(QWidget* w) {
        const QPointF local = QRectF(w->rect()).center();
        QMouseEvent press(QEvent::MouseButtonPress, local, w->mapToGlobal(local), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, local, w->mapToGlobal(local), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &release);
    }
    bool m_fired = false;
};

TEST_F(PacedFileFixture, StopEndsTheSendAfterTheCurrentFrameWithTheEndFrame) {
    load({QString::fromStdString(writeFile(dir, "512.txt", NumberedConfigLines(512)))});
    markFrames();
    std::uint64_t sentAtStop = 0;
    atProgress(100, [&] {
        EXPECT_TRUE(con->StopSendCMD->isVisible());
        // It covers no other control of the window (the bevels around the groups have no name).
        for (QWidget* w : con->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w == con->StopSendCMD || !w->isVisible() || w->objectName().isEmpty()) continue;
            EXPECT_FALSE(w->geometry().intersects(con->StopSendCMD->geometry())) << w->objectName().toStdString();
        }
        sentAtStop = evb::FramesSent();
        click("kv2580mfrm/StopSendCMD");
    });
    click("kv2580mfrm/SDFileCMD");
    ASSERT_NE(sentAtStop, 0u);
    const std::uint64_t after = evb::FramesSent() - sentAtStop;
    EXPECT_GE(after, 1u);
    EXPECT_LE(after, 2u); // at most one more line, then the end frame
    const auto frames = framesSinceMark(sentSinceMark(), 5s);
    ASSERT_EQ(frames.size(), sentSinceMark());
    EXPECT_TRUE(recordIs(frames.back(), {0x06}));
    const auto m = QRegularExpression("Send stopped after (\\d+) of 512 lines\n").match(consoleText());
    ASSERT_TRUE(m.hasMatch()) << consoleText().right(300).toStdString();
    EXPECT_EQ(static_cast<std::size_t>(m.captured(1).toInt()), frames.size() - 2); // begin and end
    EXPECT_FALSE(consoleHas("Send the Confuguration"));
    EXPECT_FALSE(con->StopSendCMD->isVisible());
    EXPECT_TRUE(con->SDFileCMD->isEnabled());
    EXPECT_EQ(board->State().batchesCompleted, 1u);
}

TEST_F(PacedFileFixture, EscStopsTheSendLikeStop) {
    load({QString::fromStdString(writeFile(dir, "64.txt", NumberedConfigLines(64)))});
    atProgress(10, [&] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(app->main->UARTSHOW, &press); // Esc in any window of the program
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(app->main->UARTSHOW, &release);
    });
    click("kv2580mfrm/SDFileCMD");
    ASSERT_TRUE(m_fired);
    EXPECT_TRUE(consoleText().contains(QRegularExpression("Send stopped after 1[12] of 64 lines\n")))
        << consoleText().right(200).toStdString();
}

TEST_F(PacedFileFixture, NoOtherCommandReachesTheBoardDuringASend) {
    load({QString::fromStdString(writeFile(dir, "64.txt", NumberedConfigLines(64)))});
    markFrames();
    atProgress(20, [&] {
        EXPECT_FALSE(app->main->Sel_OSC_CLK->isEnabled());
        EXPECT_FALSE(con->RDRegCMD->isEnabled());
        clickNow(app->main->Sel_OSC_CLK);
        clickNow(app->main->Refresh);
        // A command that gets past the disabled controls is held back from the batch.
        EXPECT_TRUE(evb::CmdWriteReg(0x01, 0x02));
    });
    click("kv2580mfrm/SDFileCMD");
    ASSERT_TRUE(m_fired);
    const auto frames = framesSinceMark(66, 5s);
    ASSERT_EQ(frames.size(), 66u);
    for (std::size_t i = 1; i + 1 < frames.size(); ++i)
        ASSERT_EQ(frames[i].record[0], 0x05) << i;
    EXPECT_TRUE(recordIs(frames.back(), {0x06}));
    EXPECT_EQ(sentSinceMark(), 66u);
    EXPECT_TRUE(app->main->Sel_OSC_CLK->isEnabled());
    EXPECT_TRUE(app->main->Refresh->isEnabled());
}

TEST_F(FileFixture, ShortFileAfterLongOneSendsTheLongOnesRemainingLines) {
    const auto longFile = writeFile(dir, "long.txt", ":W0101@\r\n:W0202@\r\n:W0303@\r\n");
    const auto shortFile = writeFile(dir, "short.txt", ":W0909@\r\n");
    load({QString::fromStdString(longFile), QString::fromStdString(shortFile)});
    const auto frames = send(5);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_TRUE(recordIs(frames[1], {0x05, 0x00, 0x09, 0x09}));
    EXPECT_TRUE(recordIs(frames[2], {0x05, 0x00, 0x02, 0x02}));
    EXPECT_TRUE(recordIs(frames[3], {0x05, 0x00, 0x03, 0x03}));
}

TEST_F(FileFixture, OversizedAndUnreadableFilesAreReportedNotLostSilently) {
    const auto big = writeFile(dir, "big.txt", NumberedConfigLines(520));
    load({QString::fromStdString(big), dir.path()});
    EXPECT_TRUE(
        consoleHas(QString::fromStdString(big) + ": only the first 4096 bytes loaded, 64 bytes not loaded"))
        << consoleText().toStdString();
    EXPECT_TRUE(consoleHas("File not loaded: " + dir.path()));
    const auto frames = send(514);
    EXPECT_EQ(frames.size(), 514u);
}

TEST_F(FileFixture, LoadShowsEachFilesProblemsAndATextWithErrorsSendsNothing) {
    chooseCodec("KV2460"); // highest register 0x53
    const QString bad = QString::fromStdString(writeFile(dir, "bad.txt", ":W5400@\r\n:W0o80@\r\n"));
    load({bad});
    EXPECT_TRUE(consoleText().endsWith(
        bad + ":1: warning: register 0x54 is above the chip's highest register 0x53; the write is sent\n" +
        bad + ":2: error: 'o' in column 4 is not a hexadecimal digit\n" +
        QString::fromUtf8("Load Confuguration File\uFF1A\n")))
        << consoleText().toStdString();
    con->ProgrBar->setRange(0, 7);
    con->ProgrBar->setValue(3);
    EXPECT_TRUE(send(0).empty());
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(consoleText().endsWith(bad + ":2: error: 'o' in column 4 is not a hexadecimal digit\n" +
                                       "Nothing was sent: " + bad + " has an error in line 2\n"))
        << consoleText().toStdString();
    EXPECT_EQ(con->ProgrBar->maximum(), 7);
    EXPECT_EQ(con->ProgrBar->value(), 3);
    // A clean file adds no line of its own.
    const QString before = consoleText();
    load({QString::fromStdString(writeFile(dir, "clean.txt", ":W5300@\r\n"))});
    EXPECT_EQ(consoleText(), before + QString::fromUtf8("Load Confuguration File\uFF1A\n"));
}

// --- preset buttons --------------------------------------------------------------------------

namespace {

int commandLines(const std::string& path) {
    const evb::TextLoad text = evb::LoadTextFile(path, evb::kPresetBufferSize);
    return evb::CountCommandLines(evb::ParseConfigLines(text.text, evb::kPresetLineLimit));
}

} // namespace

class PresetFixture : public ConsoleFixture {
  protected:
    std::vector<evbsim::ReceivedFrame> press(const char* button, std::size_t expectFrames) {
        markFrames();
        click(QString("kv2580mfrm/") + button);
        // The press returns once every frame is queued; the board may still be reading them.
        const std::size_t queued = std::max<std::size_t>(expectFrames, sentSinceMark());
        auto frames = framesSinceMark(queued, 10s);
        settle();
        return frames;
    }
};

TEST_F(PresetFixture, Kv2330A2SendsItsShippedFileAsACountedBatch) {
    chooseCodec("KV2330");
    const auto where = evb::FindPresetFile("KV2330", "KV2330_Lin1.TXT");
    ASSERT_TRUE(where.found);
    const int n = commandLines(where.path);
    ASSERT_GT(n, 3);
    const auto frames = press("ButtonA2", 2);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_TRUE(recordIs(frames.front(), {0x04, 0x00, n}));
    EXPECT_TRUE(recordIs(frames.back(), {0x06}));
    EXPECT_TRUE(consoleHas("Press the Button A2:Record form LIN1 && RIN1\n"));
    EXPECT_FALSE(consoleHas("SET_TXT_LENGTH"));
    EXPECT_EQ(board->State().batchesCompleted, 1u);
}

TEST_F(PresetFixture, Kv1160eA5AndA6CarryTheirCaptions) {
    chooseCodec("KV1160E");
    press("ButtonA6", 2);
    EXPECT_TRUE(consoleHas("Press the Button A6:Input 0DB:  AVDD=1V8 LP Mode\n"));
    press("ButtonA5", 2);
    EXPECT_TRUE(consoleHas("Press the Button A5:Input 0DB:  AVDD=1V8\n"));
}

TEST_F(PresetFixture, Kv2440B4BeginsWithOneWhereB1BeginsWithTheLineCount) {
    QTemporaryDir root;
    const std::string three = ":W0101@\r\n:W0202@\r\n:D0005@\r\n";
    writeFile(root, "KV2440/KV2440_Reset.TXT", three);
    writeFile(root, "KV2440/KV2440_Standby.TXT", three);
    evb::SetPresetSearchRoots({root.path().toStdString()});
    chooseCodec("KV2440");
    auto frames = press("ButtonB4", 5);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_TRUE(recordIs(frames[0], {0x04, 0x00, 0x01}));
    frames = press("ButtonB1", 5);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_TRUE(recordIs(frames[0], {0x04, 0x00, 0x03}));
    EXPECT_TRUE(recordIs(frames[3], {0x05, 0x07, 0x00, 0x05}));
}

TEST_F(PresetFixture, AutoPressStepsFromTheLastButtonAndWraps) {
    chooseCodec("Corvane");
    click("kv2580mfrm/ButtonC1");
    EXPECT_TRUE(consoleHas("AutoPress the Button Fail! Please Press the Button Frist\n"));
    EXPECT_EQ(sentSinceMark(), 0u);

    press("ButtonA3", 2);
    const auto where = evb::FindPresetFile("Corvane", "Corvane_A4.TXT");
    ASSERT_TRUE(where.found);
    auto frames = press("ButtonC1", 2);
    EXPECT_TRUE(consoleHas("AutoPress the Button A4:Button-A4\n"));
    EXPECT_TRUE(recordIs(frames.front(), {0x04, 0x00, commandLines(where.path)}));
    press("ButtonC1", 2);
    EXPECT_TRUE(consoleHas("AutoPress the Button A5:Button-A5\n"));

    press("ButtonB8", 2);
    press("ButtonC1", 2);
    EXPECT_TRUE(consoleText().endsWith("AutoPress the Button A1:Button-A1\n"));
    EXPECT_EQ(evb::gRegs.LastPresetButton, 1);
}

TEST_F(PresetFixture, Kv2640C2OnlyLogs) {
    chooseCodec("KV2640");
    click("kv2580mfrm/ButtonC2");
    EXPECT_TRUE(consoleText().endsWith("Press the Button C2:CorvaneEQ2\n"));
    EXPECT_EQ(sentSinceMark(), 0u);
}

TEST_F(PresetFixture, EqualiserProfilesSendTheEqualiserFileFromC1) {
    chooseCodec("KV1120");
    const auto frames = press("ButtonC1", 2);
    EXPECT_TRUE(consoleHas("Press the Button C1:CorvaneEQ1\n"));
    const auto where = evb::FindPresetFile("", "CorvaneEQ.TXT");
    ASSERT_TRUE(where.found);
    EXPECT_TRUE(recordIs(frames.front(), {0x04, 0x00, commandLines(where.path)}));
}

TEST_F(PresetFixture, MissingPresetFileSendsAnEmptyBatchAndSaysWhere) {
    QTemporaryDir empty;
    evb::SetPresetSearchRoots({empty.path().toStdString()});
    chooseCodec("KV2330");
    const auto frames = press("ButtonA2", 2);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(recordIs(frames[0], {0x04, 0x00, 0x00}));
    EXPECT_TRUE(recordIs(frames[1], {0x06}));
    EXPECT_TRUE(consoleHas("Press the Button A2:Record form LIN1 && RIN1\n"));
    EXPECT_TRUE(consoleHas("Preset file not found: " + empty.path() + "/KV2330/KV2330_Lin1.TXT\n"));
}

TEST_F(PresetFixture, ShownButtonWithoutAFileSendsNothing) {
    chooseCodec("KV2210S");
    click("kv2580mfrm/ButtonA7");
    click("kv2580mfrm/ButtonB3");
    EXPECT_EQ(sentSinceMark(), 0u);
}

TEST_F(PresetFixture, PresetWithErrorsSendsNothingAndNamesTheLine) {
    QTemporaryDir root;
    const std::string path = writeFile(root, "KV2330/KV2330_Lin1.TXT", ":W0102@\r\n:W01@\r\n");
    evb::SetPresetSearchRoots({root.path().toStdString()});
    chooseCodec("KV2330");
    EXPECT_TRUE(press("ButtonA2", 0).empty());
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(consoleText().endsWith(QString::fromStdString(
        "Press the Button A2:Record form LIN1 && RIN1\n" + path +
        ":2: error: '@' after only 2 hexadecimal digits: a W line needs four\nNothing was sent: " + path +
        " has an error in line 2\n")))
        << consoleText().toStdString();
}
