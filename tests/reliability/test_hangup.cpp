// A board that goes away (USB adapter unplugged, board reset, pseudo-terminal master closed)
// while the program is idle or in the middle of a 512-line send.
// evbctl meeting the same faults is tested with evbctl.
#include "ReliabilityFixture.h"

#include <QRegularExpression>

namespace {

using reliability::DescriptorOpenOn;
using reliability::ThreadsNamed;

class HangUpTest : public LinkedBoardFixture {
  protected:
    // What every hang-up must leave behind: the user is told once, the device is let go (no
    // descriptor, no I/O thread, nothing spinning), commands show the port-in-use warning and
    // send nothing, and "Refresh" opens the board again once it is back.
    void TearDown() override {
        const std::string slave = board->DevicePath();
        EXPECT_TRUE(waitConsole("went away")) << consoleText().toStdString();
        EXPECT_EQ(consoleText().count("went away"), 1);
        EXPECT_TRUE(consoleHas(QString::fromStdString(" RS232 PORT " + linkPath) +
                               " went away (device closed or unplugged); press \"Refresh\" to open it again\n"));
        EXPECT_FALSE(portOpen());
        EXPECT_TRUE(WaitUntil([&] { return !DescriptorOpenOn(slave); })) << "the program still holds " << slave;
        EXPECT_TRUE(WaitUntil([&] { return ThreadsNamed("evb-read") + ThreadsNamed("evb-write") == 0; }));
        EXPECT_TRUE(WaitUntil([&] { return reliability::ThreadsAsleep("evb-"); })) << "a serial thread keeps running";
        const std::uint64_t sent = evb::FramesSent();
        click("SDP2_SLV");
        EXPECT_EQ(evb::FramesSent(), sent);
        EXPECT_TRUE(app->main->WarningWindow()->isVisible());
        EXPECT_EQ(warning(), "COM1 used by others Device!");
        click("warnfrm/Button1");
        EXPECT_TRUE(board->Reconnect());
        forgetLostFrames();
        click("Refresh");
        EXPECT_EQ(errorBox(), nullptr);
        EXPECT_TRUE(portOpen());
        // The default set-up: the chip address first, the three port directions last (handlers
        // of buttons that change state add their frames in between).
        const auto frames = framesSinceMark(sentSinceMark());
        EXPECT_GE(frames.size(), 5u);
        EXPECT_EQ(frames.size(), sentSinceMark());
        for (std::size_t k = 0; k < 3 && frames.size() >= 5; ++k)
            EXPECT_EQ(frames[frames.size() - 3 + k].record[1], k) << "SDP" << k + 1;
        EXPECT_EQ(frames.empty() ? 0 : frames.front().record[0], 0x0D);
        EXPECT_TRUE(consoleHas("Initialize the EVB end"));
        LinkedBoardFixture::TearDown();
    }
};

TEST_F(HangUpTest, WhileIdleTheDeviceIsLetGoAndRefreshOpensItAgain) {
    ASSERT_TRUE(DescriptorOpenOn(board->DevicePath()));
    ASSERT_EQ(ThreadsNamed("evb-read"), 1);
    board->HangUp();
}

TEST_F(HangUpTest, InTheMiddleOfA512LineSendTheSendStopsAtOnceAndSaysHowFarItGot) {
    chooseCodec("KV2440");
    load({QString::fromStdString(writeFile("512.txt", NumberedConfigLines(512)))});
    markFrames();
    // The cable comes out right after line 100 (the 101st) went out.
    std::uint64_t sentAtUnplug = 0;
    const auto connection = QObject::connect(con->ProgrBar, &QProgressBar::valueChanged, [&](int value) {
        if (value != 100 || sentAtUnplug) return;
        board->HangUp();
        sentAtUnplug = evb::FramesSent();
    });
    click("kv2580mfrm/SDFileCMD"); // returns when the send has ended
    QObject::disconnect(connection);
    ASSERT_NE(sentAtUnplug, 0u);
    // Far fewer attempts than the 411 lines left: not one time-out per remaining line.
    const std::uint64_t attemptedAfter = evb::FramesSent() - sentAtUnplug;
    EXPECT_LE(attemptedAfter, 3u);
    const auto match = QRegularExpression("Send stopped: the port closed after (\\d+) of 512 lines were sent\n")
                           .match(consoleText());
    ASSERT_TRUE(match.hasMatch()) << consoleText().right(400).toStdString();
    const int linesSent = match.captured(1).toInt();
    EXPECT_GE(linesSent, 101);
    EXPECT_LE(linesSent, 101 + static_cast<int>(attemptedAfter));
    EXPECT_FALSE(consoleHas("Send the Confuguration"));
    EXPECT_EQ(con->ProgrBar->value(), 0);
    // The board saw the batch begin and at most the lines sent, never its end.
    const auto frames = framesSinceMark(0, 0ms);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().record[0], 0x04);
    EXPECT_LE(frames.size(), static_cast<std::size_t>(linesSent) + 1);
    for (const auto& f : frames)
        EXPECT_NE(f.record[0], 0x06) << "the batch was closed on a board that went away";
}

} // namespace
