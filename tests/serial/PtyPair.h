#pragma once
// A pseudo-terminal pair for tests: the test holds the master, the code under test opens the
// slave by path. The master is put in raw mode before anyone opens the slave (the two ends
// share one termios).

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace evbtest {

class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return m_slavePath; }
    int Master() const { return m_master; }
    void WriteMaster(const std::vector<unsigned char>& bytes);
    void WriteMaster(const std::string& text);
    // Reads until n bytes came or the deadline passed; returns what came.
    std::vector<unsigned char> ReadMaster(size_t n,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(5));
    void CloseMaster();

  private:
    int m_master = -1;
    std::string m_slavePath;
};

// Polls pred until it holds or the timeout passes, yielding between tries.
bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(5));

} // namespace evbtest
