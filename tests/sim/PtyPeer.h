#pragma once
// The program's side of the simulated line for tests that must not depend on the serial
// layer: the slave of the board's pseudo-terminal, opened and read with plain POSIX calls.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class PtyPeer {
  public:
    explicit PtyPeer(const std::string& path);
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    bool Write(const std::vector<std::uint8_t>& bytes);
    bool WriteFrame(const std::array<std::uint8_t, 18>& record);
    // Reads until n bytes have arrived or the deadline passed; returns what arrived.
    std::vector<std::uint8_t> ReadExactly(std::size_t n, std::chrono::milliseconds timeout);
    // True when the line reports a hang-up (POLLHUP, EIO or end of file) before the deadline.
    bool WaitHangUp(std::chrono::milliseconds timeout);

  private:
    int m_fd = -1;
};

std::array<std::uint8_t, 18> Record(std::initializer_list<std::uint8_t> leading);
