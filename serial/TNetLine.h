#pragma once
// A port on the network: `tcp://HOST:PORT` carries the line's bytes as they are (a serial
// server's raw TCP port), `rfc2217://HOST:PORT` carries them inside Telnet with
// COM-PORT-OPTION, which also sets the far port's line, purges it and reports its modem lines
// and line errors. The engine uses one TNetLine as the line calls of a port opened by such a
// name, on a non-blocking socket that Connect made; everything above the engine works as with
// a local device. A connection the far end closes or resets reads as a hang-up.
//
// Threads: Connect, ApplyLine and the control calls run on the engine's owner thread; Read on
// the read thread, Write, OutQueue and WaitDrained on the write thread, WaitModemChange on the
// modem watcher. While opening (Connect, ApplyLine: before the engine's threads run) the owner
// thread reads the socket itself, to wait for the server's answers.

#include "serial/TLineIo.h"
#include "serial/TTelnetCodec.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

namespace TalonComm {

class TNetLine : public TLineIo {
  public:
    enum class TKind { Raw, Rfc2217 };
    struct TAddress {
        TKind Kind = TKind::Raw;
        std::string Host; // without the brackets of an IPv6 literal
        std::string Port;
    };
    // False when name is no network port name. A network name that is malformed gives true
    // with error set.
    static bool Parse(const std::string& name, TAddress& address, std::string& error);
    static bool IsNetName(const std::string& name);

    static constexpr int kDefaultTimeoutMs = 3000;
    // How long a short request may wait for room in the socket, and ApplyLine for the answer
    // to the baud rate.
    static constexpr int kAnswerWaitMs = 500;

    explicit TNetLine(int timeoutMs = kDefaultTimeoutMs);
    ~TNetLine() override;
    TNetLine(const TNetLine&) = delete;
    TNetLine& operator=(const TNetLine&) = delete;

    // Connects to the port the name stands for and, for RFC 2217, agrees the options. Returns
    // the socket (owned by the caller from then on), or -1 with the reason in reason.
    int Connect(const std::string& name, std::string& reason);
    TKind Kind() const { return m_kind; }
    // Why the server ended the connection while the line was being set up (ApplyLine failed).
    const std::string& Failure() const { return m_failure; }
    // Something the line found worth a line in the link log (each kind of it once), taken by
    // the owner thread; empty when there is nothing.
    std::string TakeNote();

    bool ApplyLine(int fd, const TCommDcb& dcb, std::uint32_t& speedTaken) override;
    long Read(int fd, void* buf, std::size_t n) override;
    long Write(int fd, const void* buf, std::size_t n) override;
    bool ModemStatus(int fd, std::uint32_t& status) override;
    int WaitModemChange(int fd) override;
    bool Counters(int fd, TLineCounters& counters) override;
    int OutQueue(int fd) override;
    int WaitDrained(int fd) override;
    int Poll(pollfd* fds, unsigned long n, int timeoutMs) override;
    bool SetDtr(int fd, bool on) override;
    bool SetRts(int fd, bool on) override;
    bool SetBreak(int fd, bool on) override;
    bool SetXon(int fd, bool on) override;
    bool Flush(int fd, bool input) override;

  private:
    using Clock = std::chrono::steady_clock;
    int connectTo(const TAddress& address, std::string& reason);
    std::string refusedReason(const std::string& what);
    // Owner thread, before the engine's threads run: reads and decodes until done() or the
    // deadline; false at the deadline or when the server closed the connection.
    bool pumpUntil(const std::function<bool()>& done, Clock::time_point deadline);
    void feed(const std::uint8_t* raw, std::size_t n, std::string& data, std::string& reply);
    // Sends (after what is pending) or keeps what the socket does not take within the wait.
    void send(int fd, const std::string& bytes, int waitMs);
    bool flushPendingLocked(int fd);
    bool request(int fd, std::uint8_t command, std::uint8_t value);
    void note(const std::string& text);

    int m_timeoutMs;
    TKind m_kind = TKind::Raw;
    int m_fd = -1;
    std::string m_where; // HOST:PORT
    bool m_closed = false;
    std::string m_failure;

    // Guards the codec and the decoded bytes not yet read.
    std::mutex m_mutex;
    TTelnetCodec m_codec;
    std::string m_inData;
    std::atomic<bool> m_haveData{false};
    std::uint64_t m_modemSeen = 0;
    // Signalled on every change of the modem lines (the modem watcher waits on it).
    int m_modemFd = -1;

    // Guards the bytes encoded for the socket that it has not taken yet.
    std::mutex m_sendMutex;
    std::string m_outPending;

    // Control requests sent, and the count of baud answers that shows the last of them was
    // answered or passed over (guarded by m_mutex).
    std::uint32_t m_controlsAsked = 0, m_probeAnswer = 0, m_probesPending = 0;
    bool m_noAnswerNoted = false;

    std::mutex m_noteMutex;
    std::string m_note;
};

} // namespace TalonComm
