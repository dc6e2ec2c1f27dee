// The byte ring and the package-slot ring.

#include "serial/ETalonCommError.h"
#include "serial/TCommPackageQueue.h"
#include "serial/TCommQueue.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

using namespace TalonComm;

TEST(ByteQueue, RingOf8192HoldsExactly8191Bytes) {
    TCommQueue q(8192);
    std::vector<char> data(8192, 'x');
    EXPECT_EQ(q.In(data.data(), 8191), 8191);
    EXPECT_EQ(q.Remain(), 0);
    EXPECT_EQ(q.In(data.data(), 1), 0);
    EXPECT_EQ(q.In("y"), 0);
    EXPECT_EQ(q.Count(), 8191);
}

TEST(ByteQueue, BlockCrossingTheEndComesOutInOrder) {
    TCommQueue q(16);
    char sink[16];
    ASSERT_EQ(q.In("0123456789", 10), 10);
    ASSERT_EQ(q.Out(sink, 10), 10);
    const char text[] = "ABCDEFGHIJKL"; // 12 bytes: 6 before the end, 6 after
    ASSERT_EQ(q.In(text, 12), 12);
    char out[12];
    ASSERT_EQ(q.Out(out, 12), 12);
    EXPECT_EQ(std::memcmp(out, text, 12), 0);
    EXPECT_EQ(q.Count(), 0);
}

TEST(ByteQueue, BlockWriteIsShortenedToTheRoomLeft) {
    TCommQueue q(8);
    EXPECT_EQ(q.In("abcdefghij", 10), 7);
    char out[10];
    EXPECT_EQ(q.Out(out, 10), 7);
    EXPECT_EQ(std::string(out, 7), "abcdefg");
}

TEST(ByteQueue, RefusesNullSourcesAndNonPositiveCounts) {
    TCommQueue q(8);
    EXPECT_EQ(q.In(nullptr, 3), 0);
    EXPECT_EQ(q.In("abc", 0), 0);
    EXPECT_EQ(q.In("abc", -1), 0);
    char c;
    EXPECT_EQ(q.Out(&c), 0);
    EXPECT_EQ(q.Out(nullptr, 1), 0);
}

TEST(ByteQueue, SizeZeroLeavesNoRingAndMovesNothing) {
    TCommQueue q(8);
    q.SetBufSize(0);
    EXPECT_FALSE(q.IsValid());
    EXPECT_EQ(q.In("a", 1), 0);
    q.SetBufSize(4);
    EXPECT_TRUE(q.IsValid());
    EXPECT_EQ(q.In("abcd", 4), 3);
}

TEST(ByteQueue, ImpossibleSizeRaisesCode1AndKeepsTheOldRing) {
    TCommQueue q(8);
    try {
        q.SetBufSize(std::numeric_limits<long>::max());
        FAIL();
    } catch (const ETalonCommError& e) {
        EXPECT_EQ(e.ErrorCode(), 1);
        EXPECT_TRUE(e.PortName().empty());
    }
    EXPECT_TRUE(q.IsValid());
    EXPECT_EQ(q.BufSize(), 8);
    EXPECT_EQ(q.In("abcdefgh", 8), 7);
}

TEST(ByteQueue, DiscardDropsWaitingBytesOnly) {
    TCommQueue q(8);
    q.In("abc", 3);
    q.Discard();
    EXPECT_EQ(q.Count(), 0);
    q.In("de", 2);
    char out[4];
    EXPECT_EQ(q.Out(out, 4), 2);
    EXPECT_EQ(std::string(out, 2), "de");
}

TEST(PackageQueue, SizesHaveTheirMinimaAndCapacityIsOneLess) {
    TCommPackageQueue q(1, 8);
    EXPECT_EQ(q.QSize(), 2u);
    EXPECT_EQ(q.PkgSz(), 32u);
    EXPECT_EQ(q.InPackage("a", 1), 1);
    EXPECT_EQ(q.InPackage("b", 1), 0);
}

TEST(PackageQueue, PackagesComeOutWholeOrCutToTheCallerBuffer) {
    TCommPackageQueue q(4, 36);
    q.InPackage("hello", 5);
    q.InPackage("abc", 3);
    EXPECT_EQ(q.PeekLength(), 5);
    char buf[8];
    EXPECT_EQ(q.OutPackage(buf, 2), 2);
    EXPECT_EQ(std::string(buf, 2), "he");
    EXPECT_EQ(q.OutPackage(buf, 8), 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
    EXPECT_EQ(q.OutPackage(buf, 8), -1);
}

TEST(PackageQueue, ReadLooksAtTheIthWaitingSlotWithoutRemovingIt) {
    TCommPackageQueue q(4, 32);
    q.InPackage("x", 1);
    q.InPackage("yz", 2);
    std::vector<char> slot(32);
    ASSERT_EQ(q.Read(slot.data(), 1), 1);
    std::uint32_t len;
    std::memcpy(&len, slot.data(), 4);
    EXPECT_EQ(len, 2u);
    EXPECT_EQ(std::string(slot.data() + 4, 2), "yz");
    EXPECT_EQ(q.Read(slot.data(), 2), 0);
    EXPECT_EQ(q.Count(), 2u);
}

TEST(PackageQueue, OverlongPackageIsCutToTheSlot) {
    TCommPackageQueue q(2, 32);
    std::vector<char> big(100, 'q');
    q.InPackage(big.data(), 100);
    EXPECT_EQ(q.PeekLength(), 28);
}
