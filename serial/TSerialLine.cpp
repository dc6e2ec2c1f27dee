#include "serial/TSerialLine.h"

#include <asm/termbits.h>
#include <cstring>
#include <utility>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace TalonComm {

namespace {

tcflag_t sizeFlag(std::uint8_t byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

// Unix98 pseudo-terminal slaves: they force 8 data bits and no parity whatever is asked.
bool isPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned major = ::major(st.st_rdev);
    return major >= 136 && major <= 143;
}

// The rate of one of the classic speed codes (a driver may report its fallback that way).
std::uint32_t speedOf(tcflag_t code) {
    static const std::pair<tcflag_t, std::uint32_t> table[] = {
        {B0, 0},         {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},     {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
        {B1800, 1800},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
        {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}};
    for (const auto& [c, rate] : table)
        if (c == code) return rate;
    return 0;
}

bool setModemBits(int fd, int bits, bool on) {
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

} // namespace

static_assert(sizeof(termios2) <= sizeof(TSerialLine::TSavedLine::Data));

bool TSerialLine::SaveLine(int fd, TSavedLine& saved) {
    struct termios2 tio {};
    saved.Valid = ioctl(fd, TCGETS2, &tio) == 0;
    if (saved.Valid) std::memcpy(saved.Data, &tio, sizeof tio);
    return saved.Valid;
}

bool TSerialLine::RestoreLine(int fd, const TSavedLine& saved) {
    if (!saved.Valid) return false;
    struct termios2 tio {};
    std::memcpy(&tio, saved.Data, sizeof tio);
    return ioctl(fd, TCSETS2, &tio) == 0;
}

bool TSerialLine::ApplyDcb(int fd, const TCommDcb& dcb, std::uint32_t& speedTaken) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag = CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT) | sizeFlag(dcb.ByteSize);
    tio.c_ispeed = dcb.BaudRate;
    tio.c_ospeed = dcb.BaudRate;
    switch (dcb.Parity) {
    case 1:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        tio.c_cflag |= PARENB;
        break;
    case 3:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    // Linux knows one and a half stop bits only as the 5-bit form of two stop bits.
    if (dcb.StopBits == 1 || dcb.StopBits == 2) tio.c_cflag |= CSTOPB;
    if (dcb.fOutxCtsFlow || dcb.RtsControl == rtsHandshake) tio.c_cflag |= CRTSCTS;
    if (dcb.fOutX) tio.c_iflag |= IXON;
    if (dcb.fInX) tio.c_iflag |= IXOFF;
    // A byte that fails the parity check comes marked, so that it is counted and dropped
    // instead of arriving as a silent 0x00.
    if (dcb.Parity != 0)
        tio.c_iflag |= INPCK | PARMRK;
    else
        tio.c_iflag |= IGNPAR;
    tio.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (ioctl(fd, TCSETS2, &tio) != 0) return false;
    struct termios2 back {};
    if (ioctl(fd, TCGETS2, &back) != 0) return false;
    speedTaken = (back.c_cflag & CBAUD) == BOTHER ? back.c_ospeed : speedOf(back.c_cflag & CBAUD);
    if (isPseudoTerminal(fd)) return true;
    const tcflag_t checked = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    return (back.c_cflag & checked) == (tio.c_cflag & checked);
}

void TSerialLine::RequestLowLatency(int fd) {
    struct serial_struct ss {};
    if (ioctl(fd, TIOCGSERIAL, &ss) != 0) return;
    ss.flags |= ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &ss);
}

bool TSerialLine::ModemStatus(int fd, std::uint32_t& status) {
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) return false;
    status = ((bits & TIOCM_CTS) ? 0x10u : 0u) | ((bits & TIOCM_DSR) ? 0x20u : 0u) |
             ((bits & TIOCM_RNG) ? 0x40u : 0u) | ((bits & TIOCM_CAR) ? 0x80u : 0u);
    return true;
}

bool TSerialLine::SetDtr(int fd, bool on) {
    return setModemBits(fd, TIOCM_DTR, on);
}
bool TSerialLine::SetRts(int fd, bool on) {
    return setModemBits(fd, TIOCM_RTS, on);
}
bool TSerialLine::SetBreak(int fd, bool on) {
    return ioctl(fd, on ? TIOCSBRK : TIOCCBRK, 0) == 0;
}
bool TSerialLine::SetXon(int fd, bool on) {
    return ioctl(fd, TCXONC, on ? TCOON : TCOOFF) == 0;
}
bool TSerialLine::FlushInput(int fd) {
    return ioctl(fd, TCFLSH, TCIFLUSH) == 0;
}
bool TSerialLine::FlushOutput(int fd) {
    return ioctl(fd, TCFLSH, TCOFLUSH) == 0;
}

int TSerialLine::OutQueue(int fd) {
    int n = 0;
    return ioctl(fd, TIOCOUTQ, &n) == 0 ? n : -1;
}

} // namespace TalonComm
