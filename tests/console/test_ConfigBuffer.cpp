#include "TempDir.h"
#include "console/ConfigBuffer.h"
#include "protocol/ConfigLines.h"

#include <gtest/gtest.h>

using evb::ConfigBuffer;
using evb::ConfigTextEnd;

namespace {

std::string lines(int count, const char* eol) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        char line[16];
        std::snprintf(line, sizeof line, ":W%02X%02X@", i & 0xFF, (i >> 8) & 0xFF);
        text += line;
        text += eol;
    }
    return text;
}

} // namespace

TEST(ConfigBufferLoad, WindowsLineEndsArriveAsSingleLf) {
    TempDir dir;
    ConfigBuffer buffer(evb::kConfigBufferSize);
    const auto result = buffer.load(dir.write("a.txt", ":W0080@ reset\r\n:D0064@\r\n"));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(buffer.text(), ":W0080@ reset\n:D0064@\n");
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::Complete);
    EXPECT_EQ(ConfigBuffer::problemLine("a.txt", result, buffer.capacity()), "");
}

TEST(ConfigBufferLoad, FiveHundredTwelveCrLfLinesFitExactly) {
    TempDir dir;
    ConfigBuffer buffer(evb::kConfigBufferSize);
    const std::string raw = lines(512, "\r\n");
    ASSERT_EQ(raw.size(), 512u * 9u); // longer than the buffer before folding
    const auto result = buffer.load(dir.write("512.txt", raw));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.droppedBytes, 0u);
    EXPECT_EQ(buffer.text().size(), evb::kConfigBufferSize);
    EXPECT_EQ(buffer.text(), lines(512, "\n"));
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::Complete) << "full, but nothing was cut";
}

TEST(ConfigBufferLoad, ShortFileOverLongKeepsTheLongTail) {
    TempDir dir;
    ConfigBuffer buffer(evb::kConfigBufferSize);
    ASSERT_TRUE(buffer.load(dir.write("long.txt", ":W0101@\r\n:W0202@\r\n:W0303@\r\n")).ok);
    ASSERT_TRUE(buffer.load(dir.write("short.txt", ":W0909@\r\n")).ok);
    EXPECT_EQ(buffer.text(), ":W0909@\n:W0202@\n:W0303@\n");
}

TEST(ConfigBufferLoad, ClearEmptiesTheBuffer) {
    TempDir dir;
    ConfigBuffer buffer(64);
    ASSERT_TRUE(buffer.load(dir.write("a.txt", ":W0101@\n")).ok);
    buffer.clear();
    EXPECT_EQ(buffer.text(), "");
}

TEST(ConfigBufferLoad, LongerFileLoadsUpToTheBufferAndSaysHowMuchWasLeft) {
    TempDir dir;
    ConfigBuffer buffer(evb::kConfigBufferSize);
    const std::string folded = lines(520, "\n"); // 4160 bytes
    const std::string path = dir.write("big.txt", lines(520, "\r\n"));
    const auto result = buffer.load(path);
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(buffer.text(), folded.substr(0, evb::kConfigBufferSize));
    EXPECT_EQ(result.droppedBytes, folded.size() - evb::kConfigBufferSize);
    const std::string line = ConfigBuffer::problemLine(path, result, buffer.capacity());
    EXPECT_NE(line.find(path), std::string::npos);
    EXPECT_NE(line.find("64 bytes not loaded"), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::BufferFull);
    // A shorter file loaded over it leaves the cut tail at the buffer's end.
    ASSERT_TRUE(buffer.load(dir.write("short.txt", ":W0909@\r\n")).ok);
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::BufferFull);
    buffer.clear();
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::Complete);
}

TEST(ConfigBufferLoad, ANulByteOfTheFileEndsTheText) {
    TempDir dir;
    ConfigBuffer buffer(64);
    const auto result = buffer.load(dir.write("nul.txt", std::string(":W0101@\n:W02\0:W0303@\n", 20)));
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(buffer.text(), ":W0101@\n:W02");
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::Nul);
    EXPECT_EQ(buffer.loaded(result).end, ConfigTextEnd::Nul);
}

TEST(ConfigBufferLoad, UnreadableInputsAreNamedAndLeaveTheBufferAlone) {
    TempDir dir;
    ConfigBuffer buffer(64);
    ASSERT_TRUE(buffer.load(dir.write("a.txt", ":W0101@\n")).ok);
    for (const std::string& path : {dir.path().string(), (dir.path() / "missing.txt").string()}) {
        const auto result = buffer.load(path);
        EXPECT_FALSE(result.ok) << path;
        const std::string line = ConfigBuffer::problemLine(path, result, buffer.capacity());
        EXPECT_NE(line.find(path), std::string::npos) << line;
        EXPECT_EQ(buffer.text(), ":W0101@\n");
    }
}
