#include "serial/TTelnetCodec.h"

namespace TalonComm {

using namespace Telnet;

namespace {

constexpr std::uint8_t kWillBit = 1, kDoBit = 2;

void command(std::string& out, std::uint8_t verb, std::uint8_t option) {
    out += static_cast<char>(kIac);
    out += static_cast<char>(verb);
    out += static_cast<char>(option);
}

} // namespace

bool TTelnetCodec::weOffer(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool TTelnetCodec::weAccept(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

std::string TTelnetCodec::Hello() {
    std::string out;
    command(out, kWill, kBinary);
    command(out, kDo, kBinary);
    command(out, kWill, kComPort);
    m_said[kBinary] = kWillBit | kDoBit;
    m_said[kComPort] = kWillBit;
    return out;
}

void TTelnetCodec::Escape(const void* p, std::size_t n, std::string& out) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    out.reserve(out.size() + n + 8);
    for (std::size_t i = 0; i < n; ++i) {
        out += static_cast<char>(b[i]);
        if (b[i] == kIac) out += static_cast<char>(kIac);
    }
}

std::string TTelnetCodec::Request(std::uint8_t cmd, const std::uint8_t* value, std::size_t n) {
    std::string out;
    out += static_cast<char>(kIac);
    out += static_cast<char>(kSb);
    out += static_cast<char>(kComPort);
    out += static_cast<char>(cmd);
    Escape(value, n, out);
    out += static_cast<char>(kIac);
    out += static_cast<char>(kSe);
    return out;
}

std::string TTelnetCodec::BaudRate(std::uint32_t baud) {
    const std::uint8_t v[4] = {static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
                               static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
    return Request(cpSetBaudRate, v, 4);
}

void TTelnetCodec::Feed(const std::uint8_t* p, std::size_t n, std::string& data, std::string& reply) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = p[i];
        switch (m_state) {
        case State::Data:
            if (b == kIac)
                m_state = State::Iac;
            else
                data += static_cast<char>(b);
            break;
        case State::Iac:
            if (b == kIac) {
                data += static_cast<char>(b);
                m_state = State::Data;
            } else if (b >= kWill && b <= kDont) {
                m_verb = b;
                m_state = State::Verb;
            } else if (b == kSb) {
                m_sub.clear();
                m_state = State::Sub;
            } else {
                m_state = State::Data; // NOP, GA, a stray SE and the like carry nothing here
            }
            break;
        case State::Verb:
            negotiate(m_verb, b, reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == kIac)
                m_state = State::SubIac;
            else if (m_sub.size() < 64)
                m_sub += static_cast<char>(b);
            break;
        case State::SubIac:
            if (b == kIac) {
                if (m_sub.size() < 64) m_sub += static_cast<char>(b);
                m_state = State::Sub;
            } else {
                // IAC SE ends it; any other command ends a malformed one the same way.
                subnegotiation();
                m_state = State::Data;
            }
            break;
        }
    }
}

void TTelnetCodec::negotiate(std::uint8_t verb, std::uint8_t option, std::string& reply) {
    std::uint8_t& said = m_said[option];
    switch (verb) {
    case kDo:
        if (option == kComPort) m_comPort = 1;
        if (!weOffer(option)) {
            command(reply, kWont, option);
        } else if (!(said & kWillBit)) {
            said |= kWillBit;
            command(reply, kWill, option);
        }
        break;
    case kDont:
        if (option == kComPort) m_comPort = 2;
        if (said & kWillBit) {
            said &= static_cast<std::uint8_t>(~kWillBit);
            command(reply, kWont, option);
        }
        break;
    case kWill:
        if (!weAccept(option)) {
            command(reply, kDont, option);
        } else if (!(said & kDoBit)) {
            said |= kDoBit;
            command(reply, kDo, option);
        }
        break;
    case kWont:
        if (said & kDoBit) {
            said &= static_cast<std::uint8_t>(~kDoBit);
            command(reply, kDont, option);
        }
        break;
    default:
        break;
    }
}

void TTelnetCodec::subnegotiation() {
    if (m_sub.size() < 2 || static_cast<std::uint8_t>(m_sub[0]) != kComPort) return;
    const auto code = static_cast<std::uint8_t>(m_sub[1]);
    if (code < 100 || code >= 100 + m_answers.size()) return;
    const std::uint8_t cmd = code - 100;
    ++m_answers[cmd];
    const auto value = [&](std::size_t i) { return static_cast<std::uint8_t>(m_sub[2 + i]); };
    const std::size_t len = m_sub.size() - 2;
    if (cmd == cpSetBaudRate && len >= 4) {
        m_baudAnswered = static_cast<std::uint32_t>(value(0)) << 24 | static_cast<std::uint32_t>(value(1)) << 16 |
                         static_cast<std::uint32_t>(value(2)) << 8 | value(3);
    } else if (cmd == cpNotifyLineState && len >= 1) {
        const std::uint8_t s = value(0);
        m_counters.Overrun += (s & 0x02) ? 1 : 0;
        m_counters.Parity += (s & 0x04) ? 1 : 0;
        m_counters.Frame += (s & 0x08) ? 1 : 0;
        m_counters.Break += (s & 0x10) ? 1 : 0;
    } else if (cmd == cpNotifyModemState && len >= 1) {
        const std::uint8_t s = value(0);
        const std::uint32_t now = s & 0xF0u;
        const std::uint32_t changed = now ^ m_modem;
        // A delta bit counts a change the lines no longer show (a pulse between two reports).
        const bool cts = (s & 0x01) || (changed & 0x10), dsr = (s & 0x02) || (changed & 0x20);
        const bool ring = (s & 0x04) || (changed & 0x40), dcd = (s & 0x08) || (changed & 0x80);
        m_counters.Cts += cts;
        m_counters.Dsr += dsr;
        m_counters.Ring += ring;
        m_counters.Rlsd += dcd;
        m_modem = now;
        if (cts || dsr || ring || dcd) ++m_modemChanges;
    }
}

} // namespace TalonComm
