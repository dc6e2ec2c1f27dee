// A board that answers badly: a reply withheld, delayed past the package interval, cut short, or
// followed by bytes nobody asked for. The console reads each as the reply handling defines it
// (the reply kind of the last command sent, missing bytes read as 0) and stays usable; evbctl
// exits 1 once its time-out has passed.
#include "ReliabilityFixture.h"

#include "cli/EvbCtl.h"

#include <sstream>

namespace {

class BadReplyTest : public LinkedBoardFixture {
  protected:
    void SetUp() override {
        LinkedBoardFixture::SetUp();
        chooseCodec("KV2440");
        typeText("kv2580mfrm/RegAddrTxt", "0x1A");
        board->SetRegister(0x20, 0x1A, 0x5C);
    }
    // The program still works: a register read answered normally lands in the console.
    void expectStillUsable() {
        board->DelayReplies(0ms);
        board->WithholdReplies(false);
        settle();
        board->SetRegister(0x20, 0x1A, 0x3E);
        markFrames();
        click("kv2580mfrm/RDRegCMD");
        ASSERT_EQ(framesSinceMark(1).size(), 1u);
        EXPECT_TRUE(WaitUntil([&] { return consoleHas("ReadReg:   Reg0x1A = 0x3E\n"); }))
            << consoleText().right(300).toStdString();
        EXPECT_EQ(errorBox(), nullptr);
    }
};

TEST_F(BadReplyTest, AWithheldReplyChangesNothingAndTheNextCommandWorks) {
    board->WithholdReplies(true);
    const QString before = consoleText();
    const QString value = con->RegDatTxt->text();
    const auto shadow = evb::gRegs.Shadow;
    click("kv2580mfrm/RDRegCMD");
    ASSERT_EQ(framesSinceMark(1).size(), 1u);
    settle();
    EXPECT_EQ(consoleText(), before);
    EXPECT_EQ(con->RegDatTxt->text(), value);
    EXPECT_EQ(evb::gRegs.Shadow, shadow);
    expectStillUsable();
}

TEST_F(BadReplyTest, AReplyDelayedPastThePackageIntervalIsStillDecodedByItsCommand) {
    board->DelayReplies(300ms); // six package intervals
    click("kv2580mfrm/RDRegCMD");
    ASSERT_EQ(framesSinceMark(1).size(), 1u);
    EXPECT_TRUE(WaitUntil([&] { return consoleHas("ReadReg:   Reg0x1A = 0x5C\n"); }));
    EXPECT_EQ(evb::gRegs.Shadow[0x1A], 0x5C);
    expectStillUsable();
}

TEST_F(BadReplyTest, AReadAllCutShortReadsTheMissingRegistersAsZero) {
    for (int r = 0; r < 0x40; ++r)
        board->SetRegister(0x20, static_cast<std::uint8_t>(r), 0xA5);
    board->TruncateReplies(1, 10);
    click("kv2580mfrm/RdAllRegCMD");
    ASSERT_EQ(framesSinceMark(1).size(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return consoleHas("ReadAllReg:"); }));
    settle();
    EXPECT_EQ(evb::gRegs.Shadow[9], 0xA5);
    EXPECT_EQ(evb::gRegs.Shadow[10], 0x00);
    EXPECT_EQ(con->cellText(10, 1), "  0xA5");
    EXPECT_EQ(con->cellText(11, 1), "  0x00");
    expectStillUsable();
}

TEST_F(BadReplyTest, UnsolicitedBytesAfterAnAcknowledgementAreConsumedUnseen) {
    const auto shadow = evb::gRegs.Shadow;
    markFrames();
    // The acknowledgement of a routing command, then bytes out of turn in a package of their own:
    // a package for a command whose reply is not decoded is dropped unseen.
    click("SDP2_SLV");
    ASSERT_EQ(framesSinceMark(1).size(), 1u);
    settle();
    const QString before = consoleText();
    board->SendUnsolicited({'O', 'K', 0x00, 'X'});
    settle();
    EXPECT_EQ(consoleText(), before);
    EXPECT_EQ(evb::gRegs.Shadow, shadow);
    expectStillUsable();
}

TEST_F(BadReplyTest, UnsolicitedBytesAheadOfARegisterReplyAreReadAsThatRegister) {
    // The replies carry no framing of their own: a package that arrives while a register read
    // is outstanding is that register's value, whoever sent it. Its first byte counts.
    board->DelayReplies(300ms);
    click("kv2580mfrm/RDRegCMD");
    ASSERT_EQ(framesSinceMark(1).size(), 1u);
    board->SendUnsolicited({0x11, 0x22, 0x33});
    settle();
    const QString console = consoleText();
    const auto noise = console.indexOf("ReadReg:   Reg0x1A = 0x11\n");
    const auto reply = console.indexOf("ReadReg:   Reg0x1A = 0x5C\n");
    EXPECT_GE(noise, 0) << console.right(300).toStdString();
    EXPECT_GT(reply, noise) << console.right(300).toStdString();
    EXPECT_EQ(console.count("ReadReg:"), 2);
    EXPECT_EQ(evb::gRegs.Shadow[0x1A], 0x5C);
    expectStillUsable();
}

// --- evbctl ---------------------------------------------------------------------------------

struct CtlCase {
    const char* name;
    void (*fault)(evbsim::SimBoard&);
    std::vector<std::string> command;
    int code;
    const char* err; // part of the message on standard error ("" when none is expected)
};

class EvbctlBadReply : public ::testing::TestWithParam<CtlCase> {};

TEST_P(EvbctlBadReply, ExitStatusAndMessageFollowTheFault) {
    const CtlCase& c = GetParam();
    evbsim::SimBoard board(evbsim::SimOptions{.baud = 19200, .pace = false});
    ASSERT_TRUE(board.Start());
    c.fault(board);
    std::vector<std::string> args{"--port", board.DevicePath(), "--timeout", "300"};
    args.insert(args.end(), c.command.begin(), c.command.end());
    std::ostringstream out, err;
    const int code = evbctl::Run(args, out, err);
    EXPECT_EQ(code, c.code) << err.str();
    if (*c.err) {
        EXPECT_NE(err.str().find(c.err), std::string::npos) << err.str();
    } else {
        EXPECT_EQ(err.str(), "");
    }
    EXPECT_EQ(board.FrameCount(), 1u) << "one command, one frame";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EvbctlBadReply,
    ::testing::Values(
        CtlCase{"withheldRead",
                [](evbsim::SimBoard& b) { b.WithholdReplies(true); },
                {"read", "1"},
                1,
                "did not answer within 300 ms"},
        CtlCase{"withheldWrite",
                [](evbsim::SimBoard& b) { b.WithholdReplies(true); },
                {"write", "1", "2"},
                1,
                "did not answer within 300 ms"},
        CtlCase{"droppedInfo", [](evbsim::SimBoard& b) { b.DropReplies(1); }, {"info"}, 1, "did not answer"},
        CtlCase{"delayedPastTheTimeout",
                [](evbsim::SimBoard& b) { b.DelayReplies(1500ms); },
                {"read", "1"},
                1,
                "did not answer within 300 ms"},
        // Past the package interval but inside the time-out: the answer still counts.
        CtlCase{"delayedPastThePackageInterval",
                [](evbsim::SimBoard& b) { b.DelayReplies(150ms); },
                {"read", "1"},
                0,
                ""},
        CtlCase{"cutShortInfo",
                [](evbsim::SimBoard& b) { b.TruncateReplies(1, 7); },
                {"info"},
                1,
                "answered 7 of 18 bytes"},
        CtlCase{"cutShortDump",
                [](evbsim::SimBoard& b) { b.TruncateReplies(1, 100); },
                {"dump", "256"},
                1,
                "answered 100 of 256 bytes"},
        CtlCase{"corruptedRead", [](evbsim::SimBoard& b) { b.CorruptReplies(1); }, {"read", "1"}, 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EvbctlBadReplyNoise, NoiseBeforeTheCommandIsNotTakenAsItsAnswer) {
    evbsim::SimBoard board(evbsim::SimOptions{.baud = 19200, .pace = false});
    ASSERT_TRUE(board.Start());
    board.SetRegister(0x20, 0x01, 0x42);
    board.SendUnsolicited({0x99, 0x98, 0x97});
    ASSERT_TRUE(board.WaitRepliesSent(2s));
    std::ostringstream out, err;
    const int code = evbctl::Run({"--port", board.DevicePath(), "--timeout", "1000", "read", "1"}, out, err);
    EXPECT_EQ(code, 0) << err.str();
    EXPECT_NE(out.str().find("= 0x42"), std::string::npos) << out.str();
}

} // namespace
