#include "BoardLink.h"

#include <gtest/gtest.h>

std::string RecordingReport::Console() const {
    std::string all;
    for (const auto& s : console)
        all += s;
    return all;
}

evbsim::SimOptions SimFor(const LinkOptions& o) {
    evbsim::SimOptions s;
    s.pace = o.pace;
    s.baud = o.baud;
    return s;
}

BoardLink::BoardLink(LinkOptions options) : board(SimFor(options)) {
    EXPECT_TRUE(board.Start());
    device.fSetPortName(board.DevicePath());
    device.fSetBaudRate(options.baud);
    device.fSetPackageSize(8192);
    device.fSetPackageType(TalonComm::cptFrameTimeout);
    device.fSetPackageInterval(50);
    device.fSetSyncEvents(false);
    device.fSetUsePackage(true);
    if (options.outBufSize > 0) device.fSetOutBufSize(options.outBufSize);
    device.OnPackage = [this](TalonComm::TObject*, int type) {
        if (type != 1) return;
        std::lock_guard lock(m_mutex);
        ++m_packages;
        m_changed.notify_all();
    };
    device.OnCommNotify = [this](TalonComm::TObject*, int type) {
        if (!(type & TalonComm::evHangup)) return;
        std::lock_guard lock(m_mutex);
        m_hangup = true;
        m_changed.notify_all();
    };
    if (options.open) device.fSetActive(true);
    evb::SetBoardDevice(&device);
    evb::SetUserReport(&report);
    evb::BoardReady = 255;
    evb::ExpectedReply = 0;
    evb::SetSendTimeout(std::chrono::milliseconds(2000));
}

BoardLink::~BoardLink() {
    evb::SetBoardDevice(nullptr);
    evb::SetUserReport(nullptr);
    evb::SetSendTimeout(std::chrono::milliseconds(2000));
    evb::BoardReady = 255;
    if (device.fGetActive()) device.fSetActive(false);
    board.Stop();
}

bool BoardLink::WaitPackages(std::uint64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_packages > seen; });
}

std::uint64_t BoardLink::Packages() const {
    std::lock_guard lock(m_mutex);
    return m_packages;
}

bool BoardLink::WaitInactive(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return m_hangup; });
    return !device.fGetActive();
}
