// The program against a board that misbehaves: one that goes away (idle or in the middle of a
// 512-line send) and comes back under the same name, one that answers badly, and a port another
// program holds. The board is published under a stable link (like /dev/serial/by-id/...).
// The serial layer's part of each fault is tested with the serial layer, evbctl's with evbctl.
#include "tests/gui/support/GuiHarness.h"

#include "serial/TRkCommDevice.h"
#include "tests/Ser2net.h"
#include "windows/Twarnfrm.h"

#include <QRegularExpression>

#include <filesystem>

namespace {

class LinkedBoardTest : public GuiFixture {
  public:
    LinkedBoardTest() { linkedBoard = true; }
};

// True while one of this process's descriptors refers to path. A device node removed while open
// (a pseudo-terminal whose master closed, a USB adapter unplugged) reads "<path> (deleted)".
bool DescriptorOpenOn(const std::string& path) {
    std::error_code ec;
    const std::string target = std::filesystem::weakly_canonical(path, ec).string();
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        const std::string link = std::filesystem::read_symlink(fd.path(), ec).string();
        if (link == target || link == target + " (deleted)") return true;
    }
    return false;
}

// --- the board goes away ----------------------------------------------------------------------

using ReplugTest = LinkedBoardTest;

// Unplugged and plugged in again: the port opens again by itself, sends nothing on opening, and
// the next click reaches the board; a port the user chose meanwhile stands.
TEST_F(ReplugTest, ABoardThatComesBackUnderTheSameNameIsOpenedAgainByItself) {
    board->HangUp();
    ASSERT_TRUE(WaitUntil([&] { return consoleHas("went away") && !portOpen(); }));
    const QString before = consoleText();
    ASSERT_TRUE(board->Reconnect());
    forgetLostFrames();
    ASSERT_TRUE(WaitUntil([&] { return portOpen(); }));
    EXPECT_TRUE(consoleText().endsWith(QString::fromStdString(" RS232 PORT " + linkPath + " is open again\n")))
        << consoleText().toStdString();
    EXPECT_TRUE(consoleText().startsWith(before)) << "the console is not cleared";
    click("SDP2_SLV");
    expectSent({{0x02, 0x01, 0x01}}); // the only frame: nothing is sent on reopening
    EXPECT_EQ(takeErrorBox(), "");

    board->HangUp();
    // The user picks another port once told that this one went away.
    ASSERT_TRUE(WaitUntil([&] { return consoleText().count("went away") == 2 && !portOpen(); }));
    typeText("RS232_CommPort", "/nonexistent/ttyEVB");
    click("setrs232cmd");
    takeErrorBox();
    ASSERT_TRUE(board->Reconnect());
    EXPECT_FALSE(WaitUntil([&] { return portOpen(); }, std::chrono::milliseconds(300)));
    EXPECT_EQ(app->main->RS232.fGetPortName(), "/nonexistent/ttyEVB");
}

// The board behind ser2net's RFC 2217 port: start-up, "Refresh" and a read-all reach it; a
// connection that drops is said, and tried again until ser2net is back.
TEST_F(ReplugTest, ABoardBehindSer2netIsUsedAndItsPortOpensAgainWhenTheServerIsBack) {
    if (!Ser2net::Installed()) GTEST_SKIP() << "ser2net is not installed";
    Ser2net server;
    app.reset(); // ser2net takes the pseudo-terminal
    ASSERT_TRUE(server.Start(board->DevicePath()));
    linkPath = server.Rfc2217();
    restartApp();
    ASSERT_TRUE(WaitUntil([&] { return portOpen() && consoleHas("Set the COMM Mode:IIC Mode"); }));
    const std::size_t before = board->FrameCount();
    click("Refresh");
    EXPECT_TRUE(board->WaitForFrames(before + 5, 5s));
    settle(); // the acknowledgements are read before the next command
    board->SetRegister(kChip, 0x05, 0x5A);
    chooseCodec("KV1160E");
    EXPECT_TRUE(WaitUntil([&] { return consoleHas("ReadAllReg:") && evb::gRegs.Shadow[0x05] == 0x5A; }));
    server.Stop(SIGKILL);
    EXPECT_TRUE(waitConsole(" RS232 PORT " + QString::fromStdString(linkPath) + " went away (the connection was "
                            "closed)\n RS232 PORT " + QString::fromStdString(linkPath) + " waiting: trying again in 1 s\n"));
    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(WaitUntil([&] { return portOpen() && consoleHas(" is open again\n"); }, 10s));
}

using HangUpTest = LinkedBoardTest;

// The cable comes out right after line 101 went out: the send stops at once and says how far it
// got; the user is told once, the device is let go, commands warn and send nothing; "Refresh"
// opens the board again once it is back, and nothing of the stopped send reaches it.
TEST_F(HangUpTest, InTheMiddleOfA512LineSendTheSendStopsAtOnceAndTheDeviceIsLetGo) {
    const std::string slave = board->DevicePath();
    ASSERT_TRUE(DescriptorOpenOn(slave));
    chooseCodec("KV2440");
    load({QString::fromStdString(writeFile("512.txt", NumberedConfigLines(512)))});
    markFrames();
    std::uint64_t sentAtUnplug = 0;
    const auto connection = QObject::connect(con->ProgrBar, &QProgressBar::valueChanged, [&](int value) {
        if (value != 100 || sentAtUnplug) return;
        board->HangUp();
        sentAtUnplug = evb::FramesSent();
    });
    click("kv2580mfrm/SDFileCMD"); // returns when the send has ended
    QObject::disconnect(connection);
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
    EXPECT_NE(frames.back().record[0], 0x06) << "the batch was closed on a board that went away";

    EXPECT_TRUE(waitConsole(QString::fromStdString(" RS232 PORT " + linkPath) +
                            " went away (device closed or unplugged); press \"Refresh\" to open it again\n"))
        << consoleText().toStdString();
    EXPECT_EQ(consoleText().count("went away"), 1);
    EXPECT_FALSE(portOpen());
    EXPECT_TRUE(WaitUntil([&] { return !DescriptorOpenOn(slave); })) << "the program still holds " << slave;
    forgetLostFrames();
    click("SDP2_SLV");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_EQ(warning(), "COM1 used by others Device!");
    click("warnfrm/Button1");
    EXPECT_TRUE(board->Reconnect());
    click("Refresh");
    EXPECT_EQ(takeErrorBox(), "");
    EXPECT_TRUE(portOpen());
    // Only the default set-up (the handler of the SDP2 button clicked above adds its frame).
    expectSent({{0x0D, 0x20}, {0x02, 1, 0}, {0x0A, 0}, {0x02, 0, 1}, {0x02, 1, 0}, {0x02, 2, 1}});
}

// --- the board answers badly ------------------------------------------------------------------

using BadReplyTest = LinkedBoardTest;

// Each reply is read by the reply kind of the last command sent, missing bytes as 0, and the
// console stays usable: a register read answered normally lands in the console at the end.
TEST_F(BadReplyTest, WithheldCutShortAndUnsolicitedRepliesAreReadAsTheReplyKindSays) {
    chooseCodec("KV2440");
    typeText("kv2580mfrm/RegAddrTxt", "0x1A");
    const auto read = [&](const char* button) {
        markFrames();
        click(button);
        ASSERT_EQ(framesSinceMark(1).size(), 1u);
    };
    // Withheld: nothing changes.
    board->SetRegister(kChip, 0x1A, 0x5C);
    board->WithholdReplies(true);
    QString before = consoleText();
    auto shadow = evb::gRegs.Shadow;
    read("kv2580mfrm/RDRegCMD");
    settle();
    EXPECT_EQ(consoleText(), before);
    EXPECT_EQ(evb::gRegs.Shadow, shadow);
    board->WithholdReplies(false);

    // A read-all cut to 10 bytes: the registers it did not bring read as 0.
    for (int r = 0; r < 0x40; ++r)
        board->SetRegister(kChip, static_cast<std::uint8_t>(r), 0xA5);
    board->TruncateReplies(1, 10);
    read("kv2580mfrm/RdAllRegCMD");
    settle();
    EXPECT_EQ(evb::gRegs.Shadow[9] * 0x100 + evb::gRegs.Shadow[10], 0xA500);
    EXPECT_EQ(cell(10, 1) + cell(11, 1), "  0xA5  0x00");

    // Bytes out of turn after the acknowledgement of a routing command, in a package of their
    // own: a package for a command whose reply is not decoded is dropped unseen.
    shadow = evb::gRegs.Shadow;
    read("SDP2_SLV");
    settle();
    before = consoleText();
    board->SendUnsolicited({'O', 'K', 0x00, 'X'});
    settle();
    EXPECT_EQ(consoleText(), before);
    EXPECT_EQ(evb::gRegs.Shadow, shadow);

    // The replies carry no framing of their own: a package that arrives while a register read
    // is outstanding is that register's value, whoever sent it; the delayed real answer follows.
    board->SetRegister(kChip, 0x1A, 0x5C);
    board->DelayReplies(300ms); // six package intervals
    read("kv2580mfrm/RDRegCMD");
    board->SendUnsolicited({0x11, 0x22, 0x33});
    settle();
    board->DelayReplies(0ms);
    const QString console = consoleText().mid(before.size());
    EXPECT_EQ(console, "ReadReg:   Reg0x1A = 0x11\nReadReg:   Reg0x1A = 0x5C\n");
    EXPECT_EQ(evb::gRegs.Shadow[0x1A], 0x5C);

    board->SetRegister(kChip, 0x1A, 0x3E);
    read("kv2580mfrm/RDRegCMD");
    EXPECT_TRUE(waitConsole("ReadReg:   Reg0x1A = 0x3E\n")) << consoleText().right(300).toStdString();
    EXPECT_EQ(takeErrorBox(), "");
}

// --- the port is held by another program ------------------------------------------------------

using PortInUseTest = LinkedBoardTest;

// This console starts on it: the error box, the rest of start-up skipped, commands dropped
// without a warning until a port is chosen; once the other program lets go, port selection opens
// it and "Refresh" sends the default set-up, which the cut-short start-up never did.
TEST_F(PortInUseTest, ThisConsoleAsTheSecondProgramShowsTheReasonAndSendsNothing) {
    app.reset();
    TalonComm::TRkCommDevice holder;
    holder.fSetPortName(linkPath);
    holder.fSetActive(true);
    restartApp();
    for (int step = 0; step < 2; ++step) {
        const QString box = takeErrorBox();
        EXPECT_TRUE(box.contains(QString::fromStdString(linkPath))) << box.toStdString();
        EXPECT_TRUE(box.contains("in use by another program")) << box.toStdString();
        EXPECT_FALSE(portOpen());
        if (step == 0) {
            EXPECT_TRUE(consoleText().endsWith(" Set RS232 PORT1 : " + QString::fromStdString(linkPath) + "\n"));
            click("SDP2_SLV");
            EXPECT_FALSE(app->main->WarningWindow()->isVisible());
        }
        // Choosing the port by hand says the same and leaves it to its owner.
        typeText("RS232_CommPort", QString::fromStdString(linkPath));
        if (step == 0) click("setrs232cmd");
    }
    click("SDP2_MS");
    EXPECT_EQ(warning(), "COM1 used by others Device!");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(holder.fGetActive());
    holder.fSetActive(false);
    click("setrs232cmd");
    EXPECT_EQ(takeErrorBox(), "");
    EXPECT_TRUE(portOpen());
    EXPECT_TRUE(consoleText().endsWith(" Set RS232 PORT :" + QString::fromStdString(linkPath) + "\n"));
    EXPECT_EQ(app->main->RS232.fGetBaudRate(), 19200u);
    click("SDP2_SLV");
    expectSent({{0x02, 0x01, 0x01}});
    click("Refresh");
    EXPECT_EQ(takeErrorBox(), "");
    expectSent({{0x0D, 0x20}, {0x0A, 0}, {0x02, 0, 1}, {0x02, 1, 0}, {0x02, 2, 1}, {0x0A, 0}, {0x02, 0, 1},
                {0x02, 1, 0}, {0x02, 2, 1}});
}

} // namespace
