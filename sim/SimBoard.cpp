#include "sim/SimBoard.h"

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace evbsim {

namespace {

using Clock = std::chrono::steady_clock;
using Nanos = std::chrono::nanoseconds;

constexpr std::uint8_t kStart = 0x3A;
constexpr std::uint8_t kEnd = 0x40;
constexpr std::size_t kFrameBytes = 20;
constexpr std::size_t kFrameLogLimit = 1u << 20;

// Register contents after power-on: register 0 (reset/ID on most codecs) reads 0, the others a
// fixed mixture that differs from register to register, so a misplaced byte shows in a test.
std::uint8_t powerOnValue(std::uint8_t reg) {
    if (reg == 0) return 0x00;
    return static_cast<std::uint8_t>((reg * 0x35u + 0x11u) & 0xFFu);
}

std::array<std::uint8_t, 256> powerOnRegisters() {
    std::array<std::uint8_t, 256> regs{};
    for (unsigned r = 0; r < 256; ++r)
        regs[r] = powerOnValue(static_cast<std::uint8_t>(r));
    return regs;
}

std::array<std::uint8_t, 18> defaultInfoRecord() {
    std::array<std::uint8_t, 18> info{};
    for (std::size_t i = 0; i < info.size(); ++i)
        info[i] = static_cast<std::uint8_t>(i);
    return info;
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Raw, no echo, no output processing: the simulated line carries bytes unaltered before the
// program configures the slave (it sets the same mode itself).
void makeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CREAD | CLOCAL;
    ::tcsetattr(fd, TCSANOW, &tio);
}

struct OutChunk {
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;
    Clock::time_point readyAt;
    bool unpaced = false; // babble: written as fast as the pseudo-terminal takes it
};

} // namespace

struct SimBoard::Impl {
    explicit Impl(SimOptions o) : options(o) {
        if (options.baud == 0) options.baud = 19200;
        byteTime = Nanos(10'000'000'000LL / options.baud);
    }

    SimOptions options;
    Nanos byteTime;

    // Guards everything below up to the thread handle; the board thread takes it briefly and
    // never while it blocks in poll or writes to the pseudo-terminal.
    mutable std::mutex mutex;
    mutable std::condition_variable changed;

    int masterFd = -1;
    int slaveKeepFd = -1; // held open so the master does not see POLLHUP while nobody listens
    int wakeFd = -1;
    std::string slavePath;
    std::string linkPath;
    bool running = false;
    bool hungUp = false;
    std::vector<int> retired; // descriptors the board thread closes (it may be polling them)
    std::thread thread;

    // Board state.
    std::map<std::uint8_t, std::array<std::uint8_t, 256>> registers;
    std::map<std::uint8_t, std::bitset<256>> readOnly; // status registers: writes leave them as they are
    BoardSnapshot snapshot;
    std::array<std::uint8_t, 18> info = defaultInfoRecord();

    // Receiver.
    std::vector<std::uint8_t> frameBuf;
    std::vector<ReceivedFrame> frames;

    // Transmitter.
    std::deque<OutChunk> out;
    std::uint64_t outEpoch = 0; // bumped whenever out is emptied from outside the board thread
    std::uint64_t bytesSent = 0;

    // Faults.
    int dropCount = 0;
    int corruptCount = 0;
    Nanos delay{0};
    bool withhold = false;
    bool stallReading = false;
    int truncateCount = 0;
    std::size_t truncateKeep = 0;
    int trailCount = 0;
    std::vector<std::uint8_t> trail;
    Nanos trailAfter{0};

    std::array<std::uint8_t, 256>& regsOf(std::uint8_t chip) {
        auto it = registers.find(chip);
        if (it == registers.end()) it = registers.emplace(chip, powerOnRegisters()).first;
        return it->second;
    }

    void writeRegister(std::uint8_t chip, std::uint8_t reg, std::uint8_t value) {
        if (!readOnly[chip].test(reg)) regsOf(chip)[reg] = value;
    }

    void wake() const {
        if (wakeFd < 0) return;
        std::uint64_t one = 1;
        [[maybe_unused]] auto r = ::write(wakeFd, &one, sizeof one);
    }

    bool openPty() {
        int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m < 0) return false;
        char name[128] = {};
        if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0) {
            ::close(m);
            return false;
        }
        int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (s < 0) {
            ::close(m);
            return false;
        }
        makeRaw(s);
        masterFd = m;
        slaveKeepFd = s;
        slavePath = name;
        hungUp = false;
        frameBuf.clear();
        return true;
    }

    bool publishLink() {
        if (linkPath.empty()) return true;
        struct stat st {};
        if (::lstat(linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) { // never replace a real file
                errno = EEXIST;
                return false;
            }
            ::unlink(linkPath.c_str());
        }
        return ::symlink(slavePath.c_str(), linkPath.c_str()) == 0;
    }

    void removeLink() {
        if (linkPath.empty()) return;
        struct stat st {};
        if (::lstat(linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(linkPath.c_str());
    }

    // --- called with the mutex held ---

    void queueReply(std::vector<std::uint8_t> reply, Clock::time_point now) {
        if (reply.empty()) return;
        if (withhold) return;
        if (dropCount > 0) {
            --dropCount;
            return;
        }
        if (truncateCount > 0) {
            --truncateCount;
            if (reply.size() > truncateKeep) reply.resize(truncateKeep);
            if (reply.empty()) return;
        }
        if (corruptCount > 0) {
            --corruptCount;
            for (auto& b : reply)
                b = static_cast<std::uint8_t>(~b);
        }
        if (trailCount > 0 && trailAfter.count() == 0) reply.insert(reply.end(), trail.begin(), trail.end());
        out.push_back(OutChunk{std::move(reply), 0, now + delay, false});
        if (trailCount > 0 && trailAfter.count() > 0)
            out.push_back(OutChunk{trail, 0, now + delay + trailAfter, false});
        trailCount = std::max(0, trailCount - 1);
    }

    std::vector<std::uint8_t> execute(const std::array<std::uint8_t, 18>& r) {
        BoardSnapshot& s = snapshot;
        const auto u16 = [](std::uint8_t hi, std::uint8_t lo) { return static_cast<unsigned>(hi << 8 | lo); };
        switch (r[0]) {
        case 0x00:
            writeRegister(s.chipAddress, r[1], r[2]);
            break;
        case 0x01: {
            const unsigned count = std::min(u16(r[2], r[3]), 256u);
            std::vector<std::uint8_t> reply(count);
            auto& regs = regsOf(s.chipAddress);
            for (unsigned i = 0; i < count; ++i)
                reply[i] = regs[(r[1] + i) & 0xFF];
            return reply;
        }
        case 0x02:
            if (r[1] < s.sdp.size()) s.sdp[r[1]] = r[2];
            break;
        case 0x04:
            s.batchOpen = true;
            s.batchDeclared = static_cast<std::uint16_t>(u16(r[1], r[2]));
            s.batchLines = 0;
            break;
        case 0x05:
            if (r[1] == 0x00) writeRegister(s.chipAddress, r[2], r[3]);
            ++s.batchLines;
            break;
        case 0x06:
            if (s.batchOpen) ++s.batchesCompleted;
            s.batchOpen = false;
            break;
        case 0x08:
            std::copy(r.begin() + 2, r.begin() + 10, s.spdif.format.begin());
            break;
        case 0x09:
            s.spdif.reset = r[1];
            break;
        case 0x0A:
            s.mclkSource = r[1];
            break;
        case 0x0C:
            s.spdif.txStop = r[1];
            break;
        case 0x0D:
            s.chipAddress = r[1];
            break;
        case 0x0E:
            s.commMode = r[1];
            break;
        case 0x58:
            return std::vector<std::uint8_t>(info.begin(), info.end());
        default:
            break;
        }
        return {0x00};
    }

    // Feeds received bytes through the frame parser. A frame is a start marker, 18 record bytes
    // and an end marker; when the end marker is missing, the start marker was garbage and the
    // search for the next start marker begins at the byte after it.
    void receive(const std::uint8_t* data, std::size_t n, Clock::time_point now) {
        bool any = false;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t b = data[i];
            if (frameBuf.empty() && b != kStart) {
                ++snapshot.garbageBytes;
                continue;
            }
            frameBuf.push_back(b);
            if (frameBuf.size() < kFrameBytes) continue;
            if (frameBuf.back() == kEnd) {
                ReceivedFrame f;
                std::copy(frameBuf.begin() + 1, frameBuf.begin() + 19, f.record.begin());
                f.at = now;
                if (frames.size() < kFrameLogLimit) frames.push_back(f);
                queueReply(execute(f.record), now);
                frameBuf.clear();
                any = true;
                continue;
            }
            // Resynchronise: drop the false start, rescan the rest for the next start marker.
            std::vector<std::uint8_t> rest(frameBuf.begin() + 1, frameBuf.end());
            frameBuf.clear();
            ++snapshot.garbageBytes;
            std::size_t k = 0;
            while (k < rest.size() && rest[k] != kStart) {
                ++snapshot.garbageBytes;
                ++k;
            }
            frameBuf.assign(rest.begin() + static_cast<std::ptrdiff_t>(k), rest.end());
        }
        if (any) changed.notify_all();
    }

    // --- the board thread ---

    void run() {
        std::vector<std::uint8_t> inBuf(4096);
        bool inBusy = false;                      // bytes are arriving on a paced line
        Clock::time_point inNext;                 // when the next paced byte has fully arrived
        Clock::time_point outNext = Clock::now(); // when the next paced byte may leave
        bool outStarted = false;                  // the front chunk has begun to leave
        bool outBlocked = false;                  // the pseudo-terminal's buffer is full: wait for POLLOUT

        for (;;) {
            int fd;
            std::optional<Clock::time_point> wakeAt;
            bool wantIn = false;
            bool wantOut = false;
            {
                std::unique_lock lock(mutex);
                if (!running) return;
                if (!retired.empty()) {
                    for (int& r : retired)
                        closeFd(r);
                    retired.clear();
                    inBusy = outStarted = outBlocked = false;
                    changed.notify_all();
                }
                fd = hungUp ? -1 : masterFd;
                const auto now = Clock::now();
                if (fd >= 0) {
                    wantIn = !stallReading && (!options.pace || !inBusy || now >= inNext);
                    if (!wantIn && !stallReading) wakeAt = inNext;
                    if (!out.empty()) {
                        const OutChunk& c = out.front();
                        Clock::time_point due = c.readyAt;
                        if (options.pace && !c.unpaced && outStarted) due = std::max(due, outNext);
                        if (outBlocked || due <= now)
                            wantOut = true;
                        else
                            wakeAt = wakeAt ? std::min(*wakeAt, due) : due;
                    }
                }
            }

            pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, 0, 0}};
            nfds_t nfds = 1;
            if (fd >= 0) {
                fds[1].events = static_cast<short>((wantIn ? POLLIN : 0) | (outBlocked ? POLLOUT : 0));
                nfds = 2;
            }
            // The pace is kept to the microsecond (a wait in whole milliseconds would make every
            // byte time up to a millisecond late).
            timespec wait{0, 0};
            const timespec* timeout = nullptr;
            if (wantOut && !outBlocked) {
                timeout = &wait;
            } else if (wakeAt) {
                const auto left =
                    std::max<Nanos>(Nanos(0), std::chrono::duration_cast<Nanos>(*wakeAt - Clock::now()));
                wait.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
                wait.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
                timeout = &wait;
            }
            const int pr = ::ppoll(fds, nfds, timeout, nullptr);
            if (pr < 0) continue; // EINTR; nothing else can fail with these descriptors
            if (fds[0].revents & POLLIN) {
                std::uint64_t v;
                [[maybe_unused]] auto r = ::read(wakeFd, &v, sizeof v);
            }
            if (fd < 0) continue;
            const auto now = Clock::now();
            if (fds[1].revents & POLLOUT) outBlocked = false;

            if (wantIn && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                std::size_t budget = inBuf.size();
                if (options.pace) {
                    if (!inBusy) {
                        inBusy = true;
                        inNext = now + byteTime; // the first byte on an idle line takes one byte time
                    }
                    budget = now >= inNext ? static_cast<std::size_t>(1 + (now - inNext) / byteTime) : 0;
                    budget = std::min(budget, inBuf.size());
                }
                if (budget > 0) {
                    const ssize_t n = ::read(fd, inBuf.data(), budget);
                    if (n > 0) {
                        std::lock_guard lock(mutex);
                        receive(inBuf.data(), static_cast<std::size_t>(n), now);
                    }
                    if (options.pace) {
                        int pending = 0;
                        if (n > 0 && ::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0)
                            inNext += byteTime * static_cast<long long>(n);
                        else
                            inBusy = false;
                    }
                    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                        // No slave end at all (cannot happen while ours is held): do not spin.
                        std::lock_guard lock(mutex);
                        hungUp = true;
                    }
                }
            }

            if (wantOut && !outBlocked) writeDue(fd, now, outNext, outStarted, outBlocked);
        }
    }

    void writeDue(int fd, Clock::time_point now, Clock::time_point& outNext, bool& outStarted,
                  bool& outBlocked) {
        std::vector<std::uint8_t> chunk;
        bool unpaced = false;
        std::uint64_t epoch = 0;
        {
            std::lock_guard lock(mutex);
            if (out.empty()) return;
            OutChunk& c = out.front();
            if (c.readyAt > now) return;
            unpaced = c.unpaced || !options.pace;
            std::size_t allowed = c.bytes.size() - c.offset;
            if (!unpaced) {
                if (!outStarted) {
                    // A byte is on the line for one byte time before the far end has it.
                    outNext = std::max(outNext, now + byteTime);
                    outStarted = true;
                }
                allowed = now >= outNext ? std::min<std::size_t>(allowed, static_cast<std::size_t>(
                                                                              1 + (now - outNext) / byteTime))
                                         : 0;
            }
            epoch = outEpoch;
            chunk.assign(c.bytes.begin() + static_cast<std::ptrdiff_t>(c.offset),
                         c.bytes.begin() + static_cast<std::ptrdiff_t>(c.offset + allowed));
        }
        if (chunk.empty()) return;
        const ssize_t n = ::write(fd, chunk.data(), chunk.size());
        std::lock_guard lock(mutex);
        if (out.empty() || outEpoch != epoch) return; // a hang-up emptied the queue meanwhile
        if (n > 0) {
            OutChunk& c = out.front();
            c.offset += static_cast<std::size_t>(n);
            bytesSent += static_cast<std::uint64_t>(n);
            if (!unpaced) outNext += byteTime * static_cast<long long>(n);
            if (c.offset >= c.bytes.size()) {
                out.pop_front();
                outStarted = false;
            }
            if (out.empty()) changed.notify_all();
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            outBlocked = true;
        } else if (n < 0 && errno != EINTR) {
            // Nobody can read the line any more: what is queued is lost.
            out.clear();
            outStarted = false;
            changed.notify_all();
        }
    }
};

SimBoard::SimBoard(SimOptions options) : m_impl(std::make_unique<Impl>(options)) {}

SimBoard::~SimBoard() {
    Stop();
}

bool SimBoard::Start() {
    Impl& d = *m_impl;
    std::lock_guard lock(d.mutex);
    if (d.running) return true;
    if (!d.openPty()) return false;
    d.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d.wakeFd < 0) {
        closeFd(d.masterFd);
        closeFd(d.slaveKeepFd);
        return false;
    }
    d.running = true;
    d.thread = std::thread([&d] { d.run(); });
    return true;
}

void SimBoard::Stop() {
    Impl& d = *m_impl;
    {
        std::lock_guard lock(d.mutex);
        if (!d.running) return;
        d.running = false;
        d.wake();
    }
    if (d.thread.joinable()) d.thread.join();
    std::lock_guard lock(d.mutex);
    d.removeLink();
    closeFd(d.masterFd);
    closeFd(d.slaveKeepFd);
    closeFd(d.wakeFd);
    d.out.clear();
    d.changed.notify_all();
}

bool SimBoard::Running() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->running;
}

std::string SimBoard::DevicePath() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->slavePath;
}

std::vector<ReceivedFrame> SimBoard::Frames() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->frames;
}

std::size_t SimBoard::FrameCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->frames.size();
}

void SimBoard::ClearFrames() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->frames.clear();
}

bool SimBoard::WaitForFrames(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, timeout, [&] { return m_impl->frames.size() >= n; });
}

bool SimBoard::WaitRepliesSent(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, timeout, [&] { return m_impl->out.empty(); });
}

BoardSnapshot SimBoard::State() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->snapshot;
}

std::uint8_t SimBoard::Register(std::uint8_t chipAddress, std::uint8_t reg) const {
    std::lock_guard lock(m_impl->mutex);
    auto it = m_impl->registers.find(chipAddress);
    return it == m_impl->registers.end() ? powerOnValue(reg) : it->second[reg];
}

void SimBoard::SetRegister(std::uint8_t chipAddress, std::uint8_t reg, std::uint8_t value) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->regsOf(chipAddress)[reg] = value;
}

void SimBoard::SetReadOnly(std::uint8_t chipAddress, std::uint8_t reg, bool readOnly) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->readOnly[chipAddress].set(reg, readOnly);
}

void SimBoard::SetInfoRecord(const std::array<std::uint8_t, 18>& record) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->info = record;
}

std::uint64_t SimBoard::BytesSent() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->bytesSent;
}

void SimBoard::DropReplies(int count) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->dropCount = std::max(0, count);
}

void SimBoard::CorruptReplies(int count) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->corruptCount = std::max(0, count);
}

void SimBoard::DelayReplies(std::chrono::milliseconds delay) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->delay = std::max(std::chrono::milliseconds(0), delay);
}

void SimBoard::WithholdReplies(bool on) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->withhold = on;
}

void SimBoard::StallReading(bool on) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->stallReading = on;
    m_impl->wake();
}

void SimBoard::TruncateReplies(int count, std::size_t keepBytes) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->truncateCount = std::max(0, count);
    m_impl->truncateKeep = keepBytes;
}

void SimBoard::TrailReplies(int count, const std::vector<std::uint8_t>& bytes,
                            std::chrono::milliseconds after) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->trailCount = std::max(0, count);
    m_impl->trail = bytes;
    m_impl->trailAfter = after;
}

void SimBoard::SendUnsolicited(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return;
    std::lock_guard lock(m_impl->mutex);
    // Out of turn: ahead of the replies that are still held back by a delay.
    auto& out = m_impl->out;
    const auto now = Clock::now();
    auto at = std::find_if(out.begin(), out.end(),
                           [now](const OutChunk& c) { return c.offset == 0 && c.readyAt > now; });
    out.insert(at, OutChunk{bytes, 0, now, false});
    m_impl->wake();
}

void SimBoard::Babble(std::size_t bytes, std::uint32_t seed) {
    if (bytes == 0) return;
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> noise(bytes);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(rng());
    std::lock_guard lock(m_impl->mutex);
    m_impl->out.push_back(OutChunk{std::move(noise), 0, Clock::now(), true});
    m_impl->wake();
}

void SimBoard::HangUp() {
    Impl& d = *m_impl;
    std::unique_lock lock(d.mutex);
    if (d.hungUp || d.masterFd < 0) return;
    d.hungUp = true;
    d.out.clear();
    ++d.outEpoch;
    d.frameBuf.clear();
    if (!d.running) {
        closeFd(d.slaveKeepFd);
        closeFd(d.masterFd);
        return;
    }
    // The board thread may be blocked in poll on the master: it closes the descriptors itself,
    // and the slave has seen the hang-up once this returns.
    d.retired.push_back(std::exchange(d.slaveKeepFd, -1));
    d.retired.push_back(std::exchange(d.masterFd, -1));
    d.wake();
    d.changed.wait(lock, [&] { return d.retired.empty() || !d.running; });
}

bool SimBoard::Reconnect() {
    HangUp();
    Impl& d = *m_impl;
    std::lock_guard lock(d.mutex);
    if (!d.running) return false;
    if (!d.openPty()) return false;
    d.publishLink();
    d.wake();
    return true;
}

bool SimBoard::Link(const std::string& linkPath) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->removeLink();
    m_impl->linkPath = linkPath;
    if (m_impl->slavePath.empty()) return true;
    return m_impl->publishLink();
}

} // namespace evbsim
