#include "console/ConfigSendRun.h"

#include "protocol/BoardCommand.h"
#include "serial/TRkCommDevice.h"

#include <chrono>

namespace {
constexpr int kFallbackMs = 25;
}

ConfigSendRun::ConfigSendRun(std::unique_ptr<evb::ConfigSender> sender, std::function<void()> finished,
                             QObject* parent)
    : QObject(parent), m_sender(std::move(sender)), m_finished(std::move(finished)) {
    m_fallback.setInterval(kFallbackMs);
    connect(&m_fallback, &QTimer::timeout, this, &ConfigSendRun::checkDrained);
}

ConfigSendRun::~ConfigSendRun() = default;

void ConfigSendRun::start() {
    m_sender->begin();
    scheduleStep();
}

void ConfigSendRun::stop() {
    m_sender->stop();
}

void ConfigSendRun::TransmitterEmpty() {
    if (m_waiting) checkDrained();
}

bool ConfigSendRun::drained() const {
    TalonComm::TRkCustomCommDevice* device = evb::BoardDevice();
    if (!device || !device->fGetActive()) return true; // the sender reports a port gone
    return device->WaitWriteDrained(std::chrono::milliseconds(0));
}

void ConfigSendRun::checkDrained() {
    if (!m_waiting) return;
    // As the blocking send did: after the send timeout the next line goes anyway.
    if (!drained() && m_waitClock.elapsed() < evb::SendTimeout().count()) return;
    m_waiting = false;
    m_fallback.stop();
    step();
}

void ConfigSendRun::scheduleStep() {
    if (m_stepQueued) return;
    m_stepQueued = true;
    // From the event loop, so that the events waiting meanwhile (paint, input, replies) are
    // handled first.
    QTimer::singleShot(0, this, [this] {
        m_stepQueued = false;
        step();
    });
}

void ConfigSendRun::step() {
    switch (m_sender->next()) {
    case evb::ConfigSender::Step::WaitDrained:
        m_waiting = true;
        m_waitClock.start();
        m_fallback.start();
        return;
    case evb::ConfigSender::Step::Done:
        m_fallback.stop();
        if (m_finished) m_finished(); // may delete this object: nothing follows
        return;
    }
}
