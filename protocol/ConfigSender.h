#pragma once
// The one sender of configuration lines, as a state machine: begin() opens the batch, each
// next() sends the next line's frame, stop() makes the following next() send the batch's end
// frame. Every frame is followed by a wait for the line (the transmitter's queues empty), so
// no more is queued than the line carries, and the progress, Stop and the batch's end follow
// the board; the batch closes (sending state idle, the closing console line) once the end
// frame has left as well. The register console drives it from events on the UI thread;
// SendConfigLines and evbctl drive it in a loop that waits for the line.
//
// Threading: the thread that sends frames. While the batch is open the sender is the batch
// owner (SetBatchOwner): no other command reaches the board in between.

#include "protocol/ConfigLines.h"

#include <string>
#include <string_view>
#include <vector>

namespace evb {

class ConfigSender {
  public:
    enum class Step {
        WaitDrained, // a frame went out: next() follows once it has left for the wire
        Done         // the batch is closed (or the send ended because the port went away)
    };

    // Parses text as SendConfigLines does; nothing is sent before begin().
    ConfigSender(std::string_view text, int lineLimit, int beginCount, bool report, ConfigSendHooks hooks = {});
    ~ConfigSender();
    ConfigSender(const ConfigSender&) = delete;
    ConfigSender& operator=(const ConfigSender&) = delete;

    // Progress range, the begin frame and (when reporting) "SET_TXT_LENGTH：n".
    void begin();
    Step next();
    // Asks the sender to stop: the next call of next() sends the end frame, and the one after
    // it reports "Send stopped after k of n lines".
    void stop() { m_stopRequested = true; }

    bool done() const { return m_done; }
    int linesDone() const { return m_index; }
    int commandLines() const { return m_result.commandLines; }
    const ConfigSendResult& result() const { return m_result; }

  private:
    Step finish();
    Step close();
    void progress(int position) const;

    std::vector<ConfigRecord> m_records;
    int m_beginCount;
    bool m_report;
    ConfigSendHooks m_hooks;
    ConfigSendResult m_result;
    int m_index = 0;
    int m_linesSent = 0;
    bool m_activeAtStart = false;
    bool m_begun = false;
    bool m_stopRequested = false;
    bool m_closing = false; // the end frame is on its way
    bool m_done = false;
};

} // namespace evb
