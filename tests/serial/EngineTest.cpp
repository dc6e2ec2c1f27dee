// The I/O engine against real pseudo-terminals, and (through the line-call seam) at the edges of
// its line: devices that go away at awkward moments, descriptors that belong to the caller,
// modem lines, line errors and output held by flow control.

#include "Harness.h"
#include "serial/ETalonCommError.h"
#include "serial/TCommSerialPortInfo.h"
#include "serial/TTalonComm.h"

#include <gtest/gtest.h>

using namespace TalonComm;
using namespace evbtest;

namespace {

class Engine : public ::testing::Test {
  protected:
    // Opens the engine on the pty, counting its reports (never the open/close report 0x38).
    void Open(TLineIo* lineIo = nullptr) {
        comm.SetLineIo(lineIo);
        if (comm.fGetHandle() < 0) comm.fSetPortName(pty.Slave());
        comm.OnCommNotify = [this](TObject*, int mask) {
            if (mask == 0x38) return;
            seen |= mask;
            hangups += (mask & evHangup) != 0;
            errors += (mask & evErr) != 0;
        };
        comm.fSetActive(true);
    }
    void TearDown() override {
        comm.fSetActive(false);
        comm.OnCommNotify = nullptr;
    }
    std::string Receive(std::size_t n) {
        std::string got;
        WaitFor([&] {
            char buf[256];
            const long k = comm.Read(buf, sizeof buf);
            if (k > 0) got.append(buf, static_cast<std::size_t>(k));
            return got.size() >= n;
        });
        return got;
    }
    bool EndsWithOneHangup() {
        return WaitFor([&] { return hangups == 1 && !comm.fGetActive(); });
    }
    bool Seen(int mask) {
        return WaitFor([&] { return (seen & mask) == mask; });
    }

    Pty pty;
    FakeLineIo io;
    TTalonComm comm;
    std::atomic<int> seen{0}, hangups{0}, errors{0};
};

} // namespace

TEST_F(Engine, FailedOpenRaisesItsCodeAndStaysClosed) {
    TTalonComm holder; // holds the port in the "busy" row
    holder.fSetPortName(pty.Slave());
    const struct {
        const char* port; // nullptr: the pty
        int byteSize;
        std::uint32_t baud;
        bool busy;
        int code;
        const char* text; // in the message or the reason
        std::uint32_t taken = 0; // the rate the driver falls back to
    } cases[] = {{"/dev/evb-no-such-port", 8, 19200, false, 4, "Cannot open COM port|No such file"},
                 {nullptr, 8, 19200, true, 4, "|in use by another program"},
                 {nullptr, 9, 19200, false, 8, "Cannot set COM port parameters"},
                 {nullptr, 4, 19200, false, 8, "Cannot set COM port parameters"},
                 {nullptr, 8, 0, false, 8, "Cannot set COM port parameters"},
                 {nullptr, 8, 19200, false, 8, "parameters|the driver set 9600 baud instead of 19200", 9600},
                 {"/dev/null", 8, 19200, false, 8, "parameters|not a serial device"},
                 {"/dev/ptmx", 8, 19200, false, 4, "Cannot open COM port|not a serial device"}};
    comm.SetLineIo(&io);
    for (const auto& c : cases) {
        io.speedTaken = c.taken;
        holder.fSetActive(c.busy);
        const std::string port = c.port ? c.port : pty.Slave();
        comm.fSetPortName(port);
        comm.fSetByteSize(static_cast<std::uint8_t>(c.byteSize));
        comm.fSetBaudRate(c.baud);
        try {
            comm.fSetActive(true);
            ADD_FAILURE() << "opened: " << c.text;
        } catch (const ETalonCommError& e) {
            EXPECT_EQ(e.ErrorCode(), c.code) << c.text;
            EXPECT_EQ(e.PortName(), port);
            EXPECT_NE((e.what() + ("|" + e.OsReason())).find(c.text), std::string::npos) << e.what();
        }
        EXPECT_FALSE(comm.fGetActive());
        EXPECT_EQ(holder.fGetActive(), c.busy);
    }
}

TEST_F(Engine, OpenAndCloseCallTheHooksInOrderAndSwallowWhatTheyThrow) {
    std::vector<std::string> calls; // owner's thread only: data reports are not recorded
    comm.OnCommNotify = [&](TObject*, int mask) {
        if (mask == 0x38) calls.push_back("notify");
        throw std::runtime_error("handler");
    };
    comm.AfterOpen = [&](TObject*) {
        calls.push_back("after-open");
        throw std::runtime_error("handler");
    };
    comm.BeforeClose = [&](TObject*) { calls.push_back("before-close"); };
    comm.fSetPortName(pty.Slave());
    EXPECT_NO_THROW(comm.Open());
    pty.Send("x");
    EXPECT_EQ(Receive(1), "x");
    EXPECT_NO_THROW(comm.Close());
    comm.OnCommNotify = nullptr;
    EXPECT_EQ(calls, (std::vector<std::string>{"notify", "after-open", "before-close", "notify"}));
}

// A ring resized under an open port: DeviceTest, under live packages.
TEST_F(Engine, LineSettersCloseAnOpenPort) {
    // The byte size: DeviceTest, through the device.
    const std::vector<std::function<void()>> setters = {
        [&] { comm.fSetBaudRate(9600); },  [&] { comm.fSetParity(2); },
        [&] { comm.fSetStopBits(2); },     [&] { comm.fSetFlowControl(3); },
        [&] { comm.fSetDataOnly(true); },  [&] { comm.fSetHwInSize(4096); },
        [&] { comm.fSetHwOutSize(4096); }, [&] { comm.fSetPortName(pty.Slave()); }};
    for (std::size_t i = 0; i < setters.size(); ++i) {
        Open();
        ASSERT_TRUE(comm.fGetActive());
        setters[i]();
        EXPECT_FALSE(comm.fGetActive()) << "setter " << i;
    }
}

// A pseudo-terminal cannot report its output queue: asked to, the engine paces it by itself,
// known by its device (through a link too), around the line calls it was given.
TEST_F(Engine, APseudoTerminalIsPacedWhenAskedAroundTheLineCallsGiven) {
    Open();
    EXPECT_FALSE(comm.fGetPaced());
    comm.fSetActive(false);
    const std::string link = ::testing::TempDir() + "evb-paced-pty";
    ::unlink(link.c_str());
    ASSERT_EQ(::symlink(pty.Slave().c_str(), link.c_str()), 0);
    comm.fSetPortName(link);
    comm.SetPaceBlindLines(true);
    io.hasModem = true;
    Open(&io);
    EXPECT_TRUE(comm.fGetPaced());
    std::uint32_t status = 0;
    EXPECT_TRUE(comm.LineIo()->ModemStatus(comm.fGetHandle(), status)) << "the given line calls answer";
    const std::string data(100, 'x');
    ASSERT_EQ(comm.Write(data.data(), 100), 100);
    EXPECT_EQ(pty.Take(100), data);
    comm.fSetActive(false);
    EXPECT_FALSE(comm.fGetPaced());
    EXPECT_EQ(comm.LineIo(), &io);
    ::unlink(link.c_str());
}

TEST(EnginePortName, NameIsNormalisedByItsNumberAndNamesADevice) {
    const struct {
        const char *given, *stored;
        int port;
        const char* device;
    } cases[] = {{"com3", "COM3", 3, "/dev/ttyS2"},       {"COM 7", "COM7", 7, "/dev/ttyS6"},
                 {"COM+4", "COM4", 4, "/dev/ttyS3"},      {"/dev/pts/3", "/dev/pts/3", 0, "/dev/pts/3"},
                 {"ttyUSB1", "ttyUSB1", 0, "/dev/ttyUSB1"}, {"COM1A", "COM1A", 0, "/dev/COM1A"},
                 {"COM", "COM", 0, "/dev/COM"},           {"COM-4", "COM-4", 0, "/dev/COM-4"},
                 {"COM99999999999", "COM99999999999", 0, "/dev/COM99999999999"},
                 {"", "COM2", 2, "/dev/ttyS1"}};
    for (const auto& c : cases) {
        TTalonComm comm;
        comm.fSetPortName(c.given);
        EXPECT_EQ(comm.fGetPortName(), c.stored) << c.given;
        EXPECT_EQ(comm.fGetPort(), c.port) << c.given;
        EXPECT_EQ(TTalonComm::DevicePath(c.stored), c.device);
    }
    EXPECT_EQ(TCommSerialPortInfo::PortName(0), "") << "no number, no COM name";
}

TEST_F(Engine, AbortingPurgeDropsTheChunkInHandAndDisabledWriteQueuesNothingButCommandsStillSend) {
    comm.fSetFlowControl(3);
    comm.fSetAutoAnswer(2);
    Open();
    ASSERT_TRUE(comm.EscapeCommFunction(1)); // output stopped as by XOFF
    comm.Write(std::string(100, 'a').data(), 100);
    ASSERT_TRUE(WaitFor([&] { return comm.fGetOutQueue()->Count() == 0; })); // taken by the writer
    comm.PurgeWrite(true);
    ASSERT_TRUE(comm.EscapeCommFunction(2));
    comm.Write("b", 1);
    EXPECT_EQ(pty.Take(101, 300ms), "b");
    comm.fSetDisableWrite(true);
    EXPECT_EQ(comm.Write("data", 4), 0);
    EXPECT_EQ(comm.fGetOutQueue()->Count(), 0);
    EXPECT_EQ(comm.Command("AT\r"), 3);
    comm.InitModem();
    comm.ResetModem();
    EXPECT_EQ(pty.Take(19), "AT\rATE0&K3S0=2\rATZ\r");
}

// Reopened after a close, the port neither repeats nor skips drained bytes; after a hang-up, the
// next device gets only new bytes.
TEST_F(Engine, WaitWriteRoomFillsASmallRingAHangupWithAFullQueueIsReportedOnceAndReopeningsSendOnlyNewBytes) {
    comm.fSetOutBufSize(64);
    comm.fSetInBufSize(11); // full with the 10 bytes: the hang-up must be seen all the same
    Open();
    EXPECT_FALSE(comm.fGetWatchingModem()) << "a pseudo-terminal has no modem lines";
    std::string sent;
    for (int i = 0; i < 20000; ++i)
        sent += static_cast<char>('a' + i % 26);
    std::string received;
    std::thread reader([&] { received = pty.Take(sent.size(), 20s); });
    for (std::size_t at = 0; at < sent.size(); at += 20) {
        ASSERT_TRUE(comm.WaitWriteRoom(20, 10s));
        ASSERT_EQ(comm.Write(sent.data() + at, 20), 20) << "room was promised";
    }
    reader.join();
    EXPECT_EQ(received, sent);
    EXPECT_FALSE(comm.WaitWriteRoom(64, 0ms)) << "more than the ring can ever hold";
    comm.Write("one", 3);
    ASSERT_TRUE(comm.WaitWriteDrained(5s));
    EXPECT_EQ(comm.fGetOutQueue()->Count(), 0);
    comm.fSetActive(false);
    EXPECT_FALSE(comm.WaitWriteRoom(1, 5s)) << "a closed port fails at once";
    EXPECT_FALSE(comm.WaitWriteDrained(5s));
    EXPECT_FALSE(comm.EscapeCommFunction(5));
    comm.fSetActive(true);
    comm.Write("two", 3);
    EXPECT_EQ(pty.Take(6), "onetwo");
    pty.Send("last words");
    ASSERT_TRUE(WaitFor([&] { return comm.fGetInQueue()->Remain() == 0; }));
    pty.Close();
    ASSERT_TRUE(EndsWithOneHangup());
    EXPECT_EQ(Receive(10), "last words");
    EXPECT_EQ(comm.Write("stale", 5), 5) << "writing to a vanished port queues without harm";
    Pty next;
    comm.fSetPortName(next.Slave());
    comm.fSetActive(true);
    next.Send("again");
    EXPECT_EQ(Receive(5), "again");
    comm.Write("fresh", 5);
    EXPECT_EQ(next.Take(5), "fresh");
    EXPECT_EQ(hangups, 1);
}

TEST_F(Engine, HangupWhileOpeningEndsThePortClosed) {
    // The device is gone before the threads first look: every opening must end closed and say
    // so, never "active" with no thread left to send.
    io.readEnd = true;
    for (int i = 1; i <= 20; ++i) {
        pty.Send("x");
        Open(&io);
        ASSERT_TRUE(WaitFor([&] { return hangups == i && !comm.fGetActive(); })) << "opening " << i;
        comm.fSetActive(false);
    }
}

TEST_F(Engine, ExternalDescriptorStaysTheCallersAndItsClosingByTheOwnerIsReportedOnce) {
    const int fd = ::open(pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC); // blocking
    ASSERT_GE(fd, 0);
    comm.fSetHandle(fd);
    Open();
    EXPECT_EQ(comm.Write("hi", 2), 2);
    EXPECT_EQ(pty.Take(2), "hi");
    comm.fSetActive(false);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "the caller's flags come back";
    Pty other;
    comm.fSetPortName(other.Slave());
    comm.fSetActive(true);
    comm.fSetActive(false);
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "the engine closed a descriptor it did not own";
    comm.fSetHandle(fd);
    Open(&io); // counts the polls: a thread spinning on a closed descriptor shows here
    ::close(fd);
    pty.Send("x"); // nothing to wake on otherwise
    comm.Write("y", 1);
    ASSERT_TRUE(EndsWithOneHangup());
    EXPECT_LT(io.polls, 20);
}

class EngineCallFailure : public Engine, public ::testing::WithParamInterface<bool> {};

TEST_P(EngineCallFailure, UnexpectedErrorIsReportedOnceAndEndsThePort) {
    Open(&io);
    if (GetParam()) {
        io.readErrno = EINVAL;
        pty.Send("x");
    } else {
        io.pollErrno = ENOMEM;
        comm.Write("x", 1); // wakes the write thread into its next poll
    }
    ASSERT_TRUE(EndsWithOneHangup());
    EXPECT_EQ(errors, 1);
}

INSTANTIATE_TEST_SUITE_P(ReadOrPoll, EngineCallFailure, ::testing::Bool());

// Through the line-call seam: both waits in the driver (for modem lines, for held output to
// drain) are under way when the port closes. A change right after opening is not lost.
TEST_F(Engine, ModemLinesLineErrorsAndBreaksAreReportedHeldOutputIsAwaitedInTheDriverAndCloseStillReturns) {
    io.hasModem = true;
    io.ctsAfterStatusRead = true; // CTS comes up right after the opening read the lines
    Open(&io);
    ASSERT_TRUE(comm.fGetWatchingModem());
    ASSERT_TRUE(Seen(evCts));
    io.SetModem(0x10 | 0x80); // RLSD comes up
    ASSERT_TRUE(Seen(evRlsd));
    EXPECT_TRUE(comm.fGetCTS());
    EXPECT_TRUE(comm.fGetRLSD());
    EXPECT_FALSE(seen & (evDsr | evRing));
    io.SetModem(0x10 | 0x80 | 0x20 | 0x40);
    ASSERT_TRUE(Seen(evDsr | evRing));
    ++io.frames;
    pty.Send("?");
    ASSERT_TRUE(Seen(evErr));
    EXPECT_FALSE(seen & evBreak);
    ++io.breaks;
    pty.Send(std::string(1, '\0'));
    ASSERT_TRUE(Seen(evBreak));
    io.held = 64;
    comm.Write("x", 1);
    ASSERT_TRUE(WaitFor([&] { return io.drainWaits == 1; })) << "the writer must wait, not look";
    EXPECT_FALSE(seen & evTxEmpty);
    io.Release();
    ASSERT_TRUE(Seen(evTxEmpty));
    io.held = 64;
    comm.Write("y", 1);
    ASSERT_TRUE(WaitFor([&] { return io.drainWaits == 2; }));
    comm.fSetActive(false); // interrupts both waits
    EXPECT_FALSE(comm.fGetActive());
    EXPECT_FALSE(comm.fGetWatchingModem());
}

// The port gets back the settings it had (here cooked at 115200 baud), after a close and after
// a hang-up of a device that is still there.
TEST_F(Engine, LineSettingsComeBackOnCloseAndAfterAHangup) {
    termios before{};
    ::tcgetattr(pty.Master(), &before);
    before.c_lflag |= ICANON;
    ::cfsetspeed(&before, B115200);
    ::tcsetattr(pty.Master(), TCSANOW, &before);
    for (const bool hangup : {false, true}) {
        io.readEnd = hangup;
        Open(&io);
        if (hangup) pty.Send("x");
        ASSERT_TRUE(!hangup || EndsWithOneHangup());
        comm.fSetActive(false);
        termios after{};
        ::tcgetattr(pty.Master(), &after);
        EXPECT_EQ(::cfgetospeed(&after), B115200) << hangup;
        EXPECT_TRUE(after.c_lflag & ICANON) << hangup;
    }
}

// With parity on, a byte the line spoiled is dropped, counted and reported, never delivered as
// 0x00; a data byte 0xFF survives the marking.
TEST_F(Engine, WithParityOnASpoiledByteIsDroppedCountedAndReported) {
    comm.fSetParity(2);
    Open(&io);
    io.markNext = true;
    pty.Send("Z");
    ASSERT_TRUE(Seen(evErr));
    pty.Send("a\xff" "b");
    EXPECT_EQ(Receive(3), "a\xff" "b");
    EXPECT_EQ(comm.fGetBadBytes(), 1u);
}

// Noise the read thread took from the driver just before a purge never joins what comes after.
TEST_F(Engine, BytesReadBeforeAPurgeNeverReachTheQueueAfterIt) {
    Open(&io);
    io.afterRead = [&] { comm.PurgeRead(false); };
    io.afterReadArmed = true;
    pty.Send("NOISE");
    ASSERT_TRUE(WaitFor([&] { return io.afterReadRuns == 1; }));
    pty.Send("answer");
    EXPECT_EQ(Receive(6), "answer");
}

// An event handler that closes and opens the port again on the read thread is refused: a second
// read thread would feed the same queue. (The hang-up report's handler may: the GUI's reopen.)
TEST_F(Engine, OpeningFromTheReadThreadIsRefused) {
    std::atomic<int> refused{-1};
    // The handler is set before the read thread starts: it is that thread's to call.
    comm.OnCommNotify = [&](TObject*, int mask) {
        if (!(mask & evRxChar) || refused >= 0) return;
        comm.fSetActive(false);
        try {
            comm.fSetActive(true);
            refused = 0;
        } catch (const ETalonCommError& e) {
            refused = e.ErrorCode();
        }
    };
    comm.fSetPortName(pty.Slave());
    comm.fSetActive(true);
    pty.Send("x");
    ASSERT_TRUE(WaitFor([&] { return refused >= 0; }));
    EXPECT_EQ(refused, 11);
}
