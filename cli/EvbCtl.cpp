#include "cli/EvbCtl.h"

#include "cli/EvbCtlCheck.h"
#include "cli/EvbCtlPorts.h"
#include "cli/EvbCtlRegmap.h"
#include "cli/EvbCtlResult.h"
#include "cli/EvbCtlSession.h"

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
#include "protocol/WriteRecording.h"
#include "serial/ETalonCommError.h"
#include "serial/TCommSerialPortInfo.h"
#include "serial/TNetLine.h"
#include "serial/TRkCommDevice.h"
#include "serial/TTalonComm.h"
#include "sim/SimBoard.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <functional>
#include <iomanip>
#include <iostream>
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

// The file has errors: nothing is sent and no port is opened (exit 4). The diagnostics have
// gone to the error stream; the message sums them up.
struct NothingSent {
    std::string message;
};

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
    StreamReport(std::ostream& out, std::ostream& err, ReplyWatch& watch) : m_out(&out), m_err(&err), m_watch(watch) {}
    // The streams of the command being run; quiet: the console lines are not wanted (--json).
    void bind(std::ostream& out, std::ostream& err, bool quiet) {
        m_out = &out;
        m_err = &err;
        m_quiet = quiet;
    }
    void Wake(const evb::SessionWake& wake) override {
        if (wake.kind == evb::SessionWake::Kind::Package) m_watch.packageDone();
        if (wake.kind == evb::SessionWake::Kind::PortGone) m_watch.lineGone();
    }
    void ConsoleAppend(const std::string& text) override {
        if (m_quiet) return;
        std::string plain;
        plain.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i)
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
        *m_out << plain << std::flush;
    }
    void ShowWarning(const std::string& line1, const std::string& line2) override {
        *m_err << "evbctl: " << line1;
        if (!line2.empty()) *m_err << " " << line2;
        *m_err << std::endl;
    }

  private:
    std::ostream* m_out;
    std::ostream* m_err;
    bool m_quiet = false;
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
    bool json = false;   // --json: each result one JSON object on stdout
    std::string regmapFile, chip;                // --regmap FILE, --chip NAME
    std::shared_ptr<const evb::RegisterMap> map; // loaded from either once the arguments are parsed
    bool all = false;                            // diff and restore compare volatile registers too
    bool packageGap = false;                     // answers end after 50 ms of silence, as in the windows
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
// base: the values of the options the words do not give.
Options parse(const std::vector<std::string>& args, Options o = {}) {
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
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--package-gap") {
            o.packageGap = true;
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

evb::BoardSession::Options sessionOptions(const Options& options, TalonComm::TLineIo* line) {
    evb::BoardSession::Options o;
    o.line = line;
    o.reopens = false; // a run reports a lost port and ends
    o.packageGap = options.packageGap;
    return o;
}

// One board's port and board session, for one command (a run of evbctl) or for many (a
// session's board). Built, used and destroyed on one thread: it is that thread's current session.
class Board {
  public:
    // err: where --trace lines and the port's own messages go.
    Board(const Options& options, std::ostream& err, TalonComm::TLineIo* line)
        : m_options(options), m_traceErr(err), m_report(err, err, m_watch),
          m_board(&m_report, sessionOptions(options, line)), m_scope(m_board) {
        // The link log (--trace) names the registers of this run's map.
        m_board.linkNames = options.map;
    }

    ~Board() {
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

    // The command to run next (its options and arguments) and where its result goes.
    void bind(const Options& command, Result& result) {
        m_options = command;
        m_result = &result;
        m_report.bind(result.out(), result.err(), result.json());
        result.setCommand(command.command);
    }

    // The port has gone (a hang-up, a lost connection): commands can no longer reach the board.
    bool gone() const { return m_watch.hungUp(); }
    std::string portName() const { return m_device.fGetPortName(); }

    // Ctrl+C is watched by whoever runs the board's commands (a session), not by each send.
    void setInterruptOwner(bool own) { m_ownInterrupt = own; }

    // Opens the port; failures are told through result.
    int open(Result& result) {
        std::string port;
        if (m_options.simulate) {
            evbsim::SimOptions so;
            so.baud = m_options.baud;
            m_sim = std::make_unique<evbsim::SimBoard>(so);
            if (!m_sim->Start()) return result.fail(kExitPort, "the simulated board could not get a pseudo-terminal");
            port = m_sim->DevicePath();
        } else if (m_options.port) {
            port = *m_options.port;
            WarnIfSystemConsole(port, result.err());
        } else if ((port = PickPort(result.err())).empty()) {
            return result.fail(kExitPort, "no serial port found");
        }

        if (m_options.trace)
            m_traceObserver = m_board.Log().addObserver(
                [this](const evb::LinkEntry& e) { m_traceErr << evb::FormatLinkEntry(e) << '\n' << std::flush; });
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
            return result.fail(kExitPort, e.what() + (e.OsReason().empty() ? "" : ": " + e.OsReason()));
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
            return FieldsCommand(m_options.args[0], map(), registerIo(), *m_result);
        }
        throw UsageError{"unknown command '" + c + "'"};
    }

  private:
    Clock::time_point deadline() const {
        return Clock::now() + std::chrono::milliseconds(m_options.timeoutMs);
    }

    // Takes every waiting package; returns how many bytes they held.
    std::uint64_t drainReplies() {
        std::uint64_t total = 0;
        for (std::size_t n; (n = evb::TakePackage(m_device, m_package)) > 0; total += n)
            evb::LogPackage(m_package.data(), n, "consumed");
        return total;
    }

    // Before a command whose answer has want bytes (0: not known): what the board said since
    // the last answer (noise, a late byte) is reported as unsolicited, never taken for the answer.
    void expectAnswer(std::size_t want) {
        m_board.ExpectAnswer(want);
        for (std::size_t n; (n = evb::TakePackage(m_device, m_package)) > 0;) {
            evb::LogPackage(m_package.data(), n, "unsolicited");
            unsolicited(m_package.data(), n);
        }
    }

    void unsolicited(const std::uint8_t* bytes, std::size_t n) {
        std::ostream& e = err();
        e << "evbctl: warning: the board sent " << n << (n == 1 ? " byte" : " bytes")
          << " nobody asked for:" << std::hex << std::uppercase << std::setfill('0');
        for (std::size_t i = 0; i < n; ++i)
            e << ' ' << std::setw(2) << static_cast<unsigned>(bytes[i]);
        e << std::dec << std::nouppercase << std::setfill(' ') << std::endl;
    }

    // Gathers reply bytes package by package until want bytes arrived or the deadline passed.
    Bytes collect(std::size_t want, Clock::time_point until) {
        Bytes got;
        for (;;) {
            // Counted before reading, so a package completed meanwhile is not waited for again.
            const std::uint64_t seen = m_watch.packages();
            for (std::size_t n; got.size() < want && (n = evb::TakePackage(m_device, m_package)) > 0;) {
                evb::LogPackage(m_package.data(), n,
                                evb::DescribeReply(evb::ExpectedReply, m_package.data(), n, static_cast<int>(want),
                                                   got.empty()));
                got.insert(got.end(), m_package.begin(), m_package.end());
            }
            if (got.size() >= want || m_watch.hungUp() || !m_watch.waitBeyond(seen, until)) break;
        }
        // Bytes that came with the answer, after it.
        if (got.size() > want) {
            unsolicited(got.data() + want, got.size() - want);
            got.resize(want);
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
        const std::string within = " within " + std::to_string(m_options.timeoutMs) + " ms";
        if (m_watch.hungUp()) return fail(kExitNoAnswer, lineLost() + " before the board answered");
        if (got == 0) return fail(kExitNoAnswer, "the board did not answer" + within);
        return fail(kExitNoAnswer,
                    "the board answered " + std::to_string(got) + " of " + std::to_string(want) + " bytes" + within);
    }

    int notSent() { return fail(kExitNoAnswer, "the frame could not be sent"); }

    int fail(int rc, const std::string& message, bool tell = true) { return m_result->fail(rc, message, tell); }
    std::ostream& err() { return m_result->err(); }
    Result& result() { return *m_result; }

    // Sends one command that the board acknowledges; prints line once the board has answered.
    int acknowledged(const std::function<bool()>& cmd, const std::string& line) {
        expectAnswer(1);
        if (cmd()) return notSent();
        if (collect(1, deadline()).empty()) return noAnswer(0, 1);
        m_report.ConsoleAppend(line);
        return kExitOk;
    }

    // The register's number and, with a map, its name, as the result's fields.
    void registerFields(std::uint8_t reg) {
        result()["reg"] = reg;
        result()["name"] = nameOf(reg);
    }

    std::function<int()> info() {
        expectArgs(m_options, 0, 0);
        return [this]() -> int {
            expectAnswer(evb::kRecordSize);
            if (evb::CmdBoardInfo()) return notSent();
            const Bytes b = collect(evb::kRecordSize, deadline());
            if (b.size() < evb::kRecordSize) return noAnswer(b.size(), evb::kRecordSize);
            std::string record = evb::FormatBoardInfo(b.data());
            m_report.ConsoleAppend(record);
            while (!record.empty() && (record.back() == '\n' || record.back() == '\r'))
                record.pop_back();
            result()["record"] = record;
            result()["bytes"] = Bytes(b.begin(), b.begin() + evb::kRecordSize);
            return kExitOk;
        };
    }

    const evb::RegisterMap* map() const { return m_options.map.get(); }

    // A register's name in the map, or null.
    Json nameOf(std::uint8_t reg) const {
        const evb::RegisterInfo* r = map() ? map()->find(reg) : nullptr;
        return r ? Json(r->name) : Json();
    }

    // Reads one register without a console line.
    int readOne(std::uint8_t reg, std::uint8_t& value) {
        expectAnswer(1);
        if (evb::CmdReadReg(reg)) return notSent();
        const Bytes b = collect(1, deadline());
        if (b.empty()) return noAnswer(0, 1);
        value = b[0];
        return kExitOk;
    }

    int writeOne(std::uint8_t reg, std::uint8_t value) {
        registerFields(reg);
        result()["value"] = value;
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
            registerFields(reg);
            if (const int rc = readOne(reg, value); rc != kExitOk) return rc;
            result()["value"] = value;
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
                err() << "evbctl: warning: " << problem << "; the write is sent" << std::endl;
        return [this, reg, value] { return writeOne(reg, value); };
    }

    // Reads count registers from register 0 into values (a count of 255 goes out as 256, the
    // builder's rule, so 256 bytes come back).
    int readAll(int count, Bytes& values) {
        const auto answered = static_cast<std::size_t>(evb::RegistersAnswered(count));
        expectAnswer(answered);
        if (evb::CmdReadAllReg(0, static_cast<std::uint16_t>(count))) return notSent();
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
            Json registers = Json::array();
            for (std::size_t reg = 0; reg < b.size(); ++reg) {
                registers.push_back(
                    {{"reg", reg}, {"name", nameOf(static_cast<std::uint8_t>(reg))}, {"value", b[reg]}});
            }
            result()["registers"] = std::move(registers);
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
            result().say(text);
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
            result()["file"] = path;
            if (!failed.empty()) return fail(kExitUsage, "cannot write " + failed);
            result()["count"] = b.size();
            result().say(std::to_string(b.size()) + " registers saved to " + path + "\n");
            return kExitOk;
        };
    }

    // The file argument read and checked before the port is opened: a wrong file name or a
    // file with errors costs no port and sends nothing.
    std::shared_ptr<evb::CheckedConfigFile> checkedFile(const evb::ConfigCheckOptions& options) {
        const std::string& path = m_options.args[0];
        auto f = std::make_shared<evb::CheckedConfigFile>(evb::LoadCheckedConfigFile(path, options));
        if (!f->load.ok) throw FileError{"cannot read " + f->load.error};
        result()["file"] = path;
        if (f->load.droppedBytes > 0)
            err() << "evbctl: " << path << " is longer than " << evb::kConfigBufferSize << " bytes; the last "
                  << f->load.droppedBytes << " bytes were not loaded" << std::endl;
        if (map()) evb::AddRegisterMapWarnings(f->check, *map());
        if (m_options.strict) f->check.countWarningsAsErrors();
        err() << f->check.format(path) << std::flush;
        if (f->check.hasErrors()) {
            result()["diagnostics"] = DiagnosticsJson(f->check.diagnostics, path);
            throw NothingSent{f->check.nothingSent(path)};
        }
        return f;
    }

    // The file's values to compare with; with a map and without --all, volatile registers are
    // left out (they change by themselves).
    evb::RegisterValues expectedOf(const evb::CheckedConfigFile& file) {
        evb::RegisterValues expected = evb::ExpectedRegisters(file.check);
        result()["volatile_left_out"] = 0;
        if (map() && !m_options.all)
            if (const int n = evb::LeaveOutVolatile(expected, *map()); n > 0) {
                result()["volatile_left_out"] = n;
                result().say(std::to_string(n) + (n == 1 ? " volatile register" : " volatile registers") +
                             " of the file left out (--all compares them)\n");
            }
        return expected;
    }

    // Lists the registers that differ; exit 0 when all match, 5 when some differ.
    int reportComparison(const Bytes& board, const evb::RegisterValues& expected, const char* lead) {
        const std::string& path = m_options.args[0];
        const evb::RegisterComparison c = evb::CompareRegisters(board, expected);
        Json diffs = Json::array();
        std::string text;
        for (const evb::RegisterDiff& d : c.diffs) {
            text += evb::FormatRegisterDiff(d, map()) + "\n";
            diffs.push_back({{"reg", d.reg}, {"name", nameOf(d.reg)}, {"board", d.board}, {"file", d.expected}});
        }
        const std::string summary = evb::ComparisonSummary(c, path, static_cast<int>(board.size()));
        result()["compared"] = c.compared;
        result()["not_read"] = c.notRead;
        result()["differences"] = std::move(diffs);
        result().say(text + lead + summary + "\n");
        return c.matches() ? kExitOk : result().fail(kExitRegistersDiffer, summary, false);
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
            result()["read_only"] = Json::array();
            if (map()) {
                // A read-only register cannot take the file's value: it is named and left out.
                const std::vector<evb::RegisterDiff> readOnly = evb::LeaveOutReadOnly(before.diffs, *map());
                if (!readOnly.empty())
                    result().say("not restored (read-only): " + evb::RegisterList(readOnly, *map()) + "\n");
                Json names = Json::array();
                for (const evb::RegisterDiff& d : readOnly) {
                    expected.erase(d.reg);
                    names.push_back({{"reg", d.reg}, {"name", nameOf(d.reg)}});
                }
                result()["read_only"] = std::move(names);
            }
            result()["written"] = before.matches() ? 0 : before.diffs.size();
            if (before.matches()) return reportComparison(b, expected, "nothing to restore: ");
            result().say("writing " + std::to_string(before.diffs.size()) +
                         (before.diffs.size() == 1 ? " register\n" : " registers\n"));

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
        expectAnswer(0);
        const std::uint64_t framesBefore = evb::FramesSent();
        const auto started = Clock::now();
        // Acknowledgements are taken as the lines go out, so the package slots never overflow.
        m_replyBytes = 0;
        evb::ConfigSendHooks hooks;
        hooks.setProgress = [this](int) { m_replyBytes += drainReplies(); };
        // Ctrl+C stops the send after the current line and still closes the batch; later, it
        // ends the wait for the board's acknowledgements. The handler only raises the flag,
        // which the send loop and the wait look at.
        hooks.stopRequested = [] { return gInterrupted.load(std::memory_order_relaxed); };
        struct InterruptScope {
            using Handler = void (*)(int);
            bool own;
            Handler previous = SIG_DFL;
            explicit InterruptScope(bool o) : own(o) {
                if (!own) return;
                gInterrupted.store(false);
                previous = std::signal(SIGINT, onInterrupt);
            }
            ~InterruptScope() {
                if (own) std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
            }
        } interruptScope(m_ownInterrupt);
        const evb::ConfigSendResult r = evb::SendConfigLines(text, evb::kConfigLineLimit, 1, true, hooks);
        const std::uint64_t frames = evb::FramesSent() - framesBefore;
        result()["lines"] = r.commandLines;
        result()["frames"] = frames;
        if (r.stopped) {
            m_replyBytes += drainReplies();
            return fail(kExitInterrupted, "stopped by Ctrl+C; the batch was closed", false);
        }
        if (r.aborted || r.framesNotSent > 0) {
            if (!r.aborted) return fail(kExitNoAnswer, std::to_string(r.framesNotSent) + " frames could not be sent");
            // The hang-up's report may still be on its way.
            return fail(kExitNoAnswer, lineLost(), !m_device.fGetActive());
        }
        return awaitBatch(frames, started);
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
            if (gInterrupted.load(std::memory_order_relaxed))
                return fail(kExitInterrupted,
                            "stopped by Ctrl+C while the board took the batch (closed): " +
                                std::to_string(m_replyBytes) + " of " + std::to_string(frames) + " frames acknowledged");
            const auto target = answeredAfterEnd ? wireDone : until;
            // Ctrl+C is looked for between waits of at most 50 ms.
            if (!m_watch.waitBeyond(seen, std::min(target, Clock::now() + std::chrono::milliseconds(50)))) {
                if (Clock::now() < target) continue;
                // Frames still in the driver when the line went away never reach the board.
                if (m_watch.hungUp()) return batchCutOff(frames);
                return answeredAfterEnd ? kExitOk : noAnswer(0, 1);
            }
        }
    }

    int batchCutOff(std::uint64_t frames) {
        // The package layer closed what arrived before the hang-up: it counts too.
        m_replyBytes += drainReplies();
        return fail(kExitNoAnswer, lineLost() + " before the board had the whole batch: " +
                                       std::to_string(m_replyBytes) + " of " + std::to_string(frames) +
                                       " frames acknowledged");
    }

    std::function<int()> address() {
        expectArgs(m_options, 1, 1);
        const std::uint8_t a = byteArg(m_options.args[0], "chip address");
        return [this, a] {
            result()["address"] = a;
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
        return [this, code = code, line] {
            result()["mode"] = code == 0 ? "i2c" : "spi";
            return acknowledged([&] { return evb::CmdCommMode(code); }, line);
        };
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
        return [this, code = code, line, source = it->first] {
            result()["source"] = source;
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
            result()["port"] = port;
            result()["direction"] = dir == 0 ? "to-spdif" : "to-codec";
            return acknowledged(
                [&] { return evb::CmdSdpDirection(static_cast<std::uint8_t>(port - 1), dir); }, line);
        };
    }

    Options m_options;
    std::ostream& m_traceErr;
    Result* m_result = nullptr;
    bool m_ownInterrupt = true;
    StreamReport m_report;
    ReplyWatch m_watch;
    std::unique_ptr<evbsim::SimBoard> m_sim;
    std::uint64_t m_replyBytes = 0; // acknowledgement bytes of the batch being sent
    std::vector<std::uint8_t> m_package; // the package being read
    int m_traceObserver = 0;        // the link log's observer writing --trace lines
    // After the simulated board: the port is closed before the board goes away.
  public:
    evb::BoardSession& session() { return m_board; }

  private:
    evb::BoardSession m_board;
    evb::SessionScope m_scope; // this run's commands go to this run's board
    TalonComm::TRkCommDevice& m_device = m_board.Device();
};

} // namespace

std::string UsageText() {
    return "usage: evbctl [--port DEVICE] [--baud N] [--timeout MS] [--simulate] [--trace] [--json]\n"
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
           "  session               commands from stdin, one a line: 'open NAME PORT', 'close NAME',\n"
           "                        'NAME: COMMAND', 'wait'; boards held open, each on its own thread;\n"
           "                        'NAME: record start', 'NAME: record stop FILE' save its writes\n"
           "\n"
           "options:\n"
           "  --port DEVICE   COMn, /dev/ttyUSB0, /dev/pts/N ... (default: the last port found),\n"
           "                  or a port on the network: tcp://HOST:PORT (raw), rfc2217://HOST:PORT\n"
           "  --baud N        line speed (default 19200, 8N1)\n"
           "  --timeout MS    how long to wait for the board's answer (default 1000)\n"
           "  --package-gap   take an answer as complete only after 50 ms of silence, as the\n"
           "                  windows do (default: once its bytes are in and two character\n"
           "                  times passed; bytes after that are reported as unsolicited)\n"
           "  --simulate      use a simulated board inside evbctl instead of a port\n"
           "  --trace         write every frame, reply package and port event to stderr\n"
           "                  (HH:MM:SS.mmm TX|RX bytes  meaning)\n"
           "  --regmap FILE   name registers and fields from a register map (JSON or CMSIS-SVD)\n"
           "  --chip NAME     use the register map shipped for a chip (KV2440, ...)\n"
           "  --all           diff and restore compare volatile registers too (with a map)\n"
           "  --strict        send, check: a file with warnings is not sent (exit 4)\n"
           "  --dry-run       send: print the frames instead of opening a port\n"
           "  --json          each result as one JSON object on stdout (fields: man evbctl)\n"
           "  --version       print the version and exit\n"
           "Options may also follow the command; after -- every word is an argument.\n"
           "\n"
           "Numbers may be written 26, 0x1A, x1A or $1A.\n"
           "Exit status: 0 success, 1 no answer in time or a frame not sent, 2 usage error,\n"
           "3 the port could not be opened, 4 the file has errors and nothing was sent,\n"
           "5 registers differ from the file, 130 a send stopped by Ctrl+C (the batch is closed).\n";
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return Run(args, std::cin, out, err, nullptr);
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, TalonComm::TLineIo* line) {
    return Run(args, std::cin, out, err, line);
}

namespace {

// Runs command, telling an argument or file that cannot be used through result.
int Guarded(Result& result, const std::function<int()>& command) {
    try {
        return command();
    } catch (const NothingSent& e) {
        return result.fail(kExitFileErrors, e.message);
    } catch (const FileError& e) {
        return result.fail(kExitUsage, e.message);
    } catch (const RegmapArgError& e) {
        if (e.withUsage && !result.json()) return result.fail(kExitUsage, e.message + "; see `evbctl --help`");
        return result.fail(kExitUsage, e.message);
    } catch (const UsageError& e) {
        return result.fail(kExitUsage, result.json() ? e.message : e.message + "; see `evbctl --help`");
    }
}

// The commands that open no port; nullopt for the others.
std::optional<int> RunWithoutPort(const Options& options, Result& result) {
    result.setCommand(options.command);
    if (options.command == "regmap") return RunRegmap(options.args, result);
    if (options.command == "check") {
        if (options.args.empty()) throw UsageError{"'check' needs at least one file"};
        return RunCheck(options.args, options.baud, options.strict, result, options.map.get());
    }
    if (options.dryRun) {
        if (options.args.size() != 1) throw UsageError{"'send --dry-run' needs one file"};
        return RunDryRun(options.args[0], options.strict, result);
    }
    if (options.command == "ports") {
        expectArgs(options, 0, 0);
        return ListPorts(result);
    }
    return std::nullopt;
}

std::shared_ptr<const evb::RegisterMap> chosenMap(const Options& options, std::ostream& err) {
    auto map = ChooseRegisterMap(options.regmapFile, options.chip, err);
    return map ? std::make_shared<const evb::RegisterMap>(std::move(*map)) : nullptr;
}

bool wantsJson(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        if (a == "--") return false;
        if (a == "--json") return true;
    }
    return false;
}

} // namespace

struct HeldBoard::Impl {
    Options base;                 // the session's options
    Options portOptions;          // and the board's port
    std::unique_ptr<Board> board; // made on the board's thread
    std::string mapKey;           // the map last loaded, by its --regmap and --chip
    std::shared_ptr<const evb::RegisterMap> map;
    evb::WriteRecording recording; // before the board goes: it observes the board's session
};

namespace {

// The options every command of a session starts from.
Options sessionBase(const SessionSetup& setup) {
    std::vector<std::string> words = setup.options;
    words.push_back("session");
    Options o = parse(words);
    o.command.clear();
    return o;
}

} // namespace

HeldBoard::HeldBoard(const SessionSetup& setup, const std::string& port, std::ostream& err, TalonComm::TLineIo* line)
    : m(std::make_unique<Impl>()) {
    m->base = sessionBase(setup);
    Options portOptions = m->base;
    portOptions.simulate = port.empty();
    if (!port.empty()) portOptions.port = port;
    m->board = std::make_unique<Board>(portOptions, err, line);
    m->board->setInterruptOwner(false);
    m->portOptions = std::move(portOptions);
}

HeldBoard::~HeldBoard() = default;

InterruptWatch::InterruptWatch() {
    gInterrupted.store(false);
    struct ::sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a read of the next request ends
    ::sigaction(SIGINT, &action, &m_previous);
}

bool InterruptWatch::fired() const {
    return gInterrupted.load(std::memory_order_relaxed);
}

InterruptWatch::~InterruptWatch() {
    ::sigaction(SIGINT, &m_previous, nullptr);
}

int HeldBoard::open(Result& result) {
    m->board->bind(m->portOptions, result);
    result.setCommand("open");
    return m->board->open(result);
}

bool HeldBoard::gone() const {
    return m->board->gone();
}

int HeldBoard::record(const std::vector<std::string>& words, Result& result) {
    result.setCommand("record");
    evb::WriteRecording& recording = m->recording;
    if (words.size() == 2 && words[1] == "start") {
        recording.Start(m->board->session());
        result["recording"] = true;
        result.say("recording every register write\n");
        return kExitOk;
    }
    if (words.size() != 3 || words[1] != "stop")
        return result.fail(kExitUsage, "record takes 'start', or 'stop FILE'");
    if (!recording.Recording()) return result.fail(kExitUsage, "no recording was started: 'record start' first");
    recording.Stop();
    const std::vector<std::string> texts = recording.Texts({});
    const std::vector<std::string> files = evb::WriteRecording::FileNames(words[2], texts.size());
    result["writes"] = recording.Writes();
    result["files"] = Json::array();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (const std::string failed = evb::SaveTextFile(files[i], texts[i]); !failed.empty())
            return result.fail(kExitUsage, "cannot write " + failed);
        result["files"].push_back(files[i]);
    }
    std::string names;
    for (const std::string& f : files)
        names += (names.empty() ? "" : ", ") + f;
    result.say(texts.empty() ? std::string("nothing was recorded; no file written\n")
                             : std::to_string(recording.Writes()) + " writes saved to " + names + "\n");
    return kExitOk;
}

int HeldBoard::run(const std::vector<std::string>& words, Result& result) {
    if (!words.empty() && words.front() == "record") return record(words, result);
    // A recording names each write after the command that sent it.
    m->board->session().SetWriteSource("evbctl " + (words.empty() ? std::string() : words.front()));
    return Guarded(result, [&]() -> int {
        Options o = parse(words, m->base);
        result.setCommand(o.command);
        if (o.port || o.simulate) throw UsageError{"a board's port is given with 'open NAME PORT'"};
        if (o.command == "session") throw UsageError{"a session does not hold another session"};
        if (const std::string key = o.regmapFile + '\n' + o.chip; key != m->mapKey || !m->map) {
            m->map = chosenMap(o, result.err());
            m->mapKey = key;
        }
        o.map = m->map;
        if (const auto rc = RunWithoutPort(o, result)) return *rc;
        if (gone()) return result.fail(kExitNoAnswer, "the board's port " + m->board->portName() + " has gone");
        m->board->bind(o, result);
        return m->board->prepare()();
    });
}

int RunBoardless(const std::vector<std::string>& words, const SessionSetup& setup, Result& result) {
    return Guarded(result, [&]() -> int {
        Options o = parse(words, sessionBase(setup));
        result.setCommand(o.command);
        if (o.command != "regmap") o.map = chosenMap(o, result.err());
        return RunWithoutPort(o, result).value_or(kExitUsage); // NeedsNoBoard chose the command
    });
}

bool NeedsNoBoard(const std::vector<std::string>& words) {
    try {
        const Options o = parse(words);
        return o.command == "regmap" || o.command == "check" || o.command == "ports" || o.dryRun;
    } catch (const UsageError&) {
        return false;
    }
}

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
        TalonComm::TLineIo* line) {
    Result result(out, err, wantsJson(args));
    for (const std::string& a : args) {
        if (a == "--") break;
        if (a == "--help" || a == "-h") {
            out << UsageText();
            return kExitOk;
        }
        if (a == "--version") {
            result.setCommand("version");
            result["version"] = EVB_VERSION;
            result.say(std::string("evbctl ") + EVB_VERSION + "\n");
            return result.finish(kExitOk);
        }
    }
    bool session = false;
    const int rc = Guarded(result, [&]() -> int {
        Options options = parse(args);
        result.setCommand(options.command);
        if (options.command == "session") {
            if (!options.args.empty()) throw UsageError{"'session' takes no arguments"};
            if (options.simulate && options.port) throw UsageError{"--simulate and --port exclude each other"};
            SessionSetup setup;
            setup.json = options.json;
            setup.simulate = options.simulate;
            setup.port = options.port.value_or("");
            // The options every command of the session starts from: all but the port's.
            for (std::size_t i = 0; i < args.size(); ++i) {
                if (args[i] == "--port") ++i;
                else if (args[i] != "session" && args[i] != "--simulate") setup.options.push_back(args[i]);
            }
            session = true;
            return RunSession(setup, in, out, err, line);
        }
        if (options.command != "regmap") options.map = chosenMap(options, err);
        if (const auto rc = RunWithoutPort(options, result)) return *rc;
        Board board(options, err, line);
        board.bind(options, result);
        const std::function<int()> action = board.prepare();
        if (const int rc = board.open(result); rc != kExitOk) return rc;
        return action();
    });
    return session ? rc : result.finish(rc);
}

} // namespace evbctl
