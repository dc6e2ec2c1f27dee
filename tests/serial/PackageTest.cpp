// Packages: the byte and package-slot rings, head/tail framing, assembly by silence, and the
// package layer over a real port.

#include "Harness.h"
#include "serial/ETalonCommError.h"
#include "serial/TCommPackage.h"
#include "serial/TCommPackageQueue.h"
#include "serial/TCommQueue.h"
#include "serial/TFrameCodec.h"
#include "serial/TTalonComm.h"
#include "serial/TTimeoutAssembler.h"

#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

using namespace TalonComm;
using namespace evbtest;
using Bytes = std::vector<std::uint8_t>;
using namespace std::string_literals;

// ---- the rings ----

// The ring's order across its end and Discard: EngineTest's write and hang-up tests; its
// capacity: the ten-megabyte stress test, which stalls when a write overruns unread bytes.
TEST(ByteQueue, RefusesBadArgumentsAndAnImpossibleSizeRaisesCode1AndKeepsTheOldRing) {
    TCommQueue q(8);
    char c;
    EXPECT_EQ(q.In(nullptr) + q.In("abc", 0) + q.In("abc", -1) + q.Out(&c) + q.Out(nullptr, 1), 0);
    try {
        q.SetBufSize(std::numeric_limits<long>::max());
        ADD_FAILURE();
    } catch (const ETalonCommError& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_TRUE(e.PortName().empty());
    }
    EXPECT_EQ(q.In("abcdefgh", 8), 7);
    q.SetBufSize(0);
    EXPECT_FALSE(q.IsValid());
    EXPECT_EQ(q.In("a", 1), 0);
    q.SetBufSize(4);
    EXPECT_EQ(q.In("abcd", 4), 3);
}

TEST(PackageQueue, SlotsHaveMinimaCutOverlongPackagesAndComeOutWholeOrCut) {
    TCommPackageQueue small(1, 8);
    EXPECT_EQ(small.QSize(), 2u);
    EXPECT_EQ(small.PkgSz(), 32u);
    EXPECT_EQ(small.InPackage(std::string(100, 'q').data(), 100), 1);
    EXPECT_EQ(small.PeekLength(), 28);
    TCommPackageQueue q(4, 36);
    q.InPackage("hello", 5);
    q.InPackage("abc", 3);
    std::vector<char> slot(36); // Read looks at the slot (length, then bytes) without removing it
    ASSERT_EQ(q.Read(slot.data(), 1), 1);
    std::uint32_t len;
    std::memcpy(&len, slot.data(), 4);
    EXPECT_EQ(std::string(slot.data() + 4, len), "abc");
    EXPECT_EQ(q.Read(slot.data(), 2), 0);
    EXPECT_EQ(q.PeekLength(), 5);
    char buf[8];
    EXPECT_EQ(q.OutPackage(buf, 2), 2);
    EXPECT_EQ(std::string(buf, 2), "he");
    EXPECT_EQ(q.OutPackage(buf, 8), 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(q.OutPackage(buf, 8), -1);
}

// ---- head/tail framing ----

// Fed in pieces, the decoder gives the same: the frame-decoder fuzz target, whose stored inputs
// replay in every test run.
TEST(FrameCodec, WireGivesThePackagesAndThePackageEncodesToTheWire) {
    const struct {
        const char* name;
        Bytes wire;
        std::vector<Bytes> packages;
        bool encodes = false; // the first package, encoded, gives the wire
        bool doubled = false;
        std::uint32_t maxLength = 4096;
    } cases[] = {
        {"plain", {0xEB, 0x01, 0xEC, 0xEB, 0x02, 0xEE}, {{0x01, 0xEB, 0x02}}, true},
        {"doubled", {0xEB, 0xEB, 0x01, 0xEC, 0xEB, 0x02, 0xEE, 0xEE}, {{0x01, 0xEB, 0x02}}, true, true},
        {"escapedControlAndTail", {0xEB, 0xEC, 0xEC, 0xEC, 0xEE, 0xEE}, {{0xEC, 0xEE}}, true},
        {"headRestarts", {0xEB, 0x41, 0xEB, 0x42, 0xEE}, {{0x42}}},
        {"escapedHeadOutside", {0xEC, 0xEB, 0x41, 0xEE}, {}},
        {"emptyFrame", {0xEB, 0xEE}, {{}}, true},
        {"garbageBetween", {0x11, 0xEE, 0xEB, 0x05, 0xEE, 0x22, 0xEB, 0x06, 0xEE}, {{0x05}, {0x06}}},
        // an oversize frame keeps its first bytes, and the decoder goes on
        {"oversize", {0xEB, 1, 2, 3, 4, 0xEE, 0xEB, 5, 0xEE}, {{1, 2, 3}, {5}}, false, false, 3}};
    for (const auto& c : cases) {
        std::vector<Bytes> got;
        TFrameCodec(c.maxLength)
            .Decode(c.wire.data(), c.wire.size(), {},
                    [&](const std::uint8_t* p, std::uint32_t n) { got.emplace_back(p, p + n); });
        EXPECT_EQ(got, c.packages) << c.name;
        if (!c.encodes) continue;
        TFrameMarks marks;
        marks.DoubleMark = c.doubled;
        Bytes out;
        TFrameCodec::Encode(c.packages[0].data(), c.packages[0].size(), marks, out);
        EXPECT_EQ(out, c.wire) << c.name;
    }
}

// ---- answers of a known length ----

// Silence alone (interval 50 ms) is the assembler's fuzz target; an expected answer of two bytes
// ends 1 ms after its last byte, and whatever does not meet it keeps the 50 ms.
TEST(TimeoutAssembler, AnAnswerOfKnownLengthEndsAfterTheQuietAndAnyOtherByteAfterTheInterval) {
    using Clock = TTimeoutAssembler::Clock;
    using std::chrono::milliseconds;
    const struct {
        const char* name;
        std::vector<std::pair<int, std::string>> feeds; // ms from the start, bytes
        int dueAt;                                      // ms when the first package is due
        std::string package;
        std::size_t stillExpected; // of the two bytes, after that package
    } cases[] = {
        {"exact", {{0, "a"}, {3, "b"}}, 4, "ab", 0},
        {"oneTooMany", {{0, "abc"}}, 1, "abc", 0},
        {"oneTooFew", {{0, "a"}}, 50, "a", 1},
        {"extraBeforeTheQuiet", {{0, "ab"}, {0, "c"}}, 1, "abc", 0},
    };
    for (const auto& c : cases) {
        TTimeoutAssembler a(64, milliseconds(50));
        a.Expect(2, milliseconds(1));
        const Clock::time_point t0 = Clock::now();
        for (const auto& [at, bytes] : c.feeds)
            a.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), t0 + milliseconds(at));
        Bytes out;
        EXPECT_FALSE(a.TakeIfDue(t0 + milliseconds(c.dueAt) - std::chrono::microseconds(1), out)) << c.name;
        ASSERT_TRUE(a.TakeIfDue(t0 + milliseconds(c.dueAt), out)) << c.name;
        EXPECT_EQ(std::string(out.begin(), out.end()), c.package) << c.name;
        EXPECT_EQ(a.Expected(), c.stillExpected) << c.name;
    }
    // A late byte, once the answer is in: the interval again.
    TTimeoutAssembler a(64, milliseconds(50));
    a.Expect(1, milliseconds(1));
    const Clock::time_point t0 = Clock::now();
    a.Feed(reinterpret_cast<const std::uint8_t*>("a"), 1, t0);
    Bytes out;
    ASSERT_TRUE(a.TakeIfDue(t0 + milliseconds(1), out));
    a.Feed(reinterpret_cast<const std::uint8_t*>("L"), 1, t0 + milliseconds(3));
    EXPECT_EQ(a.Deadline(), t0 + milliseconds(53));
    EXPECT_FALSE(a.TakeNow(out) && a.TakeNow(out)) << "taken at once, then nothing pending";
    EXPECT_EQ(std::string(out.begin(), out.end()), "L");
}

// ---- the package layer over a real port ----

namespace {

class Packages : public ::testing::Test {
  protected:
    void TearDown() override {
        package.fSetActive(false);
        engine.fSetActive(false);
    }
    std::string Next() {
        char buf[9000];
        return std::string(buf, package.ReadPackage(buf, sizeof buf));
    }
    // Sends a burst and waits for the report of `packages` packages more.
    bool Burst(const std::string& bytes, int packages = 1) {
        const int before = received;
        pty.Send(bytes);
        return WaitFor([&] { return received >= before + packages; });
    }

    Pty pty;
    TTalonComm engine;
    TCommPackage package{&engine};
    std::atomic<int> seen{0}, received{0}; // every mask reported; the reports of received packages
};

} // namespace

// Time-out packages (the default type), then head/tail frames, on one layer that stays open.
TEST_F(Packages, BurstsAndFramesBecomePackagesReadWholeCutOrPeekedAndWritesGoOutRawOrFramed) {
    package.fSetPackageInterval(20);
    package.OnPackage = [this](TObject*, int mask) {
        seen |= mask;
        received += (mask & evRxChar) != 0;
    };
    engine.fSetPortName(pty.Slave());
    engine.fSetActive(true);
    package.fSetActive(true);
    // A short read discards the rest, a peek leaves the package, writes go out raw.
    ASSERT_TRUE(Burst("12345"));
    EXPECT_EQ(package.ReadPackage(nullptr, 0), 5u);
    char buf[8];
    EXPECT_EQ(package.ReadPackage(buf, 0), 5u);
    EXPECT_EQ(package.ReadPackage(buf, 1), 1u);
    EXPECT_EQ(buf[0], '1');
    EXPECT_EQ(package.ReadPackage(nullptr, 0), 0u);
    EXPECT_EQ(package.WritePackage("\xEB\x01\xEE", 3), 3u);
    EXPECT_EQ(pty.Take(3), "\xEB\x01\xEE");
    EXPECT_TRUE(WaitFor([&] { return seen & evTxEmpty; })) << "reported sent";
    // An oversize burst reaches the engine in several reads: a package of PackageSize bytes,
    // then one of the rest.
    package.fSetPackageInterval(200);
    package.fSetPackageSize(8192);
    std::string burst(10000, 0);
    for (std::size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(Burst(burst, 2));
    EXPECT_EQ(Next(), burst.substr(0, 8192));
    EXPECT_EQ(Next(), burst.substr(8192));
    // Each burst is one package; the sixteenth unread is lost but notified; a type change
    // discards the rest.
    package.fSetPackageInterval(20);
    const int before = received;
    for (int i = 0; i < 16; ++i)
        ASSERT_TRUE(Burst("p" + std::to_string(i)));
    EXPECT_EQ(package.ReceiveQueue()->Count(), 15u);
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(Next(), "p" + std::to_string(i));
    package.fSetPackageType(cptFrameHeadTail); // the layer stays active: the steps below need it
    EXPECT_EQ(package.ReceiveQueue()->Count(), 0u);
    EXPECT_EQ(received, before + 16);
    // Head/tail frames become packages, and writes are framed.
    pty.Send("\x00\xEB\x41\xEC\xEE\xEE\xEB\x42\xEE"s);
    ASSERT_TRUE(WaitFor([&] { return package.ReceiveQueue()->Count() == 2; }));
    EXPECT_EQ(Next(), "\x41\xEE");
    EXPECT_EQ(Next(), "B");
    EXPECT_TRUE(WaitFor([&] { return received > before + 16; }));
    package.fSetDoubleFrameMark(true);
    EXPECT_EQ(package.WritePackage("\x01\xEB\x02", 3), 3u);
    EXPECT_EQ(pty.Take(8), "\xEB\xEB\x01\xEC\xEB\x02\xEE\xEE");
    package.fSetActive(false);
    EXPECT_EQ(package.WritePackage("ab", 2) + package.ReadPackage(buf, 4), 0u)
        << "an inactive layer moves nothing";
}

// An answer of known length comes out long before the 10 s interval; a late byte after it is
// closed as a package of its own when the next answer is expected, never joined to it.
TEST_F(Packages, AnExpectedAnswerEndsAfterItsBytesAndALateByteStaysOutOfTheNext) {
    package.fSetPackageInterval(10000);
    package.OnPackage = [this](TObject*, int mask) { received += (mask & evRxChar) != 0; };
    engine.fSetPortName(pty.Slave());
    engine.fSetActive(true);
    package.fSetActive(true);
    package.ExpectPackage(1, std::chrono::milliseconds(1));
    ASSERT_TRUE(Burst("a"));
    EXPECT_EQ(Next(), "a");
    pty.Send("L");
    ASSERT_TRUE(WaitFor([&] { return package.Assembling(); })) << "the late byte reached the layer";
    package.ExpectPackage(1, std::chrono::milliseconds(1));
    EXPECT_EQ(Next(), "L");
    ASSERT_TRUE(Burst("b"));
    EXPECT_EQ(Next(), "b");
}

// The line ends while a package is still being assembled (no silence yet): it is closed and
// announced before the hang-up is reported.
TEST_F(Packages, AHangUpClosesThePackageBeingAssembledBeforeItIsReported) {
    long waitingAtHangup = -1;
    package.OnPackage = [&](TObject*, int mask) {
        if (mask & evHangup) waitingAtHangup = package.ReceiveQueue()->PeekLength();
        seen |= mask;
    };
    package.fSetPackageInterval(10000);
    engine.fSetPortName(pty.Slave());
    engine.fSetActive(true);
    package.fSetActive(true);
    const auto before = engine.fGetLastReceived();
    pty.Send("ack");
    ASSERT_TRUE(WaitFor([&] { return engine.fGetLastReceived() != before; }));
    pty.Close();
    ASSERT_TRUE(WaitFor([&] { return seen & evHangup; }));
    EXPECT_EQ(waitingAtHangup, 3);
    EXPECT_EQ(Next(), "ack");
}
