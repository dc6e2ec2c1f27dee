// The buffer behind "Load Configuration File". Reading a file (line-end folding, a missing file
// or a directory, the 4096-byte fit) is LoadTextFile's, tested with the protocol layer.
#include "tests/TempDir.h"
#include "console/ConfigBuffer.h"
#include "protocol/ConfigLines.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using evb::ConfigBuffer;
using evb::ConfigTextEnd;

// A short file over a long one keeps the long one's tail: the register console's file tests.
TEST(ConfigBufferLoad, TheEndSaysWhyTheTextStopsAndAFailedLoadLeavesTheBufferAlone) {
    TempDir dir;
    ConfigBuffer buffer(16);
    ASSERT_TRUE(buffer.load(dir.write("long.txt", ":W0101@\r\n:W0202@\r\n:W0303@\r\n")).ok);
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::BufferFull);
    const auto nul = buffer.load(dir.write("nul.txt", std::string(":W01@\n\0z", 8)));
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::Nul);
    EXPECT_EQ(buffer.loaded(nul).end, ConfigTextEnd::Nul);
    EXPECT_FALSE(buffer.load(dir.path.string()).ok);
    EXPECT_EQ(buffer.text(), ":W01@\n") << "a failed load leaves the buffer alone";
    buffer.clear();
    EXPECT_EQ(buffer.text(), "");
    EXPECT_EQ(buffer.textEnd(), ConfigTextEnd::Complete);
}

// The console lines that say what of a file was not loaded; "FILE" stands for its path.
TEST(ConfigBufferLoad, ProblemLinesNameTheFileAndWhatWasLost) {
    TempDir dir;
    const std::string fifo = (dir.path / "pipe.txt").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {dir.write("nul.txt", std::string(":W0101@\r\n:W0202@\r\n\0:W0303@\r\n", 28)),
         "File holds a NUL byte in line 3: FILE: the text from there on is not used\r\n"},
        {dir.write("big.txt", ":W0101@\r\n" + std::string(4200, 'z')),
         "File too long: FILE: only the first 4096 bytes loaded, 112 bytes not loaded\r\n"},
        // A pipe without a writer must not block the open, a device node must not be read for ever.
        {fifo, "File not loaded: FILE (FILE: not a regular file)\r\n"},
        {"/dev/zero", "File not loaded: FILE (FILE: not a regular file)\r\n"},
    };
    for (const auto& [path, expected] : cases) {
        ConfigBuffer buffer(evb::kConfigBufferSize);
        std::string line = ConfigBuffer::problemLine(path, buffer.load(path), buffer.capacity());
        for (std::size_t at; (at = line.find(path)) != std::string::npos;)
            line.replace(at, path.size(), "FILE");
        EXPECT_EQ(line, expected) << path;
    }
}
