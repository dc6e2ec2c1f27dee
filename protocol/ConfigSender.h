#pragma once
// The one sender of configuration lines, as a state machine: begin() opens the batch, each
// next() sends the next line's frame, stop() makes the following next() close the batch with
// its end frame. The register console drives it from events on the UI thread (the next line
// goes out once the transmitter reports the previous write gone); SendConfigLines and evbctl
// drive it in a loop that waits for the line.
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
        Sent,        // a frame went out; the next line may follow at once
        WaitDrained, // a register write went out: the next line follows once it left the wire
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
    // Asks the sender to stop: the next call of next() sends the end frame and reports
    // "Send stopped after k of n lines".
    void stop() { m_stopRequested = true; }

    bool done() const { return m_done; }
    int linesDone() const { return m_index; }
    int commandLines() const { return m_result.commandLines; }
    const ConfigSendResult& result() const { return m_result; }

  private:
    Step finish();
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
    bool m_done = false;
};

} // namespace evb
