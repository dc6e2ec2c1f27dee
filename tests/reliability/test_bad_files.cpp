// Bad configuration files chosen in the dialog, and a preset folder that is missing: a clear
// console line, no crash, and nothing on the wire that the user did not write.
#include "ReliabilityFixture.h"

#include <QRegularExpression>

#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kLoaded = QString::fromUtf8("Load Confuguration File\uFF1A\n");

class BadFileTest : public LinkedBoardFixture {
  protected:
    void SetUp() override {
        LinkedBoardFixture::SetUp();
        ASSERT_TRUE(files.isValid());
        chooseCodec("KV2440");
    }
    // Loads the file and checks that loading sent nothing; returns what the load added to the
    // console.
    QString loadOnly(const std::string& path) {
        click("ClrCMD");
        markFrames();
        load({QString::fromStdString(path)});
        EXPECT_EQ(sentSinceMark(), 0u) << "loading a file sent something";
        return consoleText();
    }
    // "Send Configuration": the records of every frame the board received for it.
    std::vector<std::array<std::uint8_t, 18>> send(std::size_t expected) {
        markFrames();
        click("kv2580mfrm/SDFileCMD");
        framesSinceMark(expected, 10s);
        settle();
        std::vector<std::array<std::uint8_t, 18>> records;
        for (const auto& f : framesLogged())
            records.push_back(f.record);
        EXPECT_EQ(records.size(), sentSinceMark());
        return records;
    }
    static std::array<std::uint8_t, 18> rec(std::initializer_list<std::uint8_t> head) {
        std::array<std::uint8_t, 18> r{};
        std::size_t i = 0;
        for (std::uint8_t b : head)
            r[i++] = b;
        return r;
    }
    // Only the batch's begin (count 1) and end reached the board.
    void expectEmptyBatch(const std::vector<std::array<std::uint8_t, 18>>& records) {
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0], rec({0x04, 0x00, 0x01}));
        EXPECT_EQ(records[1], rec({0x06}));
        EXPECT_TRUE(consoleHas(QString::fromUtf8("SET_TXT_LENGTH\uFF1A0\n")));
    }
};

TEST_F(BadFileTest, AnEmptyFileSendsAnEmptyBatchAndSaysSo) {
    const QString shown = loadOnly(writeFile("empty.txt", ""));
    EXPECT_EQ(shown, kLoaded);
    expectEmptyBatch(send(2));
    EXPECT_TRUE(consoleText().endsWith("Send the Confuguration  \n"));
}

TEST_F(BadFileTest, ABinaryFileSendsNoLineOfIt) {
    std::mt19937 rng(4);
    std::string bytes(64 * 1024, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng());
    bytes[0] = '\x7F'; // not a ':' : the first line is no command
    const QString shown = loadOnly(writeFile("firmware.bin", bytes));
    EXPECT_TRUE(shown.contains("File too long: ")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(kLoaded));
    expectEmptyBatch(send(2));
}

TEST_F(BadFileTest, ANulByteEndsTheTextAndTheConsoleSaysWhere) {
    const std::string path = writeFile("nul.txt", std::string(":W0101@\r\n:W0202@\r\n\0:W0303@\r\n", 28));
    const QString shown = loadOnly(path);
    EXPECT_TRUE(shown.contains(QString::fromStdString("File holds a NUL byte in line 3: " + path +
                                                      ": the text from there on is not used\n")))
        << shown.toStdString();
    const auto records = send(4);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1], rec({0x05, 0x00, 0x01, 0x01}));
    EXPECT_EQ(records[2], rec({0x05, 0x00, 0x02, 0x02}));
    EXPECT_EQ(records[3], rec({0x06}));
}

TEST_F(BadFileTest, ALineOf101CharactersWithoutAnAtIsAnErrorAndNothingIsSent) {
    // ":W0102" and 95 more characters: the '@' is missing, so the file is refused as a whole.
    const std::string longLine = ":W0102" + std::string(95, 'x');
    ASSERT_EQ(longLine.size(), 101u);
    const std::string path = writeFile("long-line.txt", longLine + "\r\n:W0303@\r\n");
    const QString shown = loadOnly(path);
    const QString error = QString::fromStdString(
        path + ":1: error: '@' must follow the four digits right away; column 7 holds 'x'\n");
    EXPECT_TRUE(shown.contains(error)) << shown.toStdString();
    EXPECT_TRUE(send(0).empty());
    EXPECT_EQ(consoleText().count(error), 2) << "named again when Send is pressed";
    EXPECT_TRUE(consoleText().endsWith(
        QString::fromStdString("Nothing was sent: " + path + " has an error in line 1\n")));
}

TEST_F(BadFileTest, ATenMegabyteFileIsCutAtTheBufferAndTheRestReported) {
    std::string bytes = ":W0101@\r\n:W0202@\r\nend\r\n";
    bytes.resize(10 * 1024 * 1024, 'z');
    const std::string path = writeFile("ten-megabytes.txt", bytes);
    const std::size_t rssBefore = reliability::MemoryInUse();
    const QString shown = loadOnly(path);
    EXPECT_LT(reliability::MemoryInUse() - std::min(rssBefore, reliability::MemoryInUse()),
              std::size_t{8} << 20)
        << "the whole file was held in memory";
    const std::size_t folded = bytes.size() - 3; // three CR LF become LF
    EXPECT_TRUE(shown.contains(QString::fromStdString(path) + ": only the first 4096 bytes loaded, " +
                               QString::number(folded - 4096) + " bytes not loaded"))
        << shown.toStdString();
    const auto records = send(4);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2], rec({0x05, 0x00, 0x02, 0x02}));
}

TEST_F(BadFileTest, ADirectoryIsNotLoadedAndSaysWhy) {
    const QString shown = loadOnly(files.path().toStdString());
    EXPECT_TRUE(shown.contains("File not loaded: " + files.path() + " (")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("Is a directory")) << shown.toStdString();
    expectEmptyBatch(send(2));
}

TEST_F(BadFileTest, AnUnreadableFileIsNotLoadedAndSaysWhy) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files of mode 000";
    const std::string path = writeFile("secret.txt", ":W0101@\r\n");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const QString shown = loadOnly(path);
    EXPECT_TRUE(shown.contains(QString::fromStdString("File not loaded: " + path + " (")))
        << shown.toStdString();
    EXPECT_TRUE(shown.contains("Permission denied")) << shown.toStdString();
    expectEmptyBatch(send(2));
}

// A named pipe or a device node picked in the dialog: no regular file, so it is refused at once
// instead of waiting for a writer or reading without end.
TEST_F(BadFileTest, APipeOrDeviceNodeIsRefusedAtOnce) {
    const std::string fifo = (files.path() + "/pipe.txt").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        const QString shown = loadOnly(path);
        EXPECT_TRUE(shown.contains(QString::fromStdString("File not loaded: " + path + " (")))
            << shown.toStdString();
        EXPECT_TRUE(shown.contains("not a regular file")) << shown.toStdString();
    }
    expectEmptyBatch(send(2));
}

TEST_F(BadFileTest, AMissingPresetFolderSendsAnEmptyBatchAndSaysWhere) {
    const std::string missing = (files.path() + "/no-such-folder").toStdString();
    evb::SetPresetSearchRoots({missing});
    chooseCodec("KV2330");
    markFrames();
    click("kv2580mfrm/ButtonA2");
    const auto frames = framesSinceMark(2);
    settle();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].record, rec({0x04, 0x00, 0x00}));
    EXPECT_EQ(frames[1].record, rec({0x06}));
    EXPECT_EQ(sentSinceMark(), 2u);
    EXPECT_TRUE(
        consoleHas(QString::fromStdString("Preset file not found: " + missing + "/KV2330/KV2330_Lin1.TXT\n")))
        << consoleText().right(300).toStdString();
}

} // namespace
