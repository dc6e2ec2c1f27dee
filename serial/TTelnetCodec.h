#pragma once
// The Telnet side of a network port with COM-PORT-OPTION (RFC 854, 856, 2217): a plain codec
// fed the byte chunks the server sent, in whatever pieces they arrived. It takes the data bytes
// out (0xFF 0xFF is a data 0xFF), answers the server's option negotiation, and keeps what the
// server reported: the modem lines, the line errors, and which requests it acknowledged.
// Encoding is by static functions: data with 0xFF doubled, and the COM-PORT requests.
//
// Not thread-safe: its owner serialises every call.

#include "serial/TLineIo.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace TalonComm {

namespace Telnet {
constexpr std::uint8_t kSe = 240, kSb = 250, kWill = 251, kWont = 252, kDo = 253, kDont = 254, kIac = 255;
constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// COM-PORT-OPTION requests of the client; the server answers with the code plus 100.
enum TComPortCommand : std::uint8_t {
    cpSetBaudRate = 1,
    cpSetDataSize = 2,
    cpSetParity = 3,
    cpSetStopSize = 4,
    cpSetControl = 5,
    cpNotifyLineState = 6,
    cpNotifyModemState = 7,
    cpFlowSuspend = 8,
    cpFlowResume = 9,
    cpSetLineStateMask = 10,
    cpSetModemStateMask = 11,
    cpPurgeData = 12,
};
// Values of SET-CONTROL.
constexpr std::uint8_t kXonXoffFlow = 3, kHardwareFlow = 4, kBreakOn = 5, kBreakOff = 6,
                       kDtrOn = 8, kDtrOff = 9, kRtsOn = 11, kRtsOff = 12;
// Values of PURGE-DATA.
constexpr std::uint8_t kPurgeReceive = 1, kPurgeTransmit = 2;
} // namespace Telnet

class TTelnetCodec {
  public:
    // Decodes one chunk: data bytes are appended to data, the answers owed to the server to reply.
    void Feed(const std::uint8_t* p, std::size_t n, std::string& data, std::string& reply);

    // What the client says first: binary both ways, and that it will use COM-PORT-OPTION.
    std::string Hello();
    // Data for the wire: every 0xFF doubled.
    static void Escape(const void* p, std::size_t n, std::string& out);
    // IAC SB COM-PORT-OPTION command value IAC SE, with 0xFF in the value doubled.
    static std::string Request(std::uint8_t command, const std::uint8_t* value, std::size_t n);
    static std::string Request(std::uint8_t command, std::uint8_t value) { return Request(command, &value, 1); }
    static std::string BaudRate(std::uint32_t baud);

    // The server agreed to COM-PORT-OPTION (DO), or refused it (DONT).
    bool ComPortAgreed() const { return m_comPort == 1; }
    bool ComPortRefused() const { return m_comPort == 2; }
    // Answers the server gave to each request (index: the request's command code).
    std::uint32_t Answers(std::uint8_t command) const { return command < m_answers.size() ? m_answers[command] : 0; }
    // The last value the server answered SET-BAUDRATE with.
    std::uint32_t BaudAnswered() const { return m_baudAnswered; }
    // Modem status word as the engine reads it (CTS 0x10, DSR 0x20, ring 0x40, line signal 0x80;
    // NOTIFY-MODEMSTATE puts them in the same bits) and the counts of line events so far.
    std::uint32_t ModemStatus() const { return m_modem; }
    const TLineCounters& Counters() const { return m_counters; }
    // Bumped by every modem-state notification that changed a line or reported a pulse.
    std::uint64_t ModemChanges() const { return m_modemChanges; }

  private:
    enum class State { Data, Iac, Verb, Sub, SubIac };
    void negotiate(std::uint8_t verb, std::uint8_t option, std::string& reply);
    void subnegotiation();
    static bool weOffer(std::uint8_t option);
    static bool weAccept(std::uint8_t option);

    State m_state = State::Data;
    std::uint8_t m_verb = 0;
    std::string m_sub;
    // Per option: we said WILL (bit 0) / DO (bit 1) and it stands.
    std::array<std::uint8_t, 256> m_said{};
    int m_comPort = 0; // 0 not yet answered, 1 agreed, 2 refused
    std::array<std::uint32_t, 13> m_answers{};
    std::uint32_t m_baudAnswered = 0;
    std::uint32_t m_modem = 0;
    std::uint64_t m_modemChanges = 0;
    TLineCounters m_counters;
};

} // namespace TalonComm
