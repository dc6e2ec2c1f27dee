#include "cli/EvbCtl.h"

#include "cli/EvbCtlCheck.h"
#include "cli/EvbCtlPorts.h"
#include "cli/EvbCtlRegmap.h"

#include "protocol/BoardCommand.h"
#include "protocol/BoardSession.h"
#include "protocol/Command.h"
#include "protocol/ConfigLines.h"
#include "protocol/LinkLog.h"
#include "protocol/LinkMeaning.h"
#include "protocol/NamedRegisters.h"
#include "protocol/RegisterSnapshot.h"
#include "protocol/ReplyFormat.h"
#include "protocol/TextConv.h"
#include "serial/ETalonCommError.h"
#include "serial/TCommSerialPortInfo.h"
#include "serial/TNetLine.h"
#include "serial/TRkCommDevice.h"
#include "serial/TTalonComm.h"
#include "sim/SimBoard.h"

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>

namespace evbctl {

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kDefaultBaud = 19200;
constexpr int kDefaultTimeoutMs = 1000;
constexpr long kReplyBufferSize = 257; // what the console takes of one package

// Set by SIGINT while a configuration file is sent: the send stops after the current line.
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void onInterrupt(int) {
    gInterrupted.store(true, std::memory_order_relaxed);
}

struct UsageError {
    std::string message;
};

// An argument names something that cannot be used (an unreadable file): exit 2, no usage text.
struct FileError {
    std::string message;
};

// The file has errors: nothing is sent and no port is opened (exit 4).
struct NothingSent {};

// Counts completed packages and hang-ups. The device raises its events on the serial layer's
// worker threads; they only bump counters under the mutex and wake the run's thread, which
// reads the packages itself, as the console does on its UI thread.
class ReplyWatch {
  public:
    void packageDone() {
        std::lock_guard lock(m_mutex);
        ++m_packages;
        m_changed.notify_all();
    }
    void lineGone() {
        std::lock_guard lock(m_mutex);
        m_hungUp = true;
        m_changed.notify_all();
    }
    std::uint64_t packages() const {
        std::lock_guard lock(m_mutex);
        return m_packages;
    }
    // Waits until more than seen packages have completed or the line went away.
    bool waitBeyond(std::uint64_t seen, Clock::time_point deadline) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_until(lock, deadline, [&] { return m_packages > seen || m_hungUp; });
        return m_packages > seen;
    }
    bool hungUp() const {
        std::lock_guard lock(m_mutex);
        return m_hungUp;
    }

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_packages = 0;
    bool m_hungUp = false;
};

// The session's sink. Console lines to out without the pane's "\r" (a terminal or a pipe wants
// plain "\n"); warnings, which the program shows in its warning window, to err. Completed
// packages and hang-ups, raised on the serial layer's worker threads, go to the reply watch.
class StreamReport : public evb::ISessionSink {
  public:
    StreamReport(std::ostream& out, std::ostream& err, ReplyWatch& watch) : m_out(out), m_err(err), m_watch(watch) {}
    void Wake(const evb::SessionWake& wake) override {
        if (wake.kind == evb::SessionWake::Kind::Package) m_watch.packageDone();
        if (wake.kind == evb::SessionWake::Kind::PortGone) m_watch.lineGone();
    }
    void ConsoleAppend(const std::string& text) override {
        std::string plain;
        plain.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i)
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
        m_out << plain << std::flush;
    }
    void ShowWarning(const std::string& line1, const std::string& line2) override {
        m_err << "evbctl: " << line1;
        if (!line2.empty()) m_err << " " << line2;
        m_err << std::endl;
    }

  private:
    std::ostream& m_out;
    std::ostream& m_err;
    ReplyWatch& m_watch;
};

struct Options {
    std::optional<std::string> port;
    std::uint32_t baud = kDefaultBaud;
    int timeoutMs = kDefaultTimeoutMs;
    bool simulate = false;
    bool trace = false;  // the link log on stderr, one entry a line
    bool strict = false; // send, check: warnings count as errors
    bool dryRun = false; // send: print the frames, open no port
    std::string regmapFile, chip;       // --regmap FILE, --chip NAME
    std::optional<evb::RegisterMap> map; // loaded from either once the arguments are parsed
    bool all = false;                    // diff and restore compare volatile registers too
    std::string command;
    std::vector<std::string> args;
};

int number(const std::string& text, const char* what, int lo, int hi) {
    const std::optional<int> v = evb::StrToIntOpt(text);
    if (!v) throw UsageError{std::string("not a number for ") + what + ": '" + text + "'"};
    const int a = *v;
    if (a < lo || a > hi)
        throw UsageError{std::string(what) + " out of range (" + std::to_string(lo) + ".." +
                         std::to_string(hi) + "): '" + text + "'"};
    return a;
}

std::uint8_t byteArg(const std::string& text, const char* what) {
    return static_cast<std::uint8_t>(number(text, what, 0, 255));
}

// Options may stand anywhere on the line, before or after the command and its arguments; after
// "--" every word is an argument (a file named "--x").
Options parse(const std::vector<std::string>& args) {
    Options o;
    std::vector<std::string> words;
    std::size_t i = 0;
    const auto value = [&](const std::string& opt) -> const std::string& {
        if (i + 1 >= args.size()) throw UsageError{opt + " needs a value"};
        return args[++i];
    };
    bool optionsEnded = false;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 3 || a.rfind("--", 0) != 0) {
            words.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "--port") {
            o.port = value(a);
            // An unset variable in a script ($PORT) must not fall back to a machine's port.
            if (o.port->find_first_not_of(" \t") == std::string::npos)
                throw UsageError{"--port needs a device name; it was empty"};
        } else if (a == "--baud") {
            o.baud = static_cast<std::uint32_t>(number(value(a), "baud rate", 50, 4000000));
        } else if (a == "--timeout") {
            o.timeoutMs = number(value(a), "timeout", 1, 3600000);
        } else if (a == "--simulate") {
            o.simulate = true;
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--regmap") {
            o.regmapFile = value(a);
        } else if (a == "--chip") {
            o.chip = value(a);
        } else if (a == "--all") {
            o.all = true;
        } else if (a == "--strict") {
            o.strict = true;
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else {
            throw UsageError{"unknown option " + a};
        }
    }
    if (words.empty()) throw UsageError{"no command given"};
    o.command = words.front();
    o.args.assign(words.begin() + 1, words.end());
    if (o.simulate && o.port) throw UsageError{"--simulate and --port exclude each other"};
    if (o.dryRun && o.command != "send") throw UsageError{"--dry-run goes with 'send' only"};
    if (o.strict && o.command != "send" && o.command != "check")
        throw UsageError{"--strict goes with 'send' and 'check' only"};
    return o;
}

void expectArgs(const Options& o, std::size_t min, std::size_t max) {
    if (o.args.size() < min || o.args.size() > max)
        throw UsageError{"wrong number of arguments for '" + o.command + "'"};
}

evb::BoardSession::Options lineOptions(TalonComm::TLineIo* line) {
    evb::BoardSession::Options o;
    o.line = line;
    return o;
}

class Session {
  public:
    Session(const Options& options, std::ostream& out, std::ostream& err, TalonComm::TLineIo* line)
        : m_options(options), m_out(out), m_err(err), m_report(out, err, m_watch),
          m_board(&m_report, lineOptions(line)), m_scope(m_board) {
        // The link log (--trace) names the registers of this run's map.
        if (options.map) m_board.linkNames = std::make_shared<const evb::RegisterMap>(*options.map);
    }

    ~Session() {
        if (m_device.fGetActive()) {
            // Let the last frames reach the line before the port closes.
            m_device.WaitWriteDrained(std::chrono::milliseconds(m_options.timeoutMs));
            if (const std::string note = m_device.Engine()->TakeLineNote(); !note.empty())
                evb::LogPortEvent(m_device.fGetPortName(), note);
            try {
                m_device.fSetActive(false);
            } catch (const TalonComm::ETalonCommError&) {
            }
        } else if (m_watch.hungUp()) {
            evb::LogPortEvent(m_device.fGetPortName(), "went away");
        }
        if (m_traceObserver) m_board.Log().removeObserver(m_traceObserver);
        if (m_sim) m_sim->Stop();
    }

    int open() {
        std::string port;
        if (m_options.simulate) {
            evbsim::SimOptions so;
            so.baud = m_options.baud;
            m_sim = std::make_unique<evbsim::SimBoard>(so);
            if (!m_sim->Start()) {
                m_err << "evbctl: the simulated board could not get a pseudo-terminal" << std::endl;
                return kExitPort;
            }
            port = m_sim->DevicePath();
        } else if (m_options.port) {
            port = *m_options.port;
            WarnIfSystemConsole(port, m_err);
        } else if ((port = PickPort(m_err)).empty()) {
            return kExitPort;
        }

        if (m_options.trace)
            m_traceObserver = m_board.Log().addObserver(
                [this](const evb::LinkEntry& e) { m_err << evb::FormatLinkEntry(e) << '\n' << std::flush; });
        m_device.fSetPortName(port);
        m_device.fSetBaudRate(m_options.baud);
        m_device.fSetParity(TalonComm::ptNoParity);
        m_device.fSetByteSize(8);
        m_device.fSetStopBits(TalonComm::sbOneStopBit);
        m_device.fSetPackageSize(8192);
        m_device.fSetPackageType(TalonComm::cptFrameTimeout);
        m_device.fSetPackageInterval(50);
        m_device.fSetSyncEvents(false);
        m_device.fSetUsePackage(true);
        try {
            m_device.fSetActive(true);
        } catch (const TalonComm::ETalonCommError& e) {
            // One line, so a script's log keeps the reason with the port.
            m_err << "evbctl: " << e.what() << (e.OsReason().empty() ? "" : ": " + e.OsReason()) << std::endl;
            return kExitPort;
        }
        // Bytes that were waiting in the driver (a late answer to an earlier run) are not an
        // answer to this run's command.
        m_device.PurgeRead(true);
        return kExitOk;
    }

    // Checks the command's arguments before any port is opened; returns what to do once it is.
    std::function<int()> prepare() {
        const std::string& c = m_options.command;
        if (c == "info") return info();
        if (c == "read") return read();
        if (c == "write") return write();
        if (c == "dump") return dump();
        if (c == "send") return send();
        if (c == "save") return save();
        if (c == "diff") return diff();
        if (c == "restore") return restore();
        if (c == "address") return address();
        if (c == "mode") return mode();
        if (c == "mclk") return mclk();
        if (c == "sdp") return sdp();
        if (c == "fields") {
            expectArgs(m_options, 1, 1);
            return FieldsCommand(m_options.args[0], map(), registerIo(), m_out);
        }
        throw UsageError{"unknown command '" + c + "'"};
    }

  private:
    Clock::time_point deadline() const {
        return Clock::now() + std::chrono::milliseconds(m_options.timeoutMs);
    }

    // Takes every waiting package; returns how many bytes they held.
    std::uint64_t drainReplies() {
        std::uint8_t buf[kReplyBufferSize];
        std::uint64_t total = 0;
        for (long n; (n = m_device.Read(buf, kReplyBufferSize)) > 0;) {
            evb::LogPackage(buf, static_cast<std::size_t>(n), "consumed");
            total += static_cast<std::uint64_t>(n);
        }
        return total;
    }

    // Throws away whatever the board said before the command (noise, late answers).
    void discardWaiting() {
        std::uint8_t buf[kReplyBufferSize];
        for (long n; (n = m_device.Read(buf, kReplyBufferSize)) > 0;)
            evb::LogPackage(buf, static_cast<std::size_t>(n), "consumed");
    }

    // Gathers reply bytes package by package until want bytes arrived or the deadline passed.
    Bytes collect(std::size_t want, Clock::time_point until) {
        Bytes got;
        std::uint8_t buf[kReplyBufferSize];
        for (;;) {
            // Counted before reading, so a package completed meanwhile is not waited for again.
            const std::uint64_t seen = m_watch.packages();
            long n;
            while (got.size() < want && (n = m_device.Read(buf, kReplyBufferSize)) > 0) {
                const auto len = static_cast<std::size_t>(n);
                evb::LogPackage(buf, len,
                                evb::DescribeReply(evb::ExpectedReply, buf, len, static_cast<int>(want), got.empty()));
                got.insert(got.end(), buf, buf + n);
            }
            if (got.size() >= want || m_watch.hungUp() || !m_watch.waitBeyond(seen, until)) break;
        }
        return got;
    }

    // How the line's end is told: a network port loses its connection, a device hangs up.
    std::string lineLost() const {
        const std::string& port = m_device.fGetPortName();
        return TalonComm::TNetLine::IsNetName(port) ? "the connection to " + port + " was lost"
                                                    : std::string("the port closed (hang-up)");
    }

    int noAnswer(std::size_t got, std::size_t want) {
        if (m_watch.hungUp())
            m_err << "evbctl: " << lineLost() << " before the board answered" << std::endl;
        else if (got == 0)
            m_err << "evbctl: the board did not answer within " << m_options.timeoutMs << " ms" << std::endl;
        else
            m_err << "evbctl: the board answered " << got << " of " << want << " bytes within "
                  << m_options.timeoutMs << " ms" << std::endl;
        return kExitNoAnswer;
    }

    int notSent() {
        m_err << "evbctl: the frame could not be sent" << std::endl;
        return kExitNoAnswer;
    }

    // Sends one command that the board acknowledges; prints line once the board has answered.
    int acknowledged(const std::function<bool()>& cmd, const std::string& line) {
        discardWaiting();
        if (cmd()) return notSent();
        if (collect(1, deadline()).empty()) return noAnswer(0, 1);
        m_report.ConsoleAppend(line);
        return kExitOk;
    }

    std::function<int()> info() {
        expectArgs(m_options, 0, 0);
        return [this]() -> int {
            discardWaiting();
            if (evb::CmdBoardInfo()) return notSent();
            const Bytes b = collect(evb::kRecordSize, deadline());
            if (b.size() < evb::kRecordSize) return noAnswer(b.size(), evb::kRecordSize);
            m_report.ConsoleAppend(evb::FormatBoardInfo(b.data()));
            return kExitOk;
        };
    }

    const evb::RegisterMap* map() const { return m_options.map ? &*m_options.map : nullptr; }

    // Reads one register without a console line.
    int readOne(std::uint8_t reg, std::uint8_t& value) {
        discardWaiting();
        if (evb::CmdReadReg(reg)) return notSent();
        const Bytes b = collect(1, deadline());
        if (b.empty()) return noAnswer(0, 1);
        value = b[0];
        return kExitOk;
    }

    int writeOne(std::uint8_t reg, std::uint8_t value) {
        return acknowledged([&] { return evb::CmdWriteReg(reg, value); }, evb::FormatWriteReg(reg, value));
    }

    RegisterIo registerIo() {
        return {[this](std::uint8_t reg, std::uint8_t& value) { return readOne(reg, value); },
                [this](std::uint8_t reg, std::uint8_t value) { return writeOne(reg, value); }};
    }

    std::function<int()> read() {
        expectArgs(m_options, 1, 1);
        const std::uint8_t reg = RegisterArgument(m_options.args[0], map());
        return [this, reg]() -> int {
            std::uint8_t value = 0;
            if (const int rc = readOne(reg, value); rc != kExitOk) return rc;
            m_report.ConsoleAppend(evb::FormatReadReg(reg, value));
            return kExitOk;
        };
    }

    std::function<int()> write() {
        expectArgs(m_options, 2, 2);
        if (auto field = FieldWriteCommand(m_options.args[0], m_options.args[1], map(), registerIo())) return *field;
        const std::uint8_t reg = RegisterArgument(m_options.args[0], map());
        const std::uint8_t value = byteArg(m_options.args[1], "value");
        if (map())
            if (const std::string problem = evb::WriteProblem(*map(), reg, value); !problem.empty())
                m_err << "evbctl: warning: " << problem << "; the write is sent" << std::endl;
        return [this, reg, value] { return writeOne(reg, value); };
    }

    // Reads count registers from register 0 into values (a count of 255 goes out as 256, the
    // builder's rule, so 256 bytes come back).
    int readAll(int count, Bytes& values) {
        discardWaiting();
        if (evb::CmdReadAllReg(0, static_cast<std::uint16_t>(count))) return notSent();
        const auto answered = static_cast<std::size_t>(evb::RegistersAnswered(count));
        values = collect(answered, deadline());
        if (values.size() < answered) return noAnswer(values.size(), answered);
        values.resize(answered);
        return kExitOk;
    }

    int countArg(std::size_t index) const {
        return m_options.args.size() > index ? number(m_options.args[index], "count", 1, 256) : 256;
    }

    std::function<int()> dump() {
        expectArgs(m_options, 0, 1);
        const int count = countArg(0);
        return [this, count]() -> int {
            Bytes b;
            if (const int rc = readAll(count, b); rc != kExitOk) return rc;
            std::string text = "   ";
            for (int c = 0; c < 16; ++c)
                text += " " + evb::Hex2(static_cast<unsigned>(c));
            text += "\n";
            for (int row = 0; row * 16 < count; ++row) {
                text += evb::Hex2(static_cast<unsigned>(row * 16)) + ":";
                for (int c = 0; c < 16 && row * 16 + c < count; ++c)
                    text += " " + evb::Hex2(b[static_cast<std::size_t>(row * 16 + c)]);
                text += "\n";
            }
            m_out << text << std::flush;
            return kExitOk;
        };
    }

    std::function<int()> save() {
        expectArgs(m_options, 1, 2);
        const std::string path = m_options.args[0];
        const int count = countArg(1);
        return [this, path, count]() -> int {
            Bytes b;
            if (const int rc = readAll(count, b); rc != kExitOk) return rc;
            evb::SnapshotHeader header; // evbctl knows the chip only from a map, never its address
            header.when = evb::SnapshotTime();
            if (map()) header.chip = map()->chip();
            const std::string failed =
                evb::SaveTextFile(path, map() ? evb::SnapshotText(b, header, *map()) : evb::SnapshotText(b, header));
            if (!failed.empty()) {
                m_err << "evbctl: cannot write " << failed << std::endl;
                return kExitUsage;
            }
            m_out << b.size() << " registers saved to " << path << "\n" << std::flush;
            return kExitOk;
        };
    }

    // The file argument read and checked before the port is opened: a wrong file name or a
    // file with errors costs no port and sends nothing.
    std::shared_ptr<evb::CheckedConfigFile> checkedFile(const evb::ConfigCheckOptions& options) {
        const std::string& path = m_options.args[0];
        auto f = std::make_shared<evb::CheckedConfigFile>(evb::LoadCheckedConfigFile(path, options));
        if (!f->load.ok) throw FileError{"cannot read " + f->load.error};
        if (f->load.droppedBytes > 0)
            m_err << "evbctl: " << path << " is longer than " << evb::kConfigBufferSize << " bytes; the last "
                  << f->load.droppedBytes << " bytes were not loaded" << std::endl;
        if (map()) evb::AddRegisterMapWarnings(f->check, *map());
        if (m_options.strict) f->check.countWarningsAsErrors();
        m_err << f->check.format(path) << std::flush;
        if (f->check.hasErrors()) {
            m_err << "evbctl: " << f->check.nothingSent(path) << std::endl;
            throw NothingSent{};
        }
        return f;
    }

    // The file's values to compare with; with a map and without --all, volatile registers are
    // left out (they change by themselves).
    evb::RegisterValues expectedOf(const evb::CheckedConfigFile& file) {
        evb::RegisterValues expected = evb::ExpectedRegisters(file.check);
        if (map() && !m_options.all)
            if (const int n = evb::LeaveOutVolatile(expected, *map()); n > 0)
                m_out << n << (n == 1 ? " volatile register" : " volatile registers")
                      << " of the file left out (--all compares them)\n";
        return expected;
    }

    // Lists the registers that differ; exit 0 when all match, 5 when some differ.
    int reportComparison(const Bytes& board, const evb::RegisterValues& expected, const char* lead) {
        const std::string& path = m_options.args[0];
        const evb::RegisterComparison c = evb::CompareRegisters(board, expected);
        for (const evb::RegisterDiff& d : c.diffs)
            m_out << evb::FormatRegisterDiff(d, map()) << "\n";
        m_out << lead << evb::ComparisonSummary(c, path, static_cast<int>(board.size())) << "\n" << std::flush;
        return c.matches() ? kExitOk : kExitRegistersDiffer;
    }

    std::function<int()> diff() {
        expectArgs(m_options, 1, 2);
        const int count = countArg(1);
        const auto file = checkedFile({});
        return [this, count, file]() -> int {
            Bytes b;
            if (const int rc = readAll(count, b); rc != kExitOk) return rc;
            return reportComparison(b, expectedOf(*file), "");
        };
    }

    // Writes only the registers that differ, as one batch, then reads back and compares again.
    std::function<int()> restore() {
        expectArgs(m_options, 1, 2);
        const int count = countArg(1);
        const auto file = checkedFile({});
        return [this, count, file]() -> int {
            evb::RegisterValues expected = expectedOf(*file);
            Bytes b;
            if (const int rc = readAll(count, b); rc != kExitOk) return rc;
            evb::RegisterComparison before = evb::CompareRegisters(b, expected);
            if (map()) {
                // A read-only register cannot take the file's value: it is named and left out.
                const std::vector<evb::RegisterDiff> readOnly = evb::LeaveOutReadOnly(before.diffs, *map());
                if (!readOnly.empty())
                    m_out << "not restored (read-only): " << evb::RegisterList(readOnly, *map()) << "\n";
                for (const evb::RegisterDiff& d : readOnly)
                    expected.erase(d.reg);
            }
            if (before.matches()) return reportComparison(b, expected, "nothing to restore: ");
            m_out << "writing " << before.diffs.size() << (before.diffs.size() == 1 ? " register\n" : " registers\n")
                  << std::flush;
            const std::string text = evb::RestoreText(before.diffs);
            if (const int rc = sendBatch(text); rc != kExitOk) return rc;
            if (const int rc = readAll(count, b); rc != kExitOk) return rc;
            return reportComparison(b, expected, "after restore: ");
        };
    }

    std::function<int()> send() {
        expectArgs(m_options, 1, 1);
        auto load = checkedFile({.strict = m_options.strict});
        return [this, load] { return sendBatch(load->sendable()); };
    }

    // Sends checked configuration text as one batch and waits for the board to take it.
    int sendBatch(std::string_view text) {
        discardWaiting();
        const std::uint64_t framesBefore = evb::FramesSent();
        const auto started = Clock::now();
        // Acknowledgements are taken as the lines go out, so the package slots never overflow.
        m_replyBytes = 0;
        evb::ConfigSendHooks hooks;
        hooks.setProgress = [this](int) { m_replyBytes += drainReplies(); };
        // Ctrl+C stops the send after the current line and still closes the batch.
        hooks.stopRequested = [] { return gInterrupted.load(std::memory_order_relaxed); };
        gInterrupted.store(false);
        const auto previous = std::signal(SIGINT, onInterrupt);
        const evb::ConfigSendResult r = evb::SendConfigLines(text, evb::kConfigLineLimit, 1, true, hooks);
        std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
        if (r.stopped) {
            m_replyBytes += drainReplies();
            return kExitInterrupted;
        }
        if (r.aborted || r.framesNotSent > 0) {
            if (!r.aborted)
                m_err << "evbctl: " << r.framesNotSent << " frames could not be sent" << std::endl;
            else if (!m_device.fGetActive()) // the hang-up's report may still be on its way
                m_err << "evbctl: " << lineLost() << std::endl;
            return kExitNoAnswer;
        }
        return awaitBatch(evb::FramesSent() - framesBefore, started);
    }

    // The frames of a batch may still be on their way when the send returns (a driver's buffer
    // holds many of them), so the board has the batch's wire time plus the timeout to answer.
    // It is done when it has acknowledged every frame, or, for a board that does not answer
    // each line, when it has answered after the end frame once the batch's wire time is over.
    int awaitBatch(std::uint64_t frames, Clock::time_point started) {
        const auto wire =
            std::chrono::microseconds(frames * evb::kFrameSize * 10 * 1'000'000ULL / m_options.baud);
        const auto wireDone = started + wire;
        const auto until = deadline() + wire;
        const std::uint64_t packagesAtEnd = m_watch.packages();
        for (;;) {
            const std::uint64_t seen = m_watch.packages();
            m_replyBytes += drainReplies();
            if (m_replyBytes >= frames) return kExitOk;
            const bool answeredAfterEnd = seen > packagesAtEnd;
            if (answeredAfterEnd && Clock::now() >= wireDone) return kExitOk;
            if (m_watch.hungUp()) return batchCutOff(frames);
            if (!m_watch.waitBeyond(seen, answeredAfterEnd ? wireDone : until)) {
                // Frames still in the driver when the line went away never reach the board.
                if (m_watch.hungUp()) return batchCutOff(frames);
                return answeredAfterEnd ? kExitOk : noAnswer(0, 1);
            }
        }
    }

    int batchCutOff(std::uint64_t frames) {
        m_err << "evbctl: " << lineLost() << " before the board had the whole batch: " << m_replyBytes
              << " of " << frames << " frames acknowledged" << std::endl;
        return kExitNoAnswer;
    }

    std::function<int()> address() {
        expectArgs(m_options, 1, 1);
        const std::uint8_t a = byteArg(m_options.args[0], "chip address");
        return [this, a] {
            return acknowledged([&] { return evb::CmdChipAddress(a); },
                                "Set the CHIP Address:0x" + evb::Hex2(a) + "\r\n");
        };
    }

    std::function<int()> mode() {
        expectArgs(m_options, 1, 1);
        static const std::map<std::string, std::pair<std::uint8_t, const char*>> kModes = {
            {"i2c", {0, "IIC Mode"}}, {"iic", {0, "IIC Mode"}}, {"spi", {1, "SPI Mode"}}};
        const auto it = kModes.find(m_options.args[0]);
        if (it == kModes.end()) throw UsageError{"mode must be i2c or spi"};
        const auto [code, name] = it->second;
        const std::string line = std::string("Set the COMM Mode:") + name + "\r\n";
        return
            [this, code = code, line] { return acknowledged([&] { return evb::CmdCommMode(code); }, line); };
    }

    std::function<int()> mclk() {
        expectArgs(m_options, 1, 1);
        static const std::map<std::string, std::pair<std::uint8_t, const char*>> kSources = {
            {"osc", {1, "Use Oscillator Clock"}},
            {"dmclk", {0, "Use SPDIF DMCLK"}},
            {"amclk", {3, "Use SPDIF AMCLK"}}};
        const auto it = kSources.find(m_options.args[0]);
        if (it == kSources.end()) throw UsageError{"mclk must be osc, dmclk or amclk"};
        const auto [code, name] = it->second;
        const std::string line = std::string("Set the MCLK:") + name + "\r\n";
        return [this, code = code, line] {
            return acknowledged([&] { return evb::CmdMclkSource(code); }, line);
        };
    }

    std::function<int()> sdp() {
        expectArgs(m_options, 2, 2);
        std::string p = m_options.args[0];
        if (p.size() == 4 && (p.rfind("sdp", 0) == 0 || p.rfind("SDP", 0) == 0)) p = p.substr(3);
        const int port = number(p, "SDP port", 1, 3);
        static const std::map<std::string, std::uint8_t> kDirs = {
            {"to-spdif", 0}, {"codec2spdif", 0}, {"0", 0}, {"to-codec", 1}, {"spdif2codec", 1}, {"1", 1}};
        const auto it = kDirs.find(m_options.args[1]);
        if (it == kDirs.end()) throw UsageError{"direction must be to-spdif or to-codec"};
        const std::uint8_t dir = it->second;
        const std::string line = "Set the SDP" + std::to_string(port) + ":" +
                                 (dir == 0 ? "Codec=>Spdif" : "Spdif=>Codec") + "\r\n";
        return [this, port, dir, line] {
            return acknowledged(
                [&] { return evb::CmdSdpDirection(static_cast<std::uint8_t>(port - 1), dir); }, line);
        };
    }

    const Options& m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    StreamReport m_report;
    ReplyWatch m_watch;
    std::unique_ptr<evbsim::SimBoard> m_sim;
    std::uint64_t m_replyBytes = 0; // acknowledgement bytes of the batch being sent
    int m_traceObserver = 0;        // the link log's observer writing --trace lines
    // After the simulated board: the port is closed before the board goes away.
    evb::BoardSession m_board;
    evb::SessionScope m_scope; // this run's commands go to this run's board
    TalonComm::TRkCommDevice& m_device = m_board.Device();
};

} // namespace

std::string UsageText() {
    return "usage: evbctl [--port DEVICE] [--baud N] [--timeout MS] [--simulate] [--trace]\n"
           "              [--regmap FILE | --chip NAME] COMMAND [ARGS]\n"
           "       evbctl --help | --version\n"
           "\n"
           "commands:\n"
           "  info                  print the board's information record (.....EVBINFO:...)\n"
           "  read REG              read one codec register (REG: a number, or a name with a map)\n"
           "  write REG VALUE       write one codec register\n"
           "  write NAME.FIELD VALUE  change one bit field (VALUE: a number or one of the field's\n"
           "                        value names): the register is read, then written\n"
           "  fields REG            read a register and decode its bit fields (needs a map)\n"
           "  regmap check FILE...  check register-map files (JSON or CMSIS-SVD); exit 4 on errors\n"
           "  regmap show FILE      print a register map as a table of registers and fields\n"
           "  dump [COUNT]          read COUNT registers from 0 (1..256, default 256) as a table\n"
           "  send FILE             send a register configuration file (lines :Wrrvv@ :Dhhll@ :Gaabb@ "
           ":Cxxxx@)\n"
           "  send --dry-run FILE   print the frames send would write, one a line; opens no port\n"
           "  send --strict FILE    send only a file without warnings (they count as errors)\n"
           "  check FILE...         print the file's errors and warnings and a summary; opens no port\n"
           "  check --strict FILE...  the same, warnings counting as errors (exit 4)\n"
           "  save FILE [COUNT]     save COUNT registers (default 256) as a configuration file\n"
           "  diff FILE [COUNT]     list the registers whose value differs from FILE's writes\n"
           "                        (Reg0x1A: board 0x05, file 0x07); exit 5 when some differ\n"
           "  restore FILE [COUNT]  write only the registers that differ from FILE, as one batch,\n"
           "                        then read back; exit 5 when some still differ\n"
           "  address ADDR          set the codec's chip address on its control bus\n"
           "  mode i2c|spi          choose the codec's control interface\n"
           "  mclk osc|dmclk|amclk  choose the codec's MCLK source\n"
           "  ports                 list the serial ports (tab-separated: name, description, maker,\n"
           "                        driver, USB vendor:product, location, /dev/serial/by-id alias)\n"
           "  sdp PORT DIR          route SDP1..SDP3: DIR is to-spdif (Codec=>Spdif) or to-codec "
           "(Spdif=>Codec)\n"
           "\n"
           "options:\n"
           "  --port DEVICE   COMn, /dev/ttyUSB0, /dev/pts/N ... (default: the last port found),\n"
           "                  or a port on the network: tcp://HOST:PORT (raw), rfc2217://HOST:PORT\n"
           "  --baud N        line speed (default 19200, 8N1)\n"
           "  --timeout MS    how long to wait for the board's answer (default 1000)\n"
           "  --simulate      use a simulated board inside evbctl instead of a port\n"
           "  --trace         write every frame, reply package and port event to stderr\n"
           "                  (HH:MM:SS.mmm TX|RX bytes  meaning)\n"
           "  --regmap FILE   name registers and fields from a register map (JSON or CMSIS-SVD)\n"
           "  --chip NAME     use the register map shipped for a chip (KV2440, ...)\n"
           "  --all           diff and restore compare volatile registers too (with a map)\n"
           "  --strict        send, check: a file with warnings is not sent (exit 4)\n"
           "  --dry-run       send: print the frames instead of opening a port\n"
           "  --version       print the version and exit\n"
           "Options may also follow the command; after -- every word is an argument.\n"
           "\n"
           "Numbers may be written 26, 0x1A, x1A or $1A.\n"
           "Exit status: 0 success, 1 no answer in time or a frame not sent, 2 usage error,\n"
           "3 the port could not be opened, 4 the file has errors and nothing was sent,\n"
           "5 registers differ from the file, 130 a send stopped by Ctrl+C (the batch is closed).\n";
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return Run(args, out, err, nullptr);
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, TalonComm::TLineIo* line) {
    for (const std::string& a : args) {
        if (a == "--") break;
        if (a == "--help" || a == "-h") {
            out << UsageText();
            return kExitOk;
        }
        if (a == "--version") {
            out << "evbctl " << EVB_VERSION << "\n";
            return kExitOk;
        }
    }
    try {
        Options options = parse(args);
        // The file commands that need no port.
        if (options.command == "regmap") return RunRegmap(options.args, out, err);
        options.map = ChooseRegisterMap(options.regmapFile, options.chip, err);
        if (options.command == "check") {
            if (options.args.empty()) throw UsageError{"'check' needs at least one file"};
            return RunCheck(options.args, options.baud, options.strict, out, err, options.map ? &*options.map : nullptr);
        }
        if (options.dryRun) {
            if (options.args.size() != 1) throw UsageError{"'send --dry-run' needs one file"};
            return RunDryRun(options.args[0], options.strict, out, err);
        }
        if (options.command == "ports") {
            expectArgs(options, 0, 0);
            return ListPorts(out);
        }
        Session session(options, out, err, line);
        const std::function<int()> action = session.prepare();
        if (const int rc = session.open(); rc != kExitOk) return rc;
        return action();
    } catch (const NothingSent&) {
        return kExitFileErrors;
    } catch (const FileError& e) {
        err << "evbctl: " << e.message << std::endl;
        return kExitUsage;
    } catch (const RegmapArgError& e) {
        err << "evbctl: " << e.message << (e.withUsage ? "; see `evbctl --help`" : "") << std::endl;
        return kExitUsage;
    } catch (const UsageError& e) {
        err << "evbctl: " << e.message << "; see `evbctl --help`" << std::endl;
        return kExitUsage;
    }
}

} // namespace evbctl
