#include "serial/TNetLine.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace TalonComm {

using namespace Telnet;

namespace {

constexpr long kRawChunk = 4096;
// A server that refuses a client (one is connected already) says so at once and closes.
constexpr int kRefusalLookMs = 25;

// Our acknowledgements go out at once instead of up to 40 ms late. A server that leaves Nagle's
// rule on (ser2net does by default) holds its next small segment (an answer, a reply byte) until
// the previous one is acknowledged. The kernel leaves quick mode by itself, so it is asked again
// after every receive.
void quickAck(int fd) {
    const int one = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

std::string systemReason(int err) {
    char buf[256];
    return strerror_r(err, buf, sizeof buf);
}

bool startsWithNoCase(const std::string& s, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    return s.size() >= n && ::strncasecmp(s.c_str(), prefix, n) == 0;
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

std::string secondsText(int ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

} // namespace

bool TNetLine::Parse(const std::string& name, TAddress& a, std::string& error) {
    std::string rest;
    if (startsWithNoCase(name, "tcp://")) {
        a.Kind = TKind::Raw;
        rest = name.substr(6);
    } else if (startsWithNoCase(name, "rfc2217://")) {
        a.Kind = TKind::Rfc2217;
        rest = name.substr(10);
    } else {
        return false;
    }
    error.clear();
    std::size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            error = "an IPv6 address is written [ADDRESS]:PORT";
            return true;
        }
        a.Host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon) {
            error = "a network port is named HOST:PORT (an IPv6 address in brackets)";
            return true;
        }
        a.Host = rest.substr(0, colon);
    }
    a.Port = rest.substr(colon + 1);
    if (!a.Port.empty() && a.Port.back() == '/') a.Port.pop_back();
    const bool digits = !a.Port.empty() && a.Port.size() <= 5 &&
                        std::all_of(a.Port.begin(), a.Port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (a.Host.empty())
        error = "the host is missing";
    else if (!digits || std::stoi(a.Port) < 1 || std::stoi(a.Port) > 65535)
        error = "the port must be a number from 1 to 65535";
    return true;
}

bool TNetLine::IsNetName(const std::string& name) {
    TAddress a;
    std::string error;
    return Parse(name, a, error);
}

TNetLine::TNetLine(int timeoutMs) : m_timeoutMs(timeoutMs) {
    m_modemFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TNetLine::~TNetLine() {
    if (m_modemFd >= 0) ::close(m_modemFd);
}

void TNetLine::note(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_noteMutex);
    if (!m_note.empty()) m_note += "; ";
    m_note += text;
}

std::string TNetLine::TakeNote() {
    std::lock_guard<std::mutex> lock(m_noteMutex);
    return std::exchange(m_note, std::string());
}

// ---- connecting ----

int TNetLine::connectTo(const TAddress& a, std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    if (const int rc = ::getaddrinfo(a.Host.c_str(), a.Port.c_str(), &hints, &list); rc != 0) {
        reason = a.Host + ": " + (rc == EAI_SYSTEM ? systemReason(errno) : ::gai_strerror(rc));
        return -1;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);
    int err = ETIMEDOUT;
    int fd = -1;
    for (addrinfo* ai = list; ai && fd < 0 && Clock::now() < deadline; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            err = errno;
            continue;
        }
        int rc = ::connect(fd, ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            while ((rc = ::poll(&p, 1, remainingMs(deadline))) < 0 && errno == EINTR) {
            }
            socklen_t len = sizeof err;
            if (rc == 0)
                err = ETIMEDOUT;
            else if (rc < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                err = errno;
            rc = err == 0 ? 0 : -1;
        } else if (rc != 0) {
            err = errno;
        }
        if (rc != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(list);
    if (fd < 0) {
        reason = err == ETIMEDOUT ? "no connection to " + m_where + " within " + secondsText(m_timeoutMs)
                                  : m_where + ": " + systemReason(err);
        return -1;
    }
    // Frames go out as they are written; a peer that vanished without a word (a cut cable, a
    // machine switched off) is found by keepalive within about half a minute.
    const int one = 1, idle = 10, interval = 5, count = 3;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    quickAck(fd);
    (void)::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    return fd;
}

std::string TNetLine::refusedReason(const std::string& said) {
    std::string text = said.substr(0, 80);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    if (text.find("in use") != std::string::npos)
        return "in use: " + m_where + " serves another client already (the server says \"" + text + "\")";
    return m_where + " closed the connection" + (text.empty() ? std::string() : " (\"" + text + "\")");
}

int TNetLine::Connect(const std::string& name, std::string& reason) {
    TAddress a;
    if (!Parse(name, a, reason) || !reason.empty()) {
        if (reason.empty()) reason = "not a network port name";
        return -1;
    }
    m_kind = a.Kind;
    m_where = (a.Host.find(':') != std::string::npos ? "[" + a.Host + "]" : a.Host) + ":" + a.Port;
    if (m_modemFd < 0) {
        reason = systemReason(errno);
        return -1;
    }
    const int fd = connectTo(a, reason);
    if (fd < 0) return -1;
    m_fd = fd;
    bool ok = true;
    if (m_kind == TKind::Raw) {
        // Nothing is said on a raw port, except by a server that turns this client away.
        pollfd p{fd, POLLIN, 0};
        char peek[96];
        long n = -1;
        if (::poll(&p, 1, kRefusalLookMs) > 0) n = ::recv(fd, peek, sizeof peek, MSG_PEEK);
        if (n == 0 || (n > 0 && std::string(peek, static_cast<std::size_t>(n)).find("in use") != std::string::npos)) {
            reason = refusedReason(std::string(peek, static_cast<std::size_t>(std::max(0L, n))));
            ok = false;
        }
    } else {
        send(fd, m_codec.Hello(), m_timeoutMs);
        const auto deadline = Clock::now() + std::chrono::milliseconds(m_timeoutMs);
        pumpUntil([&] { return m_codec.ComPortAgreed() || m_codec.ComPortRefused(); }, deadline);
        if (m_closed) {
            reason = refusedReason(m_inData);
            ok = false;
        } else if (m_codec.ComPortRefused()) {
            reason = m_where + " refuses COM-PORT-OPTION (RFC 2217): use tcp:// for a raw port";
            ok = false;
        } else if (!m_codec.ComPortAgreed()) {
            reason = m_where + " did not agree to RFC 2217 within " + secondsText(m_timeoutMs) +
                     ": a raw TCP port is named tcp://";
            ok = false;
        } else {
            // Modem-line changes and line errors are reported; data-ready and the transmitter
            // states are not worth a message each.
            send(fd, TTelnetCodec::Request(cpSetLineStateMask, 0x1E) + TTelnetCodec::Request(cpSetModemStateMask, 0xFF),
                 m_timeoutMs);
        }
    }
    if (!ok) {
        ::close(fd);
        m_fd = -1;
        return -1;
    }
    return fd;
}

bool TNetLine::pumpUntil(const std::function<bool()>& done, Clock::time_point deadline) {
    std::uint8_t raw[kRawChunk];
    while (true) {
        std::string data, reply;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (done()) return true;
        }
        if (m_closed) return false;
        pollfd p{m_fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, remainingMs(deadline));
        if (rc == 0) return false;
        if (rc < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        const long n = ::recv(m_fd, raw, sizeof raw, 0);
        quickAck(m_fd);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            m_closed = true;
            continue;
        }
        if (n < 0) continue;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            feed(raw, static_cast<std::size_t>(n), data, reply);
            m_inData += data;
            m_haveData.store(!m_inData.empty(), std::memory_order_release);
        }
        if (!reply.empty()) send(m_fd, reply, m_timeoutMs);
    }
}

// With m_mutex held.
void TNetLine::feed(const std::uint8_t* raw, std::size_t n, std::string& data, std::string& reply) {
    m_codec.Feed(raw, n, data, reply);
    if (m_codec.ModemChanges() != m_modemSeen) {
        m_modemSeen = m_codec.ModemChanges();
        const std::uint64_t one = 1;
        while (::write(m_modemFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    if (m_probesPending > 0 && m_codec.Answers(cpSetBaudRate) >= m_probeAnswer) {
        m_probesPending = 0;
        if (m_codec.Answers(cpSetControl) < m_controlsAsked && !m_noAnswerNoted) {
            m_noAnswerNoted = true;
            note("the server does not acknowledge DTR/RTS/break requests (as in front of a pseudo-terminal); "
                 "going on without");
        }
    }
}

// ---- sending ----

bool TNetLine::flushPendingLocked(int fd) {
    while (!m_outPending.empty()) {
        const long n = ::send(fd, m_outPending.data(), m_outPending.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        m_outPending.erase(0, static_cast<std::size_t>(n));
    }
    return true;
}

void TNetLine::send(int fd, const std::string& bytes, int waitMs) {
    std::lock_guard<std::mutex> lock(m_sendMutex);
    m_outPending += bytes;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (!flushPendingLocked(fd) && errno == EAGAIN) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, remainingMs(deadline)) <= 0) break;
    }
}

long TNetLine::Write(int fd, const void* buf, std::size_t n) {
    if (m_kind == TKind::Raw) return static_cast<long>(::send(fd, buf, n, MSG_NOSIGNAL | MSG_DONTWAIT));
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (!flushPendingLocked(fd)) return -1;
    std::string wire;
    TTelnetCodec::Escape(buf, n, wire);
    const long sent = ::send(fd, wire.data(), wire.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) return -1;
    // The bytes are taken; the socket gets the rest of their encoding before anything else.
    m_outPending.assign(wire, static_cast<std::size_t>(sent));
    return static_cast<long>(n);
}

int TNetLine::OutQueue(int) {
    std::lock_guard<std::mutex> lock(m_sendMutex);
    return static_cast<int>(m_outPending.size());
}

int TNetLine::WaitDrained(int fd) {
    std::unique_lock<std::mutex> lock(m_sendMutex);
    while (!flushPendingLocked(fd)) {
        if (errno != EAGAIN) return errno;
        lock.unlock();
        // Interrupted by the engine's stop signal like the driver's own wait.
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, -1) < 0) return errno;
        lock.lock();
    }
    return 0;
}

// ---- receiving ----

long TNetLine::Read(int fd, void* buf, std::size_t n) {
    if (m_kind == TKind::Raw) {
        const long got = ::recv(fd, buf, n, 0);
        quickAck(fd);
        return got;
    }
    std::string data, reply;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_inData.empty()) {
            const std::size_t k = std::min(n, m_inData.size());
            std::memcpy(buf, m_inData.data(), k);
            m_inData.erase(0, k);
            m_haveData.store(!m_inData.empty(), std::memory_order_release);
            return static_cast<long>(k);
        }
        std::uint8_t raw[kRawChunk];
        const long got = ::recv(fd, raw, std::min<std::size_t>(n, sizeof raw), 0);
        quickAck(fd);
        if (got <= 0) return got;
        // Decoded data is never longer than what it came in.
        feed(raw, static_cast<std::size_t>(got), data, reply);
    }
    if (!reply.empty()) send(fd, reply, kAnswerWaitMs);
    if (data.empty()) {
        errno = EAGAIN;
        return -1;
    }
    std::memcpy(buf, data.data(), data.size());
    return static_cast<long>(data.size());
}

int TNetLine::Poll(pollfd* fds, unsigned long n, int timeoutMs) {
    // Bytes decoded while opening are not in the socket any more: they make it readable.
    if (m_haveData.load(std::memory_order_acquire)) {
        int ready = 0;
        for (unsigned long i = 0; i < n; ++i) {
            fds[i].revents = (fds[i].fd == m_fd && (fds[i].events & POLLIN)) ? POLLIN : 0;
            ready += fds[i].revents != 0;
        }
        if (ready) return ready;
    }
    return ::poll(fds, static_cast<nfds_t>(n), timeoutMs);
}

// ---- line settings and controls ----

bool TNetLine::ApplyLine(int fd, const TCommDcb& dcb, std::uint32_t& speedTaken) {
    speedTaken = dcb.BaudRate;
    // A raw port has no line settings to carry: they are the server's.
    if (m_kind == TKind::Raw) return true;
    static const std::uint8_t kParity[] = {1, 2, 3, 4, 5};
    static const std::uint8_t kStop[] = {1, 3, 2};
    // No flow control is asked by saying nothing: a server may take the request for "none" as
    // one for XON/XOFF, which would then eat those two byte values of the data.
    const std::string flow = dcb.fOutxCtsFlow ? TTelnetCodec::Request(cpSetControl, kHardwareFlow)
                             : dcb.fOutX      ? TTelnetCodec::Request(cpSetControl, kXonXoffFlow)
                                              : std::string();
    std::uint32_t answers = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        answers = m_codec.Answers(cpSetBaudRate);
    }
    send(fd,
         TTelnetCodec::BaudRate(dcb.BaudRate) + TTelnetCodec::Request(cpSetDataSize, dcb.ByteSize) +
             TTelnetCodec::Request(cpSetParity, kParity[std::min<std::uint8_t>(dcb.Parity, 4)]) +
             TTelnetCodec::Request(cpSetStopSize, kStop[std::min<std::uint8_t>(dcb.StopBits, 2)]) + flow,
         m_timeoutMs);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerWaitMs);
    if (pumpUntil([&] { return m_codec.Answers(cpSetBaudRate) > answers; }, deadline)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        // 0 answers "the rate stays as it was": the server keeps what it was told.
        if (m_codec.BaudAnswered() != 0) speedTaken = m_codec.BaudAnswered();
    } else if (!m_closed) {
        note("the server did not confirm the baud rate");
    }
    if (m_closed) {
        // A server that turns a second client away does so right after the options are agreed.
        m_failure = refusedReason(m_inData);
        errno = ECONNRESET;
    }
    return !m_closed;
}

bool TNetLine::request(int fd, std::uint8_t command, std::uint8_t value) {
    if (m_kind == TKind::Raw) return false;
    // Nothing waits for the answer: a query of the baud rate follows, which every server
    // answers, in the order asked. When its answer comes before this one's, this one has none.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_controlsAsked;
        m_probeAnswer = m_codec.Answers(cpSetBaudRate) + 1;
        ++m_probesPending;
    }
    send(fd, TTelnetCodec::Request(command, value) + TTelnetCodec::BaudRate(0), kAnswerWaitMs);
    return true;
}

bool TNetLine::SetDtr(int fd, bool on) {
    return request(fd, cpSetControl, on ? kDtrOn : kDtrOff);
}

bool TNetLine::SetRts(int fd, bool on) {
    return request(fd, cpSetControl, on ? kRtsOn : kRtsOff);
}

bool TNetLine::SetBreak(int fd, bool on) {
    return request(fd, cpSetControl, on ? kBreakOn : kBreakOff);
}

bool TNetLine::SetXon(int fd, bool on) {
    if (m_kind == TKind::Raw) return false;
    send(fd, TTelnetCodec::Request(on ? cpFlowResume : cpFlowSuspend, nullptr, 0), kAnswerWaitMs);
    return true;
}

bool TNetLine::Flush(int fd, bool input) {
    // Raw TCP has no purge. Bytes already encoded for the socket stay: a chunk's cut tail could
    // not be told from a command.
    if (m_kind == TKind::Raw) return true;
    if (input) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_inData.clear();
        m_haveData.store(false, std::memory_order_release);
    }
    send(fd, TTelnetCodec::Request(cpPurgeData, input ? kPurgeReceive : kPurgeTransmit), kAnswerWaitMs);
    return true;
}

bool TNetLine::ModemStatus(int, std::uint32_t& status) {
    if (m_kind == TKind::Raw) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    status = m_codec.ModemStatus();
    return true;
}

int TNetLine::WaitModemChange(int) {
    if (m_kind == TKind::Raw) return ENOTTY;
    // Woken by a notification, or (like the driver's own wait) by the engine's stop signal.
    pollfd p{m_modemFd, POLLIN, 0};
    if (::poll(&p, 1, -1) < 0) return errno;
    std::uint64_t v;
    (void)::read(m_modemFd, &v, sizeof v);
    return 0;
}

bool TNetLine::Counters(int, TLineCounters& counters) {
    if (m_kind == TKind::Raw) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    counters = m_codec.Counters();
    return true;
}

} // namespace TalonComm
