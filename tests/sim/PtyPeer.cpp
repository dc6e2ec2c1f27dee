#include "PtyPeer.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

PtyPeer::PtyPeer(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) return;
    termios tio{};
    ::tcgetattr(m_fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_fd, TCSANOW, &tio);
}

PtyPeer::~PtyPeer() {
    if (m_fd >= 0) ::close(m_fd);
}

bool PtyPeer::Write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        pollfd p{m_fd, POLLOUT, 0};
        if (Clock::now() >= deadline || ::poll(&p, 1, 1000) < 0) return false;
    }
    return true;
}

bool PtyPeer::WriteFrame(const std::array<std::uint8_t, 18>& record) {
    std::vector<std::uint8_t> frame{0x3A};
    frame.insert(frame.end(), record.begin(), record.end());
    frame.push_back(0x40);
    return Write(frame);
}

std::vector<std::uint8_t> PtyPeer::ReadExactly(std::size_t n, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> got;
    const auto deadline = Clock::now() + timeout;
    while (got.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        std::uint8_t buf[512];
        const ssize_t r = ::read(m_fd, buf, std::min(sizeof buf, n - got.size()));
        if (r > 0)
            got.insert(got.end(), buf, buf + r);
        else if (r == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return got;
}

bool PtyPeer::WaitHangUp(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        if (p.revents & (POLLHUP | POLLERR)) return true;
        std::uint8_t b;
        const ssize_t r = ::read(m_fd, &b, 1);
        if (r == 0 || (r < 0 && errno == EIO)) return true;
    }
}

std::array<std::uint8_t, 18> Record(std::initializer_list<std::uint8_t> leading) {
    std::array<std::uint8_t, 18> r{};
    std::size_t i = 0;
    for (auto b : leading)
        r[i++] = b;
    return r;
}
