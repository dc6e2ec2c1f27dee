// Package assembly: head/tail framing, silence time-out, the package layer over a pty.

#include "PtyPair.h"
#include "serial/TCommPackage.h"
#include "serial/TFrameCodec.h"
#include "serial/TTalonComm.h"
#include "serial/TTimeoutAssembler.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

using namespace TalonComm;
using evbtest::PtyPair;
using evbtest::WaitFor;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

namespace {

std::vector<Bytes> decodeAll(const Bytes& wire, std::uint32_t maxLength = 4096) {
    TFrameCodec codec(maxLength);
    std::vector<Bytes> packages;
    codec.Decode(wire.data(), wire.size(), TFrameMarks{},
                 [&](const std::uint8_t* p, std::uint32_t n) { packages.emplace_back(p, p + n); });
    return packages;
}

} // namespace

TEST(FrameEncoding, MarkerBytesInsideArePrecededByTheControlByte) {
    const Bytes data{0x01, 0xEB, 0x02};
    Bytes out;
    TFrameCodec::Encode(data.data(), data.size(), TFrameMarks{}, out);
    EXPECT_EQ(out, (Bytes{0xEB, 0x01, 0xEC, 0xEB, 0x02, 0xEE}));
    TFrameMarks doubled;
    doubled.DoubleMark = true;
    TFrameCodec::Encode(data.data(), data.size(), doubled, out);
    EXPECT_EQ(out, (Bytes{0xEB, 0xEB, 0x01, 0xEC, 0xEB, 0x02, 0xEE, 0xEE}));
}

TEST(FrameEncoding, EveryByteValueSurvivesTheRoundTrip) {
    Bytes data;
    for (int i = 0; i < 256; ++i)
        data.push_back(static_cast<std::uint8_t>(i));
    Bytes wire;
    TFrameCodec::Encode(data.data(), data.size(), TFrameMarks{}, wire);
    EXPECT_EQ(decodeAll(wire), std::vector<Bytes>{data});
}

struct DecodeCase {
    const char* name;
    Bytes wire;
    std::vector<Bytes> packages;
};

class FrameDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(FrameDecoding, WireGivesPackages) {
    EXPECT_EQ(decodeAll(GetParam().wire), GetParam().packages);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameDecoding,
    ::testing::Values(
        DecodeCase{"plain", {0xEB, 0x01, 0xEC, 0xEB, 0x02, 0xEE}, {{0x01, 0xEB, 0x02}}},
        DecodeCase{"doubled", {0xEB, 0xEB, 0x01, 0xEC, 0xEB, 0x02, 0xEE, 0xEE}, {{0x01, 0xEB, 0x02}}},
        DecodeCase{"head restarts", {0xEB, 0x41, 0xEB, 0x42, 0xEE}, {{0x42}}},
        DecodeCase{"escaped head outside", {0xEC, 0xEB, 0x41, 0xEE}, {}},
        DecodeCase{"empty frame", {0xEB, 0xEE}, {{}}},
        DecodeCase{
            "garbage between", {0x11, 0xEE, 0xEB, 0x05, 0xEE, 0x22, 0xEB, 0x06, 0xEE}, {{0x05}, {0x06}}},
        DecodeCase{"escaped control", {0xEB, 0xEC, 0xEC, 0xEC, 0xEE, 0xEE}, {{0xEC, 0xEE}}}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& c : n)
            if (c == ' ') c = '_';
        return n;
    });

TEST(FrameDecoding, OversizeFrameKeepsItsFirstBytesAndGoesOn) {
    Bytes wire{0xEB};
    for (int i = 0; i < 40; ++i)
        wire.push_back(static_cast<std::uint8_t>(i));
    wire.push_back(0xEE);
    const auto packages = decodeAll(wire, 32);
    ASSERT_EQ(packages.size(), 1u);
    EXPECT_EQ(packages[0].size(), 32u);
    EXPECT_EQ(packages[0].back(), 31);
}

TEST(FrameDecoding, FrameSplitAcrossFeedsIsJoined) {
    TFrameCodec codec(64);
    std::vector<Bytes> packages;
    auto sink = [&](const std::uint8_t* p, std::uint32_t n) { packages.emplace_back(p, p + n); };
    const Bytes a{0xEB, 0x01, 0xEC}, b{0xEE, 0x02, 0xEE};
    codec.Decode(a.data(), a.size(), TFrameMarks{}, sink);
    EXPECT_TRUE(packages.empty());
    codec.Decode(b.data(), b.size(), TFrameMarks{}, sink);
    EXPECT_EQ(packages, (std::vector<Bytes>{{0x01, 0xEE, 0x02}}));
}

// ---- silence time-out with a test clock ----

struct TimeoutStep {
    int atMs;
    int bytes;           // > 0: that many bytes arrive; 0: a tick looks for a due package
    int expectedPackage; // length of the package closed by the tick, -1 none
};

class TimeoutAssembly : public ::testing::TestWithParam<std::vector<TimeoutStep>> {};

TEST_P(TimeoutAssembly, PackageClosesOneIntervalAfterItsLastByte) {
    TTimeoutAssembler assembler(8192, milliseconds(50));
    const auto t0 = TTimeoutAssembler::Clock::time_point{} + std::chrono::hours(1);
    Bytes out;
    for (const TimeoutStep& step : GetParam()) {
        const auto t = t0 + milliseconds(step.atMs);
        if (step.bytes > 0) {
            const Bytes data(static_cast<size_t>(step.bytes), 0x55);
            assembler.Feed(data.data(), data.size(), t);
            continue;
        }
        const bool closed = assembler.TakeIfDue(t, out);
        EXPECT_EQ(closed ? static_cast<int>(out.size()) : -1, step.expectedPackage)
            << "at " << step.atMs << " ms";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gaps, TimeoutAssembly,
    ::testing::Values(
        // short gaps join
        std::vector<TimeoutStep>{{0, 3, 0}, {30, 2, 0}, {60, 1, 0}, {109, 0, -1}, {110, 0, 6}, {500, 0, -1}},
        // a long pause splits
        std::vector<TimeoutStep>{{0, 4, 0}, {50, 0, 4}, {200, 5, 0}, {249, 0, -1}, {250, 0, 5}},
        // nothing arrives, nothing closes
        std::vector<TimeoutStep>{{0, 0, -1}, {1000, 0, -1}},
        // a burst beyond the maximum is cut; the rest of the burst is dropped
        std::vector<TimeoutStep>{{0, 6000, 0}, {10, 4000, 0}, {60, 0, 8192}, {61, 0, -1}}));

// ---- the package layer over a real port ----

namespace {

struct PackagePort {
    PtyPair pty;
    TTalonComm engine;
    TCommPackage package{&engine};
    std::mutex mutex;
    std::vector<int> notes;
    std::atomic<int> ones{0};

    explicit PackagePort(TCommPackageType type, std::uint32_t interval = 20) {
        package.fSetPackageType(type);
        package.fSetPackageInterval(interval);
        package.OnPackage = [this](TObject*, int mask) {
            std::lock_guard<std::mutex> lock(mutex);
            notes.push_back(mask);
            if (mask == 1) ++ones;
        };
        engine.fSetPortName(pty.SlavePath());
        engine.fSetActive(true);
        package.fSetActive(true);
    }
    ~PackagePort() {
        package.fSetActive(false);
        engine.fSetActive(false);
    }
    std::string next() {
        char buf[9000];
        const unsigned long n = package.ReadPackage(buf, sizeof buf);
        return std::string(buf, n);
    }
};

} // namespace

TEST(TimeoutPackages, EachBurstIsOnePackageWithOneNotification) {
    PackagePort port(cptFrameTimeout);
    for (int i = 0; i < 3; ++i) {
        port.pty.WriteMaster("burst" + std::to_string(i));
        ASSERT_TRUE(WaitFor([&] { return port.ones.load() == i + 1; }));
    }
    EXPECT_EQ(port.next(), "burst0");
    EXPECT_EQ(port.next(), "burst1");
    EXPECT_EQ(port.next(), "burst2");
    EXPECT_EQ(port.next(), "");
    std::lock_guard<std::mutex> lock(port.mutex);
    EXPECT_EQ(std::count(port.notes.begin(), port.notes.end(), 1), 3);
}

TEST(TimeoutPackages, BytesWithinTheIntervalJoin) {
    PackagePort port(cptFrameTimeout, 2000);
    port.pty.WriteMaster("abc");
    port.pty.WriteMaster("def");
    ASSERT_TRUE(WaitFor([&] { return port.ones.load() == 1; }, std::chrono::seconds(10)));
    EXPECT_EQ(port.next(), "abcdef");
}

TEST(TimeoutPackages, OversizeBurstIsCutAtPackageSize) {
    PackagePort port(cptFrameTimeout, 200);
    port.package.fSetPackageSize(8192);
    std::vector<unsigned char> burst(10000);
    for (size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<unsigned char>(i * 7);
    port.pty.WriteMaster(burst);
    ASSERT_TRUE(WaitFor([&] { return port.ones.load() == 1; }));
    const std::string got = port.next();
    ASSERT_EQ(got.size(), 8192u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), burst.begin(),
                           [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; }));
}

TEST(TimeoutPackages, SixteenthUnreadPackageIsLostButNotified) {
    PackagePort port(cptFrameTimeout);
    for (int i = 0; i < 16; ++i) {
        port.pty.WriteMaster("p" + std::to_string(i));
        ASSERT_TRUE(WaitFor([&] { return port.ones.load() == i + 1; }));
    }
    EXPECT_EQ(port.package.ReceiveQueue()->Count(), 15u);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(port.next(), "p" + std::to_string(i));
    EXPECT_EQ(port.next(), "");
}

TEST(TimeoutPackages, ShortReadDiscardsTheRestAndPeekLeavesThePackage) {
    PackagePort port(cptFrameTimeout);
    port.pty.WriteMaster("12345");
    ASSERT_TRUE(WaitFor([&] { return port.ones.load() == 1; }));
    EXPECT_EQ(port.package.ReadPackage(nullptr, 0), 5u);
    char buf[8];
    EXPECT_EQ(port.package.ReadPackage(buf, 0), 5u);
    EXPECT_EQ(port.package.ReadPackage(buf, 1), 1u);
    EXPECT_EQ(buf[0], '1');
    EXPECT_EQ(port.package.ReadPackage(nullptr, 0), 0u);
}

TEST(TimeoutPackages, WritePackageSendsRawBytes) {
    PackagePort port(cptFrameTimeout);
    EXPECT_EQ(port.package.WritePackage("\xEB\x01\xEE", 3), 3u);
    const auto out = port.pty.ReadMaster(3);
    EXPECT_EQ(out, (std::vector<unsigned char>{0xEB, 0x01, 0xEE}));
}

TEST(TimeoutPackages, InactiveLayerMovesNothing) {
    PackagePort port(cptFrameTimeout);
    port.package.fSetActive(false);
    char buf[4];
    EXPECT_EQ(port.package.WritePackage("ab", 2), 0u);
    EXPECT_EQ(port.package.ReadPackage(buf, 4), 0u);
}

TEST(HeadTailPackages, FramesOnTheWireBecomePackagesWithBit1) {
    PackagePort port(cptFrameHeadTail);
    port.pty.WriteMaster(std::vector<unsigned char>{0x00, 0xEB, 0x41, 0xEC, 0xEE, 0xEE, 0xEB, 0x42, 0xEE});
    ASSERT_TRUE(WaitFor([&] { return port.package.ReceiveQueue()->Count() == 2; }));
    EXPECT_EQ(port.next(), std::string("\x41\xEE"));
    EXPECT_EQ(port.next(), "B");
    std::lock_guard<std::mutex> lock(port.mutex);
    EXPECT_TRUE(std::any_of(port.notes.begin(), port.notes.end(), [](int m) { return m & 1; }));
}

TEST(HeadTailPackages, WritePackageFramesAndReportsAllSent) {
    PackagePort port(cptFrameHeadTail);
    port.package.fSetDoubleFrameMark(true);
    EXPECT_EQ(port.package.WritePackage("\x01\xEB\x02", 3), 3u);
    const auto out = port.pty.ReadMaster(8);
    EXPECT_EQ(out, (std::vector<unsigned char>{0xEB, 0xEB, 0x01, 0xEC, 0xEB, 0x02, 0xEE, 0xEE}));
    EXPECT_TRUE(WaitFor([&] {
        std::lock_guard<std::mutex> lock(port.mutex);
        return std::any_of(port.notes.begin(), port.notes.end(), [](int m) { return m & evTxEmpty; });
    }));
}

TEST(CompatiblePackages, WholeSlotsGoOutFramedAndComeBackWhole) {
    PackagePort port(cptCompatiblePkg);
    port.package.fSetPackageSize(32);
    std::vector<char> slot(36, 0);
    const std::uint32_t len = 2;
    std::memcpy(slot.data(), &len, 4);
    slot[4] = 'h';
    slot[5] = 'i';
    EXPECT_EQ(port.package.WritePackage(slot.data(), 0), 1u);
    EXPECT_EQ(port.pty.ReadMaster(4), (std::vector<unsigned char>{0xEB, 'h', 'i', 0xEE}));
    port.pty.WriteMaster(std::vector<unsigned char>{0xEB, 'o', 'k', 0xEE});
    ASSERT_TRUE(WaitFor([&] { return port.package.ReceiveQueue()->Count() == 1; }));
    std::vector<char> in(36, 0);
    EXPECT_EQ(port.package.ReadPackage(in.data(), 0), 1u);
    std::uint32_t inLen = 0;
    std::memcpy(&inLen, in.data(), 4);
    EXPECT_EQ(inLen, 2u);
    EXPECT_EQ(std::string(in.data() + 4, 2), "ok");
}

TEST(PackageSettings, ChangingTheTypeDiscardsWaitingPackages) {
    PackagePort port(cptFrameTimeout);
    port.pty.WriteMaster("old");
    ASSERT_TRUE(WaitFor([&] { return port.ones.load() == 1; }));
    port.package.fSetPackageType(cptFrameHeadTail);
    EXPECT_TRUE(port.package.fGetActive());
    EXPECT_EQ(port.package.ReceiveQueue()->Count(), 0u);
}
