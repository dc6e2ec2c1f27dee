// The engine at the edges of its line: devices that go away at awkward moments, descriptors
// that belong to the caller, and (through the line-call seam) modem lines, line errors and
// output held by flow control, which a pseudo-terminal cannot show.

#include "FakeLineIo.h"
#include "PtyPair.h"
#include "serial/ETalonCommError.h"
#include "serial/TTalonComm.h"

#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace TalonComm;
using evbtest::FakeLineIo;
using evbtest::PtyPair;
using evbtest::WaitFor;

namespace {

// Counts the reports of an engine (never the open/close report 0x38).
struct Reports {
    explicit Reports(TTalonComm& comm) : m_comm(comm) {
        comm.OnCommNotify = [this](TObject*, int mask) {
            if (mask == 0x38) return;
            seen |= mask;
            if (mask & evHangup) ++hangups;
            if (mask & evErr) ++errors;
        };
    }
    ~Reports() {
        m_comm.fSetActive(false);
        m_comm.OnCommNotify = nullptr;
    }
    std::atomic<int> seen{0}, hangups{0}, errors{0};
    TTalonComm& m_comm;
};

int openSlave(const PtyPair& pty, int flags) {
    return ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | flags);
}

} // namespace

TEST(EngineEdges, HangupWhileOpeningEndsThePortClosed) {
    // The device is gone before the threads first look: every opening must end closed and say
    // so, never "active" with no thread left to send.
    PtyPair pty;
    FakeLineIo io;
    io.readEnd = true;
    TTalonComm comm;
    comm.SetLineIo(&io);
    comm.fSetPortName(pty.SlavePath());
    Reports r(comm);
    for (int i = 1; i <= 20; ++i) {
        pty.WriteMaster("x");
        comm.fSetActive(true);
        ASSERT_TRUE(WaitFor([&] { return r.hangups.load() == i && !comm.fGetActive(); })) << "opening " << i;
        comm.fSetActive(false);
    }
}

TEST(EngineEdges, FullReceiveQueueStillSeesTheHangup) {
    auto pty = std::make_unique<PtyPair>();
    TTalonComm comm;
    comm.fSetInBufSize(17);
    comm.fSetPortName(pty->SlavePath());
    Reports r(comm);
    comm.fSetActive(true);
    pty->WriteMaster(std::string(64, 'a'));
    ASSERT_TRUE(WaitFor([&] { return comm.fGetInQueue()->Remain() == 0; }));
    pty->CloseMaster();
    EXPECT_TRUE(WaitFor([&] { return r.hangups.load() == 1 && !comm.fGetActive(); }));
}

TEST(EngineEdges, ExternalDescriptorStaysTheCallers) {
    PtyPair pty;
    const int fd = openSlave(pty, 0); // blocking: the engine must not block on it
    ASSERT_GE(fd, 0);
    {
        TTalonComm comm;
        comm.fSetHandle(fd);
        comm.fSetActive(true);
        EXPECT_EQ(comm.Write("hi", 2), 2);
        EXPECT_EQ(pty.ReadMaster(2).size(), 2u);
        comm.fSetActive(false);
        EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "the caller's flags come back";
        PtyPair other;
        comm.fSetPortName(other.SlavePath());
        comm.fSetActive(true);
        comm.fSetActive(false);
    }
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "the engine closed a descriptor it did not own";
    ::close(fd);
}

TEST(EngineEdges, ExternalDescriptorClosedByItsOwnerIsReportedOnce) {
    PtyPair pty;
    const int fd = openSlave(pty, O_NONBLOCK);
    ASSERT_GE(fd, 0);
    FakeLineIo io; // counts the polls: a thread spinning on a closed descriptor shows here
    TTalonComm comm;
    comm.SetLineIo(&io);
    comm.fSetHandle(fd);
    Reports r(comm);
    comm.fSetActive(true);
    ::close(fd);
    pty.WriteMaster("x"); // nothing to wake on otherwise
    comm.Write("y", 1);
    ASSERT_TRUE(WaitFor([&] { return r.hangups.load() == 1 && !comm.fGetActive(); }));
    const int polls = io.polls.load();
    EXPECT_LT(polls, 20);
}

struct BadLine {
    const char* name;
    int byteSize;
    std::uint32_t baud;
};

class EngineBadLine : public ::testing::TestWithParam<BadLine> {};

TEST_P(EngineBadLine, FailsWithCode8AndStaysClosed) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetByteSize(static_cast<std::uint8_t>(GetParam().byteSize));
    comm.fSetBaudRate(GetParam().baud);
    try {
        comm.fSetActive(true);
        FAIL() << "opened with an impossible line";
    } catch (const ETalonCommError& e) {
        EXPECT_EQ(e.ErrorCode(), 8);
        EXPECT_NE(std::string(e.what()).find("Cannot set COM port parameters"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(comm.fGetActive());
}

INSTANTIATE_TEST_SUITE_P(Lines, EngineBadLine,
                         ::testing::Values(BadLine{"nineBits", 9, 19200}, BadLine{"fourBits", 4, 19200},
                                           BadLine{"noBits", 0, 19200}, BadLine{"baudZero", 8, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EngineEdges, AbortingPurgeDropsTheChunkInHand) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetActive(true);
    ASSERT_TRUE(comm.EscapeCommFunction(1)); // output stopped as by XOFF
    comm.Write(std::string(100, 'a').data(), 100);
    ASSERT_TRUE(WaitFor([&] { return comm.fGetOutQueue()->Count() == 0; })); // taken by the writer
    comm.PurgeWrite(true);
    ASSERT_TRUE(comm.EscapeCommFunction(2));
    comm.Write("b", 1);
    const auto out = pty.ReadMaster(101, std::chrono::milliseconds(300));
    EXPECT_EQ(std::string(out.begin(), out.end()), "b");
}

TEST(EngineEdges, UnexpectedReadErrorIsReportedOnceAndEndsThePort) {
    PtyPair pty;
    FakeLineIo io;
    TTalonComm comm;
    comm.SetLineIo(&io);
    comm.fSetPortName(pty.SlavePath());
    Reports r(comm);
    comm.fSetActive(true);
    io.readErrno = EINVAL;
    pty.WriteMaster("x");
    ASSERT_TRUE(WaitFor([&] { return r.hangups.load() == 1 && !comm.fGetActive(); }));
    EXPECT_EQ(r.errors.load(), 1);
}

TEST(EngineEdges, FailingPollEndsThePortAndSaysSo) {
    PtyPair pty;
    FakeLineIo io;
    TTalonComm comm;
    comm.SetLineIo(&io);
    comm.fSetPortName(pty.SlavePath());
    Reports r(comm);
    comm.fSetActive(true);
    io.pollErrno = ENOMEM;
    comm.Write("x", 1); // wakes the write thread into its next poll
    ASSERT_TRUE(WaitFor([&] { return r.hangups.load() == 1 && !comm.fGetActive(); }));
    EXPECT_TRUE(r.seen.load() & evErr);
}

TEST(EngineEdges, HeldOutputIsAwaitedInTheDriverAndCloseStillReturns) {
    PtyPair pty;
    FakeLineIo io;
    TTalonComm comm;
    comm.SetLineIo(&io);
    comm.fSetPortName(pty.SlavePath());
    Reports r(comm);
    comm.fSetActive(true);
    io.held = 64;
    comm.Write("x", 1);
    ASSERT_TRUE(WaitFor([&] { return io.drainWaits.load() == 1; })) << "the writer must wait, not look";
    EXPECT_FALSE(r.seen.load() & evTxEmpty);
    io.Release();
    ASSERT_TRUE(WaitFor([&] { return (r.seen.load() & evTxEmpty) != 0; }));
    io.held = 64;
    comm.Write("y", 1);
    ASSERT_TRUE(WaitFor([&] { return io.drainWaits.load() == 2; }));
    comm.fSetActive(false); // interrupts the wait
    EXPECT_FALSE(comm.fGetActive());
}

TEST(EngineEdges, ModemLinesLineErrorsAndBreaksAreReported) {
    PtyPair pty;
    FakeLineIo io;
    io.hasModem = true;
    TTalonComm comm;
    comm.SetLineIo(&io);
    comm.fSetPortName(pty.SlavePath());
    Reports r(comm);
    comm.fSetActive(true);
    ASSERT_TRUE(comm.fGetWatchingModem());
    io.SetModem(0x10 | 0x80); // CTS and RLSD come up
    ASSERT_TRUE(WaitFor([&] { return (r.seen.load() & (evCts | evRlsd)) == (evCts | evRlsd); }));
    EXPECT_TRUE(comm.fGetCTS());
    EXPECT_TRUE(comm.fGetRLSD());
    EXPECT_FALSE(r.seen.load() & (evDsr | evRing));
    io.SetModem(0x10 | 0x80 | 0x20 | 0x40);
    ASSERT_TRUE(WaitFor([&] { return (r.seen.load() & (evDsr | evRing)) == (evDsr | evRing); }));
    io.CountError(false);
    pty.WriteMaster("?");
    ASSERT_TRUE(WaitFor([&] { return (r.seen.load() & evErr) != 0; }));
    EXPECT_FALSE(r.seen.load() & evBreak);
    io.CountError(true);
    pty.WriteMaster(std::string(1, '\0'));
    ASSERT_TRUE(WaitFor([&] { return (r.seen.load() & evBreak) != 0; }));
    comm.fSetActive(false); // the watcher waits in the driver: Close must still return
    EXPECT_FALSE(comm.fGetWatchingModem());
}

TEST(EngineEdges, PseudoTerminalHasNoModemWatcher) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetActive(true);
    EXPECT_FALSE(comm.fGetWatchingModem());
}
