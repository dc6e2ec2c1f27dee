#include "protocol/ConfigLines.h"

#include "protocol/BoardCommand.h"
#include "protocol/Command.h"
#include "protocol/ConfigSender.h"
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
    ConfigSender sender(text, lineLimit, beginCount, report, hooks);
    sender.begin();
    for (;;) {
        if (hooks.stopRequested && hooks.stopRequested()) sender.stop();
        const ConfigSender::Step step = sender.next();
        if (step == ConfigSender::Step::Done) break;
        if (step == ConfigSender::Step::WaitDrained && BoardDevice()) BoardDevice()->WaitWriteDrained(SendTimeout());
    }
    return sender.result();
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
