#pragma once
// Drives the configuration sender from events on the UI thread, so the windows stay alive
// during a long send: a frame goes out, and the next one follows once the transmitter reports
// the previous one gone from its queues (TransmitterEmpty); the send ends once the end frame
// has gone too. Between frames the event loop runs: windows repaint, the Link Monitor
// scrolls, Stop and Esc are seen.
//
// Threading: UI thread only.

#include "protocol/ConfigSender.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class ConfigSendRun : public QObject {
    Q_OBJECT
  public:
    ConfigSendRun(std::unique_ptr<evb::ConfigSender> sender, std::function<void()> finished,
                  QObject* parent = nullptr);
    ~ConfigSendRun() override;

    void start();
    // Stops after the current frame; the batch is closed with its end frame.
    void stop();
    // The device's transmitter has emptied its queues (any thread's report, handed over).
    void TransmitterEmpty();

    const evb::ConfigSender& sender() const { return *m_sender; }

  private:
    void step();
    void scheduleStep();
    void checkDrained();
    bool drained() const;

    std::unique_ptr<evb::ConfigSender> m_sender;
    std::function<void()> m_finished;
    bool m_waiting = false;      // a frame is on its way to the wire
    bool m_stepQueued = false;
    QElapsedTimer m_waitClock;
    // A transmit-empty report can be lost to a closing port; this looks again now and then.
    QTimer m_fallback;
};
