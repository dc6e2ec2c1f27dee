#pragma once
// A simulated board and the program's serial device opened on its pseudo-terminal, set up as
// the console sets up its port (time-out packages of 50 ms, events on the worker thread), and
// installed as the protocol layer's device and report sink for the lifetime of the object.

#include "protocol/BoardCommand.h"
#include "serial/TRkCommDevice.h"
#include "sim/SimBoard.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

// Records what the protocol layer tells the user. Called on the sending thread only.
class RecordingReport : public evb::IUserReport {
  public:
    void ConsoleAppend(const std::string& text) override { console.push_back(text); }
    void ShowWarning(const std::string& line1, const std::string& line2) override {
        warnings.push_back(line1 + "|" + line2);
    }
    std::string Console() const;

    std::vector<std::string> console;
    std::vector<std::string> warnings;
};

struct LinkOptions {
    bool pace = false;
    std::uint32_t baud = 19200;
    long outBufSize = 0; // 0: the device's default
    bool open = true;
};

class BoardLink {
  public:
    explicit BoardLink(LinkOptions options = {});
    ~BoardLink();
    BoardLink(const BoardLink&) = delete;
    BoardLink& operator=(const BoardLink&) = delete;

    // Waits until the device has completed more than seen packages.
    bool WaitPackages(std::uint64_t seen, std::chrono::milliseconds timeout);
    std::uint64_t Packages() const;
    // Waits until the device reports the port inactive.
    bool WaitInactive(std::chrono::milliseconds timeout);

  private:
    // Declared before the device: its event handlers use them until the device is gone.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_packages = 0;
    bool m_hangup = false;

  public:
    evbsim::SimBoard board;
    RecordingReport report;
    TalonComm::TRkCommDevice device; // destroyed first
};

evbsim::SimOptions SimFor(const LinkOptions& o);
