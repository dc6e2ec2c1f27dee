// The I/O engine against real pseudo-terminals.

#include "PtyPair.h"
#include "serial/ETalonCommError.h"
#include "serial/TTalonComm.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>

using namespace TalonComm;
using evbtest::PtyPair;
using evbtest::WaitFor;

namespace {

std::string readAll(TTalonComm& comm, size_t n) {
    std::string got;
    WaitFor([&] {
        char buf[256];
        const long k = comm.Read(buf, sizeof buf);
        if (k > 0) got.append(buf, static_cast<size_t>(k));
        return got.size() >= n;
    });
    return got;
}

} // namespace

TEST(EngineOpen, OpensPseudoTerminalAndMovesBytesBothWays) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetActive(true);
    ASSERT_TRUE(comm.fGetActive());

    EXPECT_EQ(comm.Write("hello", 5), 5);
    const auto out = pty.ReadMaster(5);
    EXPECT_EQ(std::string(out.begin(), out.end()), "hello");

    pty.WriteMaster("world");
    EXPECT_EQ(readAll(comm, 5), "world");
}

TEST(EngineOpen, MissingDeviceRaisesCode4WithPortPrefixAndStaysClosed) {
    TTalonComm comm;
    comm.fSetPortName("/dev/evb-no-such-port");
    try {
        comm.fSetActive(true);
        FAIL() << "open of a missing device succeeded";
    } catch (const ETalonCommError& e) {
        EXPECT_EQ(e.ErrorCode(), 4);
        EXPECT_EQ(e.PortName(), "/dev/evb-no-such-port");
        EXPECT_FALSE(e.OsReason().empty());
    }
    EXPECT_FALSE(comm.fGetActive());
}

TEST(EngineOpen, SecondOpenOfAPortAlreadyOpenFailsWithCode4) {
    PtyPair pty;
    TTalonComm first;
    first.fSetPortName(pty.SlavePath());
    first.fSetActive(true);
    TTalonComm second;
    second.fSetPortName(pty.SlavePath());
    try {
        second.fSetActive(true);
        FAIL() << "two engines opened one port";
    } catch (const ETalonCommError& e) {
        EXPECT_EQ(e.ErrorCode(), 4);
        EXPECT_EQ(e.OsReason(), "in use by another program");
    }
    EXPECT_FALSE(second.fGetActive());
    EXPECT_TRUE(first.fGetActive());
}

TEST(EngineOpen, OpenAndCloseReportLineChangesAndCallHooks) {
    PtyPair pty;
    TTalonComm comm;
    std::vector<std::string> calls;
    comm.OnCommNotify = [&](TObject*, int mask) { calls.push_back("notify " + std::to_string(mask)); };
    comm.AfterOpen = [&](TObject*) { calls.push_back("after-open"); };
    comm.BeforeClose = [&](TObject*) { calls.push_back("before-close"); };
    comm.fSetPortName(pty.SlavePath());
    comm.Open();
    comm.Close();
    comm.OnCommNotify = nullptr;
    EXPECT_EQ(calls, (std::vector<std::string>{"notify 56", "after-open", "before-close", "notify 56"}));
}

TEST(EngineOpen, ThrowingCallbacksAreSwallowed) {
    PtyPair pty;
    TTalonComm comm;
    comm.OnCommNotify = [](TObject*, int) { throw std::runtime_error("handler"); };
    comm.AfterOpen = [](TObject*) { throw std::runtime_error("handler"); };
    comm.fSetPortName(pty.SlavePath());
    EXPECT_NO_THROW(comm.Open());
    pty.WriteMaster("x");
    EXPECT_EQ(readAll(comm, 1), "x");
    EXPECT_NO_THROW(comm.Close());
}

TEST(EngineSettings, LineSettersCloseAnOpenPort) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    const std::vector<std::function<void()>> setters = {[&] { comm.fSetBaudRate(9600); },
                                                        [&] { comm.fSetParity(2); },
                                                        [&] { comm.fSetByteSize(7); },
                                                        [&] { comm.fSetStopBits(2); },
                                                        [&] { comm.fSetFlowControl(3); },
                                                        [&] { comm.fSetDataOnly(true); },
                                                        [&] { comm.fSetHwInSize(4096); },
                                                        [&] { comm.fSetHwOutSize(4096); },
                                                        [&] { comm.fSetPortName(pty.SlavePath()); }};
    for (size_t i = 0; i < setters.size(); ++i) {
        comm.fSetActive(true);
        ASSERT_TRUE(comm.fGetActive());
        setters[i]();
        EXPECT_FALSE(comm.fGetActive()) << "setter " << i;
    }
}

TEST(EngineSettings, QueueResizeKeepsAnOpenPortOpen) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetActive(true);
    comm.fSetInBufSize(100);
    EXPECT_TRUE(comm.fGetActive());
    EXPECT_EQ(comm.fGetInBufSize(), 100);
    pty.WriteMaster("after resize");
    EXPECT_EQ(readAll(comm, 12), "after resize");
}

struct PortNameCase {
    const char* given;
    const char* stored;
    int port;
};

class EnginePortName : public ::testing::TestWithParam<PortNameCase> {};

TEST_P(EnginePortName, NameIsNormalisedByItsNumber) {
    TTalonComm comm;
    comm.fSetPortName(GetParam().given);
    EXPECT_EQ(comm.fGetPortName(), GetParam().stored);
    EXPECT_EQ(comm.fGetPort(), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(Names, EnginePortName,
                         ::testing::Values(PortNameCase{"com3", "COM3", 3},
                                           PortNameCase{"COM012", "COM12", 12},
                                           PortNameCase{"/dev/ttyUSB0", "/dev/ttyUSB0", 0},
                                           PortNameCase{"COM1A", "COM1A", 0}, PortNameCase{"", "COM2", 2}));

TEST(EngineSettings, PortNumberSetsTheComName) {
    TTalonComm comm;
    comm.fSetPort(5);
    EXPECT_EQ(comm.fGetPortName(), "COM5");
    comm.fSetPort(0);
    EXPECT_EQ(comm.fGetPortName(), "COM5");
    EXPECT_EQ(comm.fGetPort(), 0);
}

TEST(EngineSettings, DevicePathOfPortNames) {
    EXPECT_EQ(TTalonComm::DevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(TTalonComm::DevicePath("COM10"), "/dev/ttyS9");
    EXPECT_EQ(TTalonComm::DevicePath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(TTalonComm::DevicePath("ttyUSB1"), "/dev/ttyUSB1");
}

struct FlowCase {
    int code;
    int readBack;
    bool cts;
    bool xon;
    TRtsControl rts;
};

class EngineFlow : public ::testing::TestWithParam<FlowCase> {};

TEST_P(EngineFlow, CodeSetsTheControlBlock) {
    TTalonComm comm;
    comm.fSetFlowControl(GetParam().code);
    EXPECT_EQ(comm.fGetFlowControl(), GetParam().readBack);
    EXPECT_EQ(comm.fGetDcb().fOutxCtsFlow, GetParam().cts);
    EXPECT_EQ(comm.fGetDcb().fOutX, GetParam().xon);
    EXPECT_EQ(comm.fGetDcb().fInX, GetParam().xon);
    EXPECT_EQ(comm.fGetDcb().RtsControl, GetParam().rts);
    EXPECT_EQ(comm.fGetDcb().DtrControl, dtrEnable);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, EngineFlow,
    ::testing::Values(FlowCase{0, 0, false, false, rtsEnable}, FlowCase{3, 3, true, false, rtsHandshake},
                      FlowCase{4, 4, false, true, rtsEnable}, FlowCase{5, 4, false, true, rtsEnable},
                      FlowCase{6, 6, true, true, rtsHandshake}, FlowCase{7, 0, false, false, rtsEnable}));

TEST(EngineWrite, DisabledWriteQueuesNothingButCommandStillSends) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetActive(true);
    comm.fSetDisableWrite(true);
    EXPECT_EQ(comm.Write("data", 4), 0);
    EXPECT_EQ(comm.fGetOutQueue()->Count(), 0);
    EXPECT_EQ(comm.Command("AT\r"), 3);
    const auto out = pty.ReadMaster(3);
    EXPECT_EQ(std::string(out.begin(), out.end()), "AT\r");
}

TEST(EngineWrite, ModemCommandsCarryFlowCodeAndRingCount) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetFlowControl(3);
    comm.fSetAutoAnswer(2);
    comm.fSetActive(true);
    comm.InitModem();
    comm.ResetModem();
    const std::string expected = "ATE0&K3S0=2\rATZ\r";
    const auto out = pty.ReadMaster(expected.size());
    EXPECT_EQ(std::string(out.begin(), out.end()), expected);
}

TEST(EngineWrite, ReopenAfterCloseDoesNotSkipOrRepeatBytes) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetActive(true);
    comm.Write("one", 3);
    ASSERT_TRUE(comm.WaitWriteDrained(std::chrono::seconds(5)));
    comm.fSetActive(false);
    comm.fSetActive(true);
    comm.Write("two", 3);
    const auto out = pty.ReadMaster(6);
    EXPECT_EQ(std::string(out.begin(), out.end()), "onetwo");
}

TEST(EngineWrite, WaitWriteRoomLetsEveryByteThroughASmallRing) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetOutBufSize(64);
    comm.fSetPortName(pty.SlavePath());
    comm.fSetActive(true);
    std::string sent;
    for (int i = 0; i < 20000; ++i)
        sent += static_cast<char>('a' + i % 26);
    std::vector<unsigned char> received;
    std::thread reader([&] { received = pty.ReadMaster(sent.size(), std::chrono::seconds(20)); });
    for (size_t at = 0; at < sent.size(); at += 20) {
        ASSERT_TRUE(comm.WaitWriteRoom(20, std::chrono::seconds(10)));
        ASSERT_EQ(comm.Write(sent.data() + at, 20), 20) << "room was promised";
    }
    reader.join();
    EXPECT_EQ(std::string(received.begin(), received.end()), sent);
    EXPECT_FALSE(comm.WaitWriteRoom(64, std::chrono::milliseconds(0))) << "more than the ring can ever hold";
}

TEST(EngineWrite, WaitWriteDrainedReturnsOnceTheOtherSideHasTheBytes) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetActive(true);
    comm.Write("drain me", 8);
    std::thread reader([&] { pty.ReadMaster(8); });
    EXPECT_TRUE(comm.WaitWriteDrained(std::chrono::seconds(5)));
    reader.join();
    EXPECT_EQ(comm.fGetOutQueue()->Count(), 0);
}

TEST(EngineWrite, WaitsFailAtOnceOnAClosedPort) {
    TTalonComm comm;
    EXPECT_FALSE(comm.WaitWriteRoom(1, std::chrono::seconds(5)));
    EXPECT_FALSE(comm.WaitWriteDrained(std::chrono::seconds(5)));
}

TEST(EngineLines, DtrWishWhileClosedIsAppliedAtNextOpen) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    EXPECT_FALSE(comm.fGetDTR()) << "closed port reads false";
    comm.fSetDTR(false);
    comm.fSetBaudRate(19200);
    comm.fSetActive(true);
    EXPECT_EQ(comm.fGetDcb().DtrControl, dtrDisable);
    EXPECT_FALSE(comm.fGetDTR());
    EXPECT_TRUE(comm.fGetRTS());
    comm.fSetActive(false);
    comm.fSetDTR(true);
    comm.fSetActive(true);
    EXPECT_EQ(comm.fGetDcb().DtrControl, dtrEnable);
    EXPECT_TRUE(comm.fGetDTR());
}

TEST(EngineLines, EscapeFunctionsFailOnAClosedPort) {
    TTalonComm comm;
    EXPECT_FALSE(comm.EscapeCommFunction(5));
}

TEST(EngineEvents, DataOnlyReportsOnlyDataBits) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetDataOnly(true);
    std::atomic<int> seen{0};
    std::atomic<int> got{0};
    comm.OnCommNotify = [&](TObject*, int mask) {
        if (mask == 0x38) return; // open and close
        seen |= mask;
        got += 1;
    };
    comm.fSetActive(true);
    pty.WriteMaster("abc");
    ASSERT_TRUE(WaitFor([&] { return got.load() > 0; }));
    comm.Write("z", 1);
    pty.ReadMaster(1);
    comm.fSetActive(false);
    comm.OnCommNotify = nullptr;
    EXPECT_EQ(seen.load() & ~0x85, 0);
    EXPECT_TRUE(seen.load() & evRxChar);
}

TEST(EngineHangup, ClosedMasterIsReportedOnceAndThePortEndsClosed) {
    auto pty = std::make_unique<PtyPair>();
    TTalonComm comm;
    comm.fSetPortName(pty->SlavePath());
    std::atomic<int> hangups{0};
    comm.OnCommNotify = [&](TObject*, int mask) {
        if (mask & evHangup) ++hangups;
    };
    comm.fSetActive(true);
    pty->WriteMaster("last words");
    ASSERT_TRUE(WaitFor([&] { return comm.fGetInQueue()->Count() == 10; }));
    pty->CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return hangups.load() == 1; }));
    EXPECT_FALSE(comm.fGetActive());
    EXPECT_EQ(readAll(comm, 10), "last words") << "bytes received before the hang-up are kept";
    EXPECT_EQ(comm.Write("x", 1), 1) << "writing to a vanished port queues without harm";
    comm.fSetActive(false);
    comm.OnCommNotify = nullptr;
    EXPECT_EQ(hangups.load(), 1);
}

TEST(EngineHangup, PortOpensAgainCleanlyAfterAHangup) {
    PtyPair first;
    TTalonComm comm;
    comm.fSetPortName(first.SlavePath());
    comm.fSetActive(true);
    first.CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return !comm.fGetActive(); }));
    // Meant for the device that went away: never sent to the one opened next.
    EXPECT_EQ(comm.Write("stale", 5), 5);
    PtyPair second;
    comm.fSetPortName(second.SlavePath());
    comm.fSetActive(true);
    second.WriteMaster("again");
    EXPECT_EQ(readAll(comm, 5), "again");
    comm.Write("fresh", 5);
    const auto out = second.ReadMaster(5);
    EXPECT_EQ(std::string(out.begin(), out.end()), "fresh");
}
