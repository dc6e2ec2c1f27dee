#include "PtyPair.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace evbtest {

PtyPair::PtyPair() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0) throw std::runtime_error("no slave name");
    m_slavePath = name;
    termios tio{};
    tcgetattr(m_master, &tio);
    cfmakeraw(&tio);
    tcsetattr(m_master, TCSANOW, &tio);
}

PtyPair::~PtyPair() {
    CloseMaster();
}

void PtyPair::CloseMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

void PtyPair::WriteMaster(const std::vector<unsigned char>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
            throw std::runtime_error("master write failed");
        } else {
            pollfd pfd{m_master, POLLOUT, 0};
            ::poll(&pfd, 1, 1000);
        }
    }
}

void PtyPair::WriteMaster(const std::string& text) {
    WriteMaster(std::vector<unsigned char>(text.begin(), text.end()));
}

std::vector<unsigned char> PtyPair::ReadMaster(size_t n, std::chrono::milliseconds timeout) {
    std::vector<unsigned char> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    unsigned char buf[4096];
    while (got.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd pfd{m_master, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t k = ::read(m_master, buf, std::min(sizeof buf, n - got.size()));
        if (k > 0)
            got.insert(got.end(), buf, buf + k);
        else if (k < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
    return got;
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return pred();
        std::this_thread::yield();
    }
    return true;
}

} // namespace evbtest
