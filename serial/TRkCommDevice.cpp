#include "serial/TRkCommDevice.h"

#include "serial/TCommPackage.h"
#include "serial/TTalonComm.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <mutex>
#include <vector>

namespace TalonComm {

namespace {

constexpr std::uint32_t kBaudTable[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                        19200, 38400, 56000, 57600, 115200, 128000, 256000};

// The comma list of PortParams: fields end at ',' or at any character up to and including
// the blank, blanks around fields are skipped, "..." may hold both, a final ',' adds an empty
// field.
std::vector<std::string> splitParams(const std::string& text) {
    std::vector<std::string> fields;
    const std::string s = text.substr(0, text.find('\0'));
    auto blank = [&](size_t i) { return i < s.size() && static_cast<unsigned char>(s[i]) <= ' '; };
    size_t p = 0;
    while (blank(p))
        ++p;
    while (p < s.size()) {
        std::string field;
        if (s[p] == '"') {
            ++p;
            while (p < s.size()) {
                if (s[p] == '"') {
                    if (p + 1 < s.size() && s[p + 1] == '"') {
                        field += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                field += s[p++];
            }
        } else {
            const size_t start = p;
            while (p < s.size() && static_cast<unsigned char>(s[p]) > ' ' && s[p] != ',')
                ++p;
            field = s.substr(start, p - start);
        }
        fields.push_back(field);
        while (blank(p))
            ++p;
        if (p < s.size() && s[p] == ',') {
            if (p + 1 == s.size()) fields.emplace_back();
            do
                ++p;
            while (blank(p));
        }
    }
    return fields;
}

std::uint32_t parseUnsigned(const std::string& field) {
    size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || field[i] == '\t'))
        ++i;
    std::uint64_t value = 0;
    for (; i < field.size() && std::isdigit(static_cast<unsigned char>(field[i])); ++i) {
        value = value * 10 + static_cast<std::uint64_t>(field[i] - '0');
        if (value > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>(value);
}

std::string trimmed(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ')
        ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ')
        --b;
    return s.substr(a, b - a);
}

} // namespace

// ---- TRkCommFrameSettings ----

std::uint8_t TRkCommFrameSettings::fGetFrameHead() const {
    return m_package->fGetFrameHead();
}
void TRkCommFrameSettings::fSetFrameHead(std::uint8_t v) {
    m_package->fSetFrameHead(v);
}
std::uint8_t TRkCommFrameSettings::fGetFrameTail() const {
    return m_package->fGetFrameTail();
}
void TRkCommFrameSettings::fSetFrameTail(std::uint8_t v) {
    m_package->fSetFrameTail(v);
}
std::uint8_t TRkCommFrameSettings::fGetFrameCtrl() const {
    return m_package->fGetFrameCtrl();
}
void TRkCommFrameSettings::fSetFrameCtrl(std::uint8_t v) {
    m_package->fSetFrameCtrl(v);
}
bool TRkCommFrameSettings::fGetDoubleFrameMark() const {
    return m_package->fGetDoubleFrameMark();
}
void TRkCommFrameSettings::fSetDoubleFrameMark(bool v) {
    m_package->fSetDoubleFrameMark(v);
}

void TRkCommFrameSettings::SetValues(const TRkCommFrameSettings& other) {
    fSetFrameHead(other.fGetFrameHead());
    fSetFrameTail(other.fGetFrameTail());
    fSetFrameCtrl(other.fGetFrameCtrl());
}

// ---- TRkCustomCommDevice: life ----

TRkCustomCommDevice::TRkCustomCommDevice() : m_alive(std::make_shared<std::atomic<bool>>(true)) {
    m_engine = new TTalonComm();
    m_engine->OnCommNotify = [this](TObject* sender, int type) { _EvComm(sender, type); };
    m_engine->AfterOpen = [this](TObject* sender) { _EvAfterOpen(sender); };
    m_engine->BeforeClose = [this](TObject* sender) { _EvBeforeClose(sender); };
    m_package = new TCommPackage(m_engine);
    m_package->OnPackage = [this](TObject* sender, int type) { _EvPackage(sender, type); };
    m_frameSettings = new TRkCommFrameSettings(m_package);
}

TRkCustomCommDevice::~TRkCustomCommDevice() {
    Shutdown();
    delete m_frameSettings;
    delete m_package;
    delete m_engine;
}

void TRkCustomCommDevice::Shutdown() {
    if (!m_alive->exchange(false)) return;
    try {
        m_engine->Close();
    } catch (...) {
    }
    m_package->fSetActive(false);
    m_package->Quiesce();
    m_package->OnPackage = nullptr;
    m_engine->OnCommNotify = nullptr;
    m_engine->AfterOpen = nullptr;
    m_engine->BeforeClose = nullptr;
}

// ---- operations ----

long TRkCustomCommDevice::Read(void* buf, long n) {
    if (m_usePackage)
        return n <= 0 ? 0 : static_cast<long>(m_package->ReadPackage(buf, static_cast<unsigned long>(n)));
    return m_engine->Read(buf, n);
}

long TRkCustomCommDevice::Write(const void* buf, long n) {
    if (m_usePackage)
        return n <= 0 ? 0 : static_cast<long>(m_package->WritePackage(buf, static_cast<unsigned long>(n)));
    return m_engine->Write(buf, n);
}

long TRkCustomCommDevice::Command(const char* text) {
    return m_engine->Command(text);
}
bool TRkCustomCommDevice::ReadPackage(void* buf) {
    return m_package->ReadPackage(buf, 0) != 0;
}
bool TRkCustomCommDevice::WritePackage(const void* buf) {
    return m_package->WritePackage(buf, 0) != 0;
}
unsigned long TRkCustomCommDevice::ReadPackage(void* buf, unsigned long n) {
    return m_package->ReadPackage(buf, n);
}
unsigned long TRkCustomCommDevice::WritePackage(const void* buf, unsigned long n) {
    return m_package->WritePackage(buf, n);
}

void TRkCustomCommDevice::PurgeRead(bool abort) {
    if (m_usePackage)
        m_package->PurgeRead();
    else
        m_engine->PurgeRead(abort);
}

void TRkCustomCommDevice::PurgeWrite(bool abort) {
    if (m_usePackage)
        m_package->PurgeWrite();
    else
        m_engine->PurgeWrite(abort);
}

void TRkCustomCommDevice::ResetModem() {
    m_engine->ResetModem();
}
void TRkCustomCommDevice::InitModem() {
    m_engine->InitModem();
}
bool TRkCustomCommDevice::EscapeCommFunction(unsigned long code) {
    return m_engine->EscapeCommFunction(code);
}

void TRkCustomCommDevice::EvCommNotify(TObject* /*Sender*/, int NotifyType) {
    if (OnCommNotify) OnCommNotify(this, NotifyType);
}

void TRkCustomCommDevice::EvPackageNotify(TObject* /*Sender*/, int NotifyType) {
    if (OnPackage) OnPackage(this, NotifyType);
}

void TRkCustomCommDevice::EvAfterOpen(TObject* /*Sender*/) {
    if (AfterOpen) AfterOpen(this);
}

void TRkCustomCommDevice::EvBeforeClose(TObject* /*Sender*/) {
    if (BeforeClose) BeforeClose(this);
}

bool TRkCustomCommDevice::WaitWriteRoom(long n, std::chrono::milliseconds timeout) {
    if (m_usePackage) return m_package->WaitWriteRoom(n, timeout);
    return m_engine->WaitWriteRoom(n, timeout);
}

bool TRkCustomCommDevice::WaitWriteDrained(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (m_usePackage && !m_package->WaitWriteRoom(0, timeout)) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return m_engine->WaitWriteDrained(std::max(left, std::chrono::milliseconds(0)));
}

// ---- event routing ----

void TRkCustomCommDevice::_EvComm(TObject* Sender, int NotifyType) {
    if (m_alive->load()) EvCommNotify(Sender, NotifyType);
}

void TRkCustomCommDevice::_EvPackage(TObject* Sender, int NotifyType) {
    if (m_alive->load()) EvPackageNotify(Sender, NotifyType);
}

void TRkCustomCommDevice::_EvAfterOpen(TObject* Sender) {
    EvAfterOpen(Sender);
}
void TRkCustomCommDevice::_EvBeforeClose(TObject* Sender) {
    EvBeforeClose(Sender);
}

// ---- properties ----

int TRkCustomCommDevice::fGetPortNo() const {
    return m_engine->fGetPort();
}
void TRkCustomCommDevice::fSetPortNo(int n) {
    m_engine->fSetPort(n);
}
std::string TRkCustomCommDevice::fGetPortName() const {
    return m_engine->fGetPortName();
}
void TRkCustomCommDevice::fSetPortName(const std::string& name) {
    m_engine->fSetPortName(name);
}

std::string TRkCustomCommDevice::fGetPortParams() const {
    static const char kParity[] = "NOEMS";
    const std::uint8_t parity = m_engine->fGetParity();
    const std::uint8_t stop = m_engine->fGetStopBits();
    // Appended piece by piece: GCC 12 misreads the inserts of `"," + std::string` at -O2.
    std::string s = m_engine->fGetPortName();
    s += ',';
    s += std::to_string(m_engine->fGetBaudRate());
    s += ',';
    s += parity <= 4 ? kParity[parity] : 'N';
    s += ',';
    s += std::to_string(m_engine->fGetByteSize());
    s += ',';
    s += stop == 1 ? "1.5" : stop == 2 ? "2" : "1";
    return s;
}

void TRkCustomCommDevice::fSetPortParams(const std::string& s) {
    const std::vector<std::string> f = splitParams(s);
    m_engine->fSetPortName(f.size() > 0 ? f[0] : std::string("COM2"));
    m_engine->fSetBaudRate(f.size() > 1 ? parseUnsigned(f[1]) : 9600);
    if (f.size() > 2) {
        const std::string p = trimmed(f[2]);
        if (!p.empty()) {
            const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])));
            m_engine->fSetParity(c == 'O' ? 1 : c == 'E' ? 2 : c == 'M' ? 3 : c == 'S' ? 4 : 0);
        }
    } else {
        m_engine->fSetParity(0);
    }
    m_engine->fSetByteSize(f.size() > 3 ? static_cast<std::uint8_t>(parseUnsigned(f[3])) : 8);
    const std::string stop = f.size() > 4 ? trimmed(f[4]) : std::string();
    m_engine->fSetStopBits(stop == "1.5" ? 1 : stop == "2" ? 2 : 0);
}

TBaudRate TRkCustomCommDevice::fGetBaud() const {
    const std::uint32_t baud = m_engine->fGetBaudRate();
    for (int i = 0; i < brCustom; ++i)
        if (kBaudTable[i] == baud) return static_cast<TBaudRate>(i);
    return brCustom;
}

void TRkCustomCommDevice::fSetBaud(TBaudRate b) {
    if (b >= br110 && b < brCustom) m_engine->fSetBaudRate(kBaudTable[b]);
}

std::uint32_t TRkCustomCommDevice::fGetBaudRate() const {
    return m_engine->fGetBaudRate();
}
void TRkCustomCommDevice::fSetBaudRate(std::uint32_t b) {
    m_engine->fSetBaudRate(b);
}

TParity TRkCustomCommDevice::fGetParity() const {
    const std::uint8_t p = m_engine->fGetParity();
    return p <= 4 ? static_cast<TParity>(p) : ptNoParity;
}

void TRkCustomCommDevice::fSetParity(TParity p) {
    const int v = static_cast<int>(p);
    m_engine->fSetParity(static_cast<std::uint8_t>(v >= 0 && v <= 4 ? v : 0));
}

int TRkCustomCommDevice::fGetByteSize() const {
    return m_engine->fGetByteSize();
}
void TRkCustomCommDevice::fSetByteSize(int n) {
    m_engine->fSetByteSize(static_cast<std::uint8_t>(std::clamp(n, 0, 255)));
}

TStopBits TRkCustomCommDevice::fGetStopBits() const {
    const std::uint8_t s = m_engine->fGetStopBits();
    return s <= 2 ? static_cast<TStopBits>(s) : sbOneStopBit;
}

void TRkCustomCommDevice::fSetStopBits(TStopBits s) {
    const int v = static_cast<int>(s);
    m_engine->fSetStopBits(static_cast<std::uint8_t>(v >= 0 && v <= 2 ? v : 0));
}

TFlowControl TRkCustomCommDevice::fGetFlowControl() const {
    switch (m_engine->fGetFlowControl()) {
    case 3:
        return fcRtsCts;
    case 4:
        return fcXonXoff;
    case 5:
        return fcTranXonXoff;
    case 6:
        return fcRtsCtsXonXoff;
    default:
        return fcNone;
    }
}

void TRkCustomCommDevice::fSetFlowControl(TFlowControl f) {
    static const int kCodes[] = {0, 3, 4, 5, 6};
    const int v = static_cast<int>(f);
    m_engine->fSetFlowControl(v >= 0 && v <= 4 ? kCodes[v] : 0);
}

int TRkCustomCommDevice::fGetAutoAnswer() const {
    return m_engine->fGetAutoAnswer();
}
void TRkCustomCommDevice::fSetAutoAnswer(int n) {
    m_engine->fSetAutoAnswer(static_cast<std::uint8_t>(std::clamp(n, 0, 255)));
}
bool TRkCustomCommDevice::fGetDataOnly() const {
    return m_engine->fGetDataOnly();
}
void TRkCustomCommDevice::fSetDataOnly(bool b) {
    m_engine->fSetDataOnly(b);
}
long TRkCustomCommDevice::fGetInBufSize() const {
    return m_engine->fGetInBufSize();
}
void TRkCustomCommDevice::fSetInBufSize(long n) {
    // The package layer's timer thread reads the receive ring: it stands still while the ring
    // is replaced.
    const bool packages = m_package->fGetActive();
    if (packages) m_package->fSetActive(false);
    m_engine->fSetInBufSize(n);
    if (packages && m_engine->fGetActive()) m_package->fSetActive(true);
}
long TRkCustomCommDevice::fGetOutBufSize() const {
    return m_engine->fGetOutBufSize();
}
void TRkCustomCommDevice::fSetOutBufSize(long n) {
    const bool packages = m_package->fGetActive();
    if (packages) m_package->fSetActive(false);
    m_engine->fSetOutBufSize(n);
    if (packages && m_engine->fGetActive()) m_package->fSetActive(true);
}
long TRkCustomCommDevice::fGetHwInSize() const {
    return m_engine->fGetHwInSize();
}
void TRkCustomCommDevice::fSetHwInSize(long n) {
    m_engine->fSetHwInSize(n);
}
long TRkCustomCommDevice::fGetHwOutSize() const {
    return m_engine->fGetHwOutSize();
}
void TRkCustomCommDevice::fSetHwOutSize(long n) {
    m_engine->fSetHwOutSize(n);
}
std::uint32_t TRkCustomCommDevice::fGetQueueSize() const {
    return m_package->fGetQueueSize();
}
void TRkCustomCommDevice::fSetQueueSize(std::uint32_t n) {
    m_package->fSetQueueSize(n);
}
std::uint32_t TRkCustomCommDevice::fGetPackageSize() const {
    return m_package->fGetPackageSize();
}
void TRkCustomCommDevice::fSetPackageSize(std::uint32_t n) {
    m_package->fSetPackageSize(n);
}
TCommPackageType TRkCustomCommDevice::fGetPackageType() const {
    return m_package->fGetPackageType();
}
void TRkCustomCommDevice::fSetPackageType(TCommPackageType t) {
    m_package->fSetPackageType(t);
}
std::uint32_t TRkCustomCommDevice::fGetPackageInterval() const {
    return m_package->fGetPackageInterval();
}
void TRkCustomCommDevice::fSetPackageInterval(std::uint32_t ms) {
    m_package->fSetPackageInterval(ms);
}

void TRkCustomCommDevice::fSetUsePackage(bool b) {
    const bool active = fGetActive();
    m_usePackage = b;
    fSetActive(active);
}

void TRkCustomCommDevice::fSetFrameSettings(const TRkCommFrameSettings& s) {
    m_frameSettings->SetValues(s);
}

bool TRkCustomCommDevice::fGetActive() const {
    if (!m_usePackage) return m_engine->fGetActive();
    return m_package->fGetActive() && m_engine->fGetActive();
}

void TRkCustomCommDevice::fSetActive(bool b) {
    const bool packageTarget = b && m_usePackage;
    // Closing always reaches the engine: a port that vanished is already inactive there but may
    // still hold its descriptor and lock until it is closed.
    if (!b || b != m_engine->fGetActive()) m_engine->fSetActive(b);
    if (packageTarget != m_package->fGetActive()) m_package->fSetActive(packageTarget);
    // Once closed, no package event is under way: the owner may replace OnPackage.
    if (!b) m_package->Quiesce();
}

int TRkCustomCommDevice::fGetHandle() const {
    return m_engine->fGetHandle();
}
void TRkCustomCommDevice::fSetHandle(int fd) {
    m_engine->fSetHandle(fd);
}
TCommQueue* TRkCustomCommDevice::fGetInQueue() const {
    return m_engine->fGetInQueue();
}
TCommQueue* TRkCustomCommDevice::fGetOutQueue() const {
    return m_engine->fGetOutQueue();
}
unsigned TRkCustomCommDevice::fGetModemStatus() const {
    return (m_engine->fGetModemStatus() >> 4) & 0x0Fu;
}
bool TRkCustomCommDevice::fGetDisableWrite() const {
    return m_engine->fGetDisableWrite();
}
void TRkCustomCommDevice::fSetDisableWrite(bool b) {
    m_engine->fSetDisableWrite(b);
}
bool TRkCustomCommDevice::fGetDTR() const {
    return m_engine->fGetDTR();
}
void TRkCustomCommDevice::fSetDTR(bool b) {
    m_engine->fSetDTR(b);
}
bool TRkCustomCommDevice::fGetRTS() const {
    return m_engine->fGetRTS();
}
void TRkCustomCommDevice::fSetRTS(bool b) {
    m_engine->fSetRTS(b);
}
bool TRkCustomCommDevice::fGetCTS() const {
    return m_engine->fGetCTS();
}
bool TRkCustomCommDevice::fGetDSR() const {
    return m_engine->fGetDSR();
}
bool TRkCustomCommDevice::fGetRING() const {
    return m_engine->fGetRING();
}
bool TRkCustomCommDevice::fGetRLSD() const {
    return m_engine->fGetRLSD();
}

} // namespace TalonComm
