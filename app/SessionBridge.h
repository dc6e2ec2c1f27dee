#pragma once
// The one hand-over from the board session to the UI thread. The session reports to this sink
// on whatever thread raised the report; each report leaves here as a signal on the UI thread:
// wakes from the serial layer's worker threads and the port watch are queued, in the order
// they came, and reports made on the UI thread itself are delivered at once. No other code of
// the windows asks which thread it runs on.

#include "protocol/BoardSession.h"

#include <QObject>

#include <functional>
#include <string>

class SessionBridge : public QObject, public evb::ISessionSink {
    Q_OBJECT
  public:
    explicit SessionBridge(QObject* parent = nullptr);

    // Runs every wake on the UI thread (the owner answers it with BoardSession::Handle).
    void setWakeHandler(std::function<void(const evb::SessionWake&)> handler) { m_wakeHandler = std::move(handler); }

    void Wake(const evb::SessionWake& wake) override { emit woke(wake); }
    void ConsoleAppend(const std::string& text) override { emit consoleText(text); }
    void ShowWarning(const std::string& line1, const std::string& line2) override { emit warning(line1, line2); }
    void Reply(const evb::ReplyEvent& event) override { emit reply(event); }
    void SendingChanged(const evb::SendingState& state) override { emit sendingChanged(state.active); }
    void TransmitterEmpty() override { emit transmitterEmpty(); }

  signals:
    void woke(const evb::SessionWake& wake);
    void consoleText(const std::string& text);
    void warning(const std::string& line1, const std::string& line2);
    void reply(const evb::ReplyEvent& event);
    // Every window that sends obeys this: true while a configuration batch is being sent.
    void sendingChanged(bool sending);
    void transmitterEmpty();

  private:
    std::function<void(const evb::SessionWake&)> m_wakeHandler;
};
