#include "protocol/ConfigLines.h"

#include "protocol/BoardCommand.h"
#include "protocol/Command.h"
#include "serial/TRkCommDevice.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace evb {

namespace {

constexpr std::size_t kMaxCopiedWithoutEnd = 101;
constexpr std::size_t kStoredChars = 7;             // ':' up to and including '@'
const std::string kFullWidthColon = "\xEF\xBC\x9A"; // U+FF1A in UTF-8

bool portActive() {
    return BoardDevice() != nullptr && BoardDevice()->fGetActive();
}

} // namespace

std::vector<ConfigRecord> ParseConfigLines(std::string_view text, int lineLimit,
                                           std::vector<std::size_t>* starts) {
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    std::vector<ConfigRecord> records;
    std::size_t p = 0;
    bool more = !text.empty();
    while (more && static_cast<int>(records.size()) < lineLimit) {
        ConfigRecord rec{};
        if (starts) starts->push_back(p);
        std::size_t copied = 0;
        bool atSeen = false;
        for (;;) {
            if (p >= text.size()) {
                more = false;
                break;
            }
            const char c = text[p];
            if (c == '\n') {
                ++p;
                more = p < text.size() && text[p] == ':';
                break;
            }
            ++p;
            if (atSeen) continue; // the comment after '@' is scanned over, not stored
            // Only ':' .. '@' are kept; characters between the fifth digit and '@' are ignored.
            if (copied < kStoredChars) rec[copied] = c;
            ++copied;
            if (c == '@') {
                atSeen = true;
                rec[7] = '\n';
            } else if (copied == kMaxCopiedWithoutEnd) {
                break; // an over-long line: the next record begins at the next character
            }
        }
        records.push_back(rec);
    }
    return records;
}

int CountCommandLines(const std::vector<ConfigRecord>& records) {
    int n = 0;
    for (const ConfigRecord& r : records) {
        if (r[0] != ':') break;
        ++n;
    }
    return n;
}

ConfigSendResult SendConfigLines(std::string_view text, int lineLimit, int beginCount, bool report,
                                 const ConfigSendHooks& hooks) {
    const std::vector<ConfigRecord> records = ParseConfigLines(text, lineLimit);
    ConfigSendResult result;
    const int n = CountCommandLines(records);
    result.commandLines = n;
    IUserReport* out = UserReport();
    const auto progress = [&](int position) {
        if (hooks.setProgress) hooks.setProgress(position);
    };

    if (hooks.setProgressMaximum) hooks.setProgressMaximum(n);
    // Only a port that goes away during the send stops it; a port closed from the start gets
    // the usual "not active" report from each command.
    const bool activeAtStart = portActive();
    if (CmdBatchBegin(static_cast<std::uint16_t>(beginCount < 0 ? n : beginCount))) ++result.framesNotSent;
    if (report && out) out->ConsoleAppend("SET_TXT_LENGTH" + kFullWidthColon + std::to_string(n) + "\r\n");

    int linesSent = 0;
    for (int i = 0; i < n; ++i) {
        if (activeAtStart && !portActive()) {
            result.aborted = true;
            break;
        }
        const ConfigRecord& r = records[static_cast<std::size_t>(i)];
        const std::uint8_t a = HexPairToByte(r[2], r[3]);
        const std::uint8_t b = HexPairToByte(r[4], r[5]);
        bool notSent = false;
        switch (r[1]) {
        case 'W':
        case 'w':
            notSent = CmdBatchWriteReg(a, b);
            if (!notSent) {
                progress(i);
                // Spaces the register writes on the link: the next frame follows once this
                // one has left for the wire.
                if (BoardDevice()) BoardDevice()->WaitWriteDrained(SendTimeout());
            }
            break;
        case 'D':
        case 'd':
            notSent = CmdBatchDelay(static_cast<std::uint16_t>(a * 256 + b));
            if (!notSent) progress(i);
            break;
        case 'G':
        case 'g':
            notSent = CmdBatchG(a, b);
            if (!notSent) progress(i);
            break;
        default: // 'C' and unknown letters: the line only counts
            continue;
        }
        if (notSent)
            ++result.framesNotSent;
        else
            ++linesSent;
    }
    if (activeAtStart && !portActive()) result.aborted = true; // the end frame could not go either

    if (result.aborted) {
        progress(0);
        if (out)
            out->ConsoleAppend("Send stopped: the port closed after " + std::to_string(linesSent) + " of " +
                               std::to_string(n) + " lines were sent\r\n");
        return result;
    }
    if (CmdBatchEnd()) ++result.framesNotSent;
    progress(0);
    if (report && out) out->ConsoleAppend("Send the Confuguration  \r\n");
    return result;
}

TextLoad LoadTextFile(const std::string& path, std::size_t capacity) {
    TextLoad load;
    // Non-blocking, so that a named pipe without a writer cannot hold the caller in open().
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        load.error = path + ": " + std::strerror(errno);
        return load;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        load.error = path + ": " + std::strerror(EISDIR);
        return load;
    }
    // Pipes and device nodes (a FIFO, /dev/zero) could keep the reader waiting or reading for
    // ever: only regular files are configuration files.
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        load.error = path + ": not a regular file";
        return load;
    }
    char buf[8192];
    bool pendingCr = false; // a CR at the end of one chunk may pair with an LF in the next
    bool first = true;
    const auto put = [&](char c) {
        if (load.text.size() < capacity)
            load.text.push_back(c);
        else
            ++load.droppedBytes;
    };
    for (;;) {
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            load.error = path + ": " + std::strerror(errno);
            ::close(fd);
            load.text.clear();
            load.droppedBytes = 0;
            return load;
        }
        if (r == 0) break;
        ssize_t i = 0;
        // A UTF-8 byte-order mark, which many editors write, is not part of the text.
        if (first && r >= 3 && std::memcmp(buf, "\xEF\xBB\xBF", 3) == 0) i = 3;
        first = false;
        for (; i < r; ++i) {
            const char c = buf[i];
            if (pendingCr) {
                pendingCr = false;
                if (c != '\n') put('\r');
            }
            if (c == '\r')
                pendingCr = true;
            else
                put(c);
        }
    }
    if (pendingCr) put('\r');
    ::close(fd);
    load.ok = true;
    return load;
}

} // namespace evb
