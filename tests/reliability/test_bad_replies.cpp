// A board that answers badly: a reply withheld, delayed past the package interval, cut short, or
// followed by bytes nobody asked for. The console reads each as the reply handling defines it
// (the reply kind of the last command sent, missing bytes read as 0) and stays usable. evbctl
// meeting the same faults is tested with evbctl.
#include "ReliabilityFixture.h"

namespace {

class BadReplyTest : public LinkedBoardFixture {
  protected:
    void SetUp() override {
        LinkedBoardFixture::SetUp();
        chooseCodec("KV2440");
        typeText("kv2580mfrm/RegAddrTxt", "0x1A");
        board->SetRegister(0x20, 0x1A, 0x5C);
    }
    void read(const char* button = "kv2580mfrm/RDRegCMD") {
        markFrames();
        click(button);
        ASSERT_EQ(framesSinceMark(1).size(), 1u);
    }
    // The program still works: a register read answered normally lands in the console.
    void TearDown() override {
        board->DelayReplies(0ms);
        board->WithholdReplies(false);
        settle();
        board->SetRegister(0x20, 0x1A, 0x3E);
        read();
        EXPECT_TRUE(waitConsole("ReadReg:   Reg0x1A = 0x3E\n")) << consoleText().right(300).toStdString();
        EXPECT_EQ(errorBox(), nullptr);
        LinkedBoardFixture::TearDown();
    }
};

TEST_F(BadReplyTest, AWithheldReplyChangesNothing) {
    board->WithholdReplies(true);
    const QString before = consoleText(), value = con->RegDatTxt->text();
    const auto shadow = evb::gRegs.Shadow;
    read();
    settle();
    EXPECT_EQ(consoleText(), before);
    EXPECT_EQ(con->RegDatTxt->text(), value);
    EXPECT_EQ(evb::gRegs.Shadow, shadow);
}

TEST_F(BadReplyTest, AReplyDelayedPastThePackageIntervalIsStillDecodedByItsCommand) {
    board->DelayReplies(300ms); // six package intervals
    read();
    EXPECT_TRUE(waitConsole("ReadReg:   Reg0x1A = 0x5C\n"));
    EXPECT_EQ(evb::gRegs.Shadow[0x1A], 0x5C);
}

TEST_F(BadReplyTest, AReadAllCutShortReadsTheMissingRegistersAsZero) {
    for (int r = 0; r < 0x40; ++r)
        board->SetRegister(0x20, static_cast<std::uint8_t>(r), 0xA5);
    board->TruncateReplies(1, 10);
    read("kv2580mfrm/RdAllRegCMD");
    ASSERT_TRUE(waitConsole("ReadAllReg:"));
    settle();
    EXPECT_EQ(evb::gRegs.Shadow[9] * 0x100 + evb::gRegs.Shadow[10], 0xA500);
    EXPECT_EQ(con->cellText(10, 1) + con->cellText(11, 1), "  0xA5  0x00");
}

// The acknowledgement of a routing command, then bytes out of turn in a package of their own:
// a package for a command whose reply is not decoded is dropped unseen.
TEST_F(BadReplyTest, UnsolicitedBytesAfterAnAcknowledgementAreConsumedUnseen) {
    const auto shadow = evb::gRegs.Shadow;
    read("SDP2_SLV");
    settle();
    const QString before = consoleText();
    board->SendUnsolicited({'O', 'K', 0x00, 'X'});
    settle();
    EXPECT_EQ(consoleText(), before);
    EXPECT_EQ(evb::gRegs.Shadow, shadow);
}

// The replies carry no framing of their own: a package that arrives while a register read is
// outstanding is that register's value, whoever sent it. Its first byte counts.
TEST_F(BadReplyTest, UnsolicitedBytesAheadOfARegisterReplyAreReadAsThatRegister) {
    board->DelayReplies(300ms);
    read();
    board->SendUnsolicited({0x11, 0x22, 0x33});
    settle();
    const QString console = consoleText();
    EXPECT_GE(console.indexOf("ReadReg:   Reg0x1A = 0x11\n"), 0) << console.right(300).toStdString();
    EXPECT_GT(console.indexOf("ReadReg:   Reg0x1A = 0x5C\n"), console.indexOf("ReadReg:   Reg0x1A = 0x11\n"));
    EXPECT_EQ(console.count("ReadReg:"), 2);
    EXPECT_EQ(evb::gRegs.Shadow[0x1A], 0x5C);
}

} // namespace
