// Configuration files and preset buttons, sent to the simulated board. How a file is read and
// its lines parsed is proved with the buffer and the parser; here: what crosses the window.
#include "tests/gui/support/GuiHarness.h"

#include "protocol/Command.h"
#include "protocol/ConfigLines.h"

#include <QKeyEvent>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTextEdit>
#include <QTimer>

namespace {

const QString kLoaded = QString::fromUtf8("Load Confuguration File\uFF1A\n");

int commandLines(const std::string& folder, const std::string& name) {
    const auto where = evb::FindPresetFile(folder, name);
    EXPECT_TRUE(where.found) << name;
    const evb::TextLoad text = evb::LoadTextFile(where.path, evb::kPresetBufferSize);
    return evb::CountCommandLines(evb::ParseConfigLines(text.text, evb::kPresetLineLimit));
}

class FileFixture : public GuiFixture {
  protected:
    void SetUp() override {
        GuiFixture::SetUp();
        chooseCodec("KV2440");
    }
    void loadText(const std::string& bytes) { load({QString::fromStdString(writeFile("a.txt", bytes))}); }
    // "Send Configuration" puts exactly these frames on the wire.
    void sendExpecting(const std::vector<Record>& frames) {
        markFrames();
        click("kv2580mfrm/SDFileCMD");
        expectSent(frames);
        settle();
    }
    std::vector<evbsim::ReceivedFrame> press(const char* button, std::size_t expectFrames = 2) {
        markFrames();
        click(QString("kv2580mfrm/") + button);
        // The press returns once every frame is queued; the board may still be reading them.
        auto frames = framesSinceMark(std::max<std::size_t>(expectFrames, sentSinceMark()), 10s);
        settle();
        return frames;
    }
};

} // namespace

// The loaded text is sent as a batch again at each press; a cancelled dialog discards it. Each
// file is copied over the buffer from its start: a short one after a long one leaves the long
// one's tail.
TEST_F(FileFixture, LoadedTextIsSentAtEachPressACancelDiscardsItAShortFileKeepsALongOnesTail) {
    loadText(":W0080@\r\n:D0064@\r\n:G0102@\r\nend\r\n");
    EXPECT_TRUE(consoleText().endsWith(kLoaded));
    for (int press = 0; press < 2; ++press)
        sendExpecting({{4, 0, 1}, {5, 0, 0, 0x80}, {5, 7, 0, 0x64}, {5, 0x0B, 1, 2}, {6}});
    EXPECT_TRUE(consoleText().endsWith(QString::fromUtf8("SET_TXT_LENGTH\uFF1A3\nSend the Confuguration  \n")));
    EXPECT_EQ(con->ProgrBar->value(), 0);
    load({});
    EXPECT_EQ(consoleText().count(kLoaded), 2);
    sendExpecting({{0x04, 0x00, 0x01}, {0x06}});
    load({QString::fromStdString(writeFile("long.txt", ":W0101@\r\n:W0202@\r\n:W0303@\r\n")),
          QString::fromStdString(writeFile("short.txt", ":W0909@\r\n"))});
    sendExpecting({{4, 0, 1}, {5, 0, 9, 9}, {5, 0, 2, 2}, {5, 0, 3, 3}, {6}});
}

TEST_F(FileFixture, EachChosenFilesProblemsAreShownAndATextWithErrorsSendsNothing) {
    const std::string big = writeFile("big.txt", NumberedConfigLines(520));
    load({QString::fromStdString(big), files.path()});
    // (between the two: the shipped map's warnings about the big file's writes)
    EXPECT_TRUE(consoleHas(QString::fromStdString(big) + ": only the first 4096 bytes loaded, 64 bytes not loaded\n"));
    EXPECT_TRUE(consoleText().endsWith("File not loaded: " + files.path() + " (" + files.path() + ": Is a directory)\n" + kLoaded))
        << consoleText().toStdString();
    chooseCodec("KV2460"); // highest register 0x53
    const QString bad = QString::fromStdString(writeFile("bad.txt", ":W5400@\r\n:W0o80@\r\n"));
    load({bad});
    const QString error = bad + ":2: error: 'o' in column 4 is not a hexadecimal digit\n";
    EXPECT_TRUE(consoleText().endsWith(bad + ":1: warning: register 0x54 is above the chip's highest register 0x53; the write is sent\n" +
                                       error + kLoaded));
    con->ProgrBar->setRange(0, 7);
    con->ProgrBar->setValue(3);
    sendExpecting({});
    EXPECT_TRUE(consoleText().endsWith(error + "Nothing was sent: " + bad + " has an error in line 2\n"));
    EXPECT_EQ(con->ProgrBar->maximum() * 10 + con->ProgrBar->value(), 73) << "the progress bar is untouched";
    const QString before = consoleText(); // a clean file adds no line of its own
    load({QString::fromStdString(writeFile("clean.txt", ":W5300@\r\n"))});
    EXPECT_EQ(consoleText(), before + kLoaded);
}

// Sends to a board that takes its bytes at 19200 baud, as a real one does; the program paces
// the pseudo-terminal by itself.
class PacedFileFixture : public FileFixture {
  protected:
    PacedFileFixture() { pacedBoard = true; }
    void SetUp() override {
        FileFixture::SetUp();
        chooseCodec("KV2440");
    }
    // Runs action once, from the event loop, when the progress bar reaches `at`.
    QMetaObject::Connection atProgress(int at, std::function<void()> action) {
        fired = false;
        return QObject::connect(con->ProgrBar, &QProgressBar::valueChanged, con, [this, at, action](int value) {
            if (value != at || fired) return;
            fired = true;
            QTimer::singleShot(0, con, action);
        });
    }
    bool fired = false;
};

// Stop, or Esc in any window of the program, ends the send after the current line with the end
// frame; the 512 CR LF lines of the file were all loaded, and the window repaints while it sends.
// Until then no other command reaches the board: the controls that send are disabled, and a
// command that gets past them is held back from the batch. The send ends, and says how far it
// got, once the board has those lines and the end frame.
TEST_F(PacedFileFixture, NoOtherCommandGoesOutDuringASendAndStopOrEscEndItWithTheEndFrame) {
    loadText(NumberedConfigLines(512));
    for (const bool esc : {false, true}) {
        SCOPED_TRACE(esc ? "Esc" : "Stop");
        markFrames();
        std::uint64_t sentAtStop = 0;
        struct PaintCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                paints += e->type() == QEvent::Paint;
                return false;
            }
        } counter;
        con->ProgrBar->installEventFilter(&counter);
        const auto connection = atProgress(esc ? 110 : 100, [&] {
            // The button covers no other control of the window (the groups' bevels have no name).
            for (QWidget* w : con->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (w != con->StopSendCMD && w->isVisible() && !w->objectName().isEmpty()) {
                    EXPECT_FALSE(w->geometry().intersects(con->StopSendCMD->geometry())) << w->objectName().toStdString();
                }
            EXPECT_FALSE(app->main->Sel_OSC_CLK->isEnabled());
            EXPECT_FALSE(con->RDRegCMD->isEnabled());
            ClickNow(app->main->Sel_OSC_CLK);
            ClickNow(app->main->Refresh);
            EXPECT_TRUE(evb::CmdWriteReg(0x01, 0x02));
            sentAtStop = evb::FramesSent();
            if (!esc) return click("kv2580mfrm/StopSendCMD");
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(app->main->UARTSHOW, &press);
        });
        click("kv2580mfrm/SDFileCMD");
        con->ProgrBar->removeEventFilter(&counter);
        QObject::disconnect(connection);
        ASSERT_NE(sentAtStop, 0u);
        EXPECT_GT(counter.paints, 10);
        EXPECT_LE(evb::FramesSent() - sentAtStop, 2u) << "at most one more line, then the end frame";
        const auto frames = framesSinceMark(sentSinceMark(), 300ms); // its last bytes on the wire
        ASSERT_EQ(frames.size(), sentSinceMark());
        for (std::size_t i = 1; i + 1 < frames.size(); ++i)
            ASSERT_EQ(frames[i].record[0], 0x05) << i;
        EXPECT_TRUE(recordIs(frames.back(), {0x06}));
        const auto m = QRegularExpression("Send stopped after (\\d+) of 512 lines\n$").match(consoleText());
        ASSERT_TRUE(m.hasMatch()) << consoleText().right(300).toStdString();
        EXPECT_EQ(m.captured(1).toUInt(), frames.size() - 2); // begin and end
        EXPECT_FALSE(con->StopSendCMD->isVisible());
        EXPECT_TRUE(con->SDFileCMD->isEnabled());
        EXPECT_TRUE(app->main->Sel_OSC_CLK->isEnabled() && app->main->Refresh->isEnabled());
        EXPECT_EQ(board->State().batchesCompleted, esc ? 2u : 1u);
    }
    EXPECT_FALSE(consoleHas("Send the Confuguration"));
}

// --- preset buttons --------------------------------------------------------------------------

TEST_F(FileFixture, ShippedFilesAreSentAsCountedBatchesWithTheButtonsCaption) {
    struct Case {
        const char *codec, *button, *folder, *file, *line;
    };
    for (const Case& c : {Case{"KV2330", "ButtonA2", "KV2330", "KV2330_Lin1.TXT", "Press the Button A2:Record form LIN1 && RIN1\n"},
                          Case{"KV1120", "ButtonC1", "", "CorvaneEQ.TXT", "Press the Button C1:CorvaneEQ1\n"}}) {
        SCOPED_TRACE(c.button);
        chooseCodec(c.codec);
        const int n = commandLines(c.folder, c.file);
        ASSERT_GT(n, 3);
        const auto frames = press(c.button);
        ASSERT_GE(frames.size(), 2u);
        EXPECT_TRUE(recordIs(frames.front(), {0x04, 0x00, n}));
        EXPECT_TRUE(recordIs(frames.back(), {0x06}));
        EXPECT_TRUE(consoleText().endsWith(c.line));
    }
    // The C buttons other than C1 only log, and a shown button without a file does nothing.
    chooseCodec("KV2640");
    click("kv2580mfrm/ButtonC2");
    EXPECT_TRUE(consoleText().endsWith("Press the Button C2:CorvaneEQ2\n"));
    chooseCodec("KV2210S");
    click("kv2580mfrm/ButtonA7");
    click("kv2580mfrm/ButtonB3");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_FALSE(consoleHas("SET_TXT_LENGTH"));
    EXPECT_EQ(board->State().batchesCompleted, 2u);
}

TEST_F(FileFixture, AutoPressStepsFromTheLastButtonAndWraps) {
    chooseCodec("Corvane");
    click("kv2580mfrm/ButtonC1");
    EXPECT_TRUE(consoleHas("AutoPress the Button Fail! Please Press the Button Frist\n"));
    EXPECT_EQ(sentSinceMark(), 0u);
    press("ButtonA3");
    const auto frames = press("ButtonC1");
    EXPECT_TRUE(consoleHas("AutoPress the Button A4:Button-A4\n"));
    EXPECT_TRUE(recordIs(frames.front(), {0x04, 0x00, commandLines("Corvane", "Corvane_A4.TXT")}));
    press("ButtonC1");
    EXPECT_TRUE(consoleHas("AutoPress the Button A5:Button-A5\n"));
    press("ButtonB8");
    press("ButtonC1");
    EXPECT_TRUE(consoleText().endsWith("AutoPress the Button A1:Button-A1\n"));
    EXPECT_EQ(evb::gRegs.LastPresetButton, 1);
}

// From the test's own folder: a missing preset file sends an empty batch and one with errors
// nothing; KV2440's B4 begins with one where B1 begins with the line count.
TEST_F(FileFixture, AMissingPresetFileSendsAnEmptyBatchOneWithErrorsNothingAndB4BeginsWithOne) {
    evb::SetPresetSearchRoots({files.path().toStdString()});
    chooseCodec("KV2330");
    click("kv2580mfrm/ButtonA2");
    expectSent({{0x04, 0x00, 0x00}, {0x06}});
    EXPECT_TRUE(consoleText().endsWith("Press the Button A2:Record form LIN1 && RIN1\nPreset file not found: " +
                                       files.path() + "/KV2330/KV2330_Lin1.TXT\n"));
    const std::string path = writeFile("KV2330/KV2330_Lin1.TXT", ":W0102@\r\n:W01@\r\n");
    EXPECT_TRUE(press("ButtonA2", 0).empty());
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(consoleText().endsWith(QString::fromStdString(
        "Press the Button A2:Record form LIN1 && RIN1\n" + path +
        ":2: error: '@' after only 2 hexadecimal digits: a W line needs four\nNothing was sent: " + path +
        " has an error in line 2\n")))
        << consoleText().toStdString();
    writeFile("KV2440/KV2440_Reset.TXT", ":W0101@\r\n:W0202@\r\n:D0005@\r\n");
    writeFile("KV2440/KV2440_Standby.TXT", ":W0101@\r\n:W0202@\r\n:D0005@\r\n");
    chooseCodec("KV2440");
    for (const auto& [button, count] : {std::pair{"kv2580mfrm/ButtonB4", 1}, {"kv2580mfrm/ButtonB1", 3}}) {
        click(button);
        expectSent({{4, 0, count}, {5, 0, 1, 1}, {5, 0, 2, 2}, {5, 7, 0, 5}, {6}});
        settle();
    }
}
