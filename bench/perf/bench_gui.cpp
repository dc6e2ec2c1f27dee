// The windowed program against the limits of its link. The program's own windows are created
// as main creates them (offscreen), on a simulated board paced at 19200 baud behind a real
// pseudo-terminal, and real buttons are clicked:
//   - "Read Register": click to the grid cell's new text, vs frame + reply + package interval;
//   - "Read All Register" (256 registers): click to the last grid cell written, vs frame + 256
//     reply bytes + package interval;
//   - "Send Configuration" of 512 lines: click to the last frame the board received, vs the
//     wire time of its 514 frames;
//   - the same send over a port whose output drains at 19200 baud (the engine's line pace, as a
//     real UART drains): click to the last frame vs wire time, and the longest stall of the UI
//     event loop meanwhile;
//   - the longest stall of the UI event loop while the board babbles at full speed;
//   - the cost of the link log: frames a second through the engine to an unpaced board with
//     the log on, against the same with it off, in alternating pairs;
//   - a Register Watch of 8 registers at the fastest interval the link allows: the longest stall
//     of the UI event loop, and the plot's repaints a second (at most 20);
//   - the memory a recording of 10,000 register writes holds (at most 1 MB).
// Usage: bench_gui [reads] [sends] [babbles] [babbleBytes]

#include "app/AppSetup.h"
#include "app/SessionBridge.h"
#include "protocol/BoardSession.h"
#include "bench/perf/BenchStats.h"
#include "console/Tkv2580mfrm.h"
#include "protocol/Command.h"
#include "protocol/LinkLog.h"
#include "protocol/WriteRecording.h"
#include "windows/TRegisterWatchFrm.h"
#include "serial/TRkCommDevice.h"
#include "sim/SimBoard.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace evbbench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kBaud = 19200.0;
constexpr double kByteTime = 10.0 / kBaud;
constexpr double kPackageInterval = 0.050;
constexpr int kFrameBytes = 20;
constexpr int kSendLines = 512;
constexpr int kSendFrames = kSendLines + 2; // batch begin, the writes, batch end

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Runs the UI event loop until done() holds or the timeout passes; the loop sleeps between
// events, so what is measured is not disturbed by polling.
bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    QTimer wake; // guarantees a look at done() and the deadline at least this often
    wake.start(20);
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Waits until no package event has reached the UI thread for quiet ms (the link is at rest).
void settle(evbsim::SimBoard& board, std::chrono::milliseconds quiet = std::chrono::milliseconds(150)) {
    board.WaitRepliesSent(std::chrono::milliseconds(5000));
    int seen = evb::CurrentSession()->Counters().queued.load();
    auto since = Clock::now();
    runUntil(
        [&] {
            const int now = evb::CurrentSession()->Counters().queued.load();
            if (now != seen) {
                seen = now;
                since = Clock::now();
            }
            return Clock::now() - since >= quiet;
        },
        std::chrono::milliseconds(10000));
}

template <class T> T* child(QWidget* window, const char* name) {
    T* w = window ? window->findChild<T*>(name) : nullptr;
    if (!w) {
        std::fprintf(stderr, "bench_gui: no widget %s\n", name);
        std::exit(1);
    }
    return w;
}

QString cellText(std::uint8_t v) {
    return QString::asprintf("  0x%02X", v);
}

// Longest gap between two turns of the UI event loop while it lives, less the probe's period.
class StallProbe {
  public:
    StallProbe() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        m_timer.start(kPeriodMs);
    }
    double longest() const { return std::max(0.0, seconds(m_longest) - kPeriodMs / 1000.0); }

  private:
    static constexpr int kPeriodMs = 1;
    QTimer m_timer;
    Clock::time_point m_last = Clock::now();
    Clock::duration m_longest{};
};

class Bench {
  public:
    Bench(AppInstance& app) : m_app(app), m_board(*app.sim), m_console(app.main->RegisterConsole()) {
        m_grid = child<QTableWidget>(m_console, "RegMapGrid");
        QObject::connect(&app.main->Bridge(), &SessionBridge::reply, [this](const evb::ReplyEvent& e) {
            if (e.kind == evb::ReplyEvent::Kind::Echoed) return;
            m_lastKind = e.replyKind;
            ++m_replies;
        });
        // Fires synchronously inside QTableWidgetItem::setText: the moment a cell shows its text.
        QObject::connect(m_grid->model(), &QAbstractItemModel::dataChanged,
                         [this](const QModelIndex& tl, const QModelIndex& br) {
                             m_lastCellChange = Clock::now();
                             if (m_watchRow >= tl.row() && m_watchRow <= br.row() &&
                                 m_watchCol >= tl.column() && m_watchCol <= br.column()) {
                                 const QTableWidgetItem* item = m_grid->item(m_watchRow, m_watchCol);
                                 if (item && item->text() == m_watchText) m_watchHit = Clock::now();
                             }
                         });
    }

    // Of each read: click to the frame's last byte at the board (the rest is the way back).
    const std::vector<double>& readOutbound() const { return m_readOutbound; }

    // Picks a chip with 256 registers from the "Codec Type" menu (which reads them all once).
    void chooseCodec() {
        QAction* action = nullptr;
        for (QAction* a : m_app.main->findChildren<QAction*>())
            if (a->objectName() == "KV2440") action = a;
        if (!action) {
            std::fprintf(stderr, "bench_gui: no KV2440 menu entry\n");
            std::exit(1);
        }
        const int before = m_replies;
        action->trigger();
        if (!runUntil([&] { return m_replies > before; }, std::chrono::milliseconds(3000)))
            std::fprintf(stderr, "bench_gui: the first read-all got no reply\n");
        settle(m_board);
    }

    std::vector<double> readRoundTrips(int runs) {
        std::vector<double> out;
        const std::uint8_t reg = 0x1A;
        const std::uint8_t chip = m_board.State().chipAddress;
        child<QLineEdit>(m_console, "RegAddrTxt")->setText("0x1A");
        QPushButton* button = child<QPushButton>(m_console, "RDRegCMD");
        for (int i = 0; i < runs; ++i) {
            const auto v = static_cast<std::uint8_t>(m_board.Register(chip, reg) + 0x35 + i);
            m_board.SetRegister(chip, reg, v);
            m_watchRow = (reg >> 4) + 1;
            m_watchCol = (reg & 0x0F) + 1;
            m_watchText = cellText(v);
            m_watchHit.reset();
            const auto t0 = Clock::now();
            button->click();
            if (!runUntil([&] { return m_watchHit.has_value(); }, std::chrono::milliseconds(3000))) {
                std::fprintf(stderr, "bench_gui: read %d: the cell never showed %s\n", i,
                             qPrintable(m_watchText));
                continue;
            }
            out.push_back(seconds(*m_watchHit - t0));
            const std::vector<evbsim::ReceivedFrame> frames = m_board.Frames();
            if (!frames.empty()) m_readOutbound.push_back(seconds(frames.back().at - t0));
            m_watchRow = m_watchCol = -1;
        }
        settle(m_board);
        return out;
    }

    std::vector<double> readAllRoundTrips(int runs) {
        std::vector<double> out;
        const std::uint8_t chip = m_board.State().chipAddress;
        QPushButton* button = child<QPushButton>(m_console, "RdAllRegCMD");
        std::mt19937 rng(7);
        for (int i = 0; i < runs; ++i) {
            // Every register changes, so every cell of the grid is rewritten.
            for (int r = 0; r < 256; ++r) {
                const auto old = m_board.Register(chip, static_cast<std::uint8_t>(r));
                m_board.SetRegister(chip, static_cast<std::uint8_t>(r),
                                    static_cast<std::uint8_t>(old + 1 + rng() % 255));
            }
            const int before = m_replies;
            const auto t0 = Clock::now();
            m_lastCellChange = t0;
            button->click();
            if (!runUntil([&] { return m_replies > before && m_lastKind == evb::kReplyBlock; },
                          std::chrono::milliseconds(3000))) {
                std::fprintf(stderr, "bench_gui: read-all %d got no reply\n", i);
                continue;
            }
            out.push_back(seconds(m_lastCellChange - t0));
        }
        settle(m_board);
        return out;
    }

    std::vector<double> configSends(int runs, const QString& file, std::vector<double>* stalls = nullptr) {
        std::vector<double> out;
        m_console->opfcmd = [file] { return QStringList{file}; };
        child<QPushButton>(m_console, "LDFileCMD")->click();
        QPushButton* send = child<QPushButton>(m_console, "SDFileCMD");
        for (int i = 0; i < runs; ++i) {
            const std::size_t base = m_board.FrameCount();
            std::optional<StallProbe> probe;
            if (stalls) probe.emplace();
            const auto t0 = Clock::now();
            send->click(); // the send runs from events on the UI thread
            if (!runUntil([&] { return m_board.FrameCount() >= base + kSendFrames; },
                          std::chrono::milliseconds(30000))) {
                std::fprintf(stderr, "bench_gui: send %d: the board got %zu of %d frames\n", i,
                             m_board.FrameCount() - base, kSendFrames);
                continue;
            }
            const std::vector<evbsim::ReceivedFrame> frames = m_board.Frames();
            out.push_back(seconds(frames[base + kSendFrames - 1].at - t0));
            if (stalls) stalls->push_back(probe->longest());
            probe.reset();
            settle(m_board);
        }
        return out;
    }

    // Longest gap between two turns of the UI event loop while the board sends bytes at full
    // speed, minus the probe's own period. The reply kind is that of a read-all, the heaviest
    // decoding a package can meet.
    std::vector<double> babbleStalls(int runs, std::size_t bytes, double& babbleSeconds,
                                     std::vector<double>& idleStalls) {
        std::vector<double> out;
        QPushButton* readAll = child<QPushButton>(m_console, "RdAllRegCMD");
        for (int i = 0; i < runs; ++i) {
            const int before = m_replies;
            readAll->click();
            runUntil([&] { return m_replies > before; }, std::chrono::milliseconds(3000));
            settle(m_board);

            // Reference: the same probe over an idle stretch of the same run (the machine's noise).
            {
                StallProbe idle;
                runUntil([] { return false; }, std::chrono::milliseconds(500));
                idleStalls.push_back(idle.longest());
            }

            StallProbe probe;
            const auto t0 = Clock::now();
            // The board's noise is generated, and waited for, on a thread of the bench: the UI
            // thread must not block on the simulated board's lock, which its writer holds.
            std::atomic<bool> noiseSent{false};
            std::thread noise([&] {
                m_board.Babble(bytes, static_cast<std::uint32_t>(i + 1));
                m_board.WaitRepliesSent(std::chrono::milliseconds(60000));
                noiseSent = true;
            });
            runUntil([&] { return noiseSent.load(); }, std::chrono::milliseconds(60000));
            noise.join();
            babbleSeconds = seconds(Clock::now() - t0);
            // The last package closes one interval after the last byte and is then decoded.
            const int queued = evb::CurrentSession()->Counters().queued.load();
            runUntil([&] { return evb::CurrentSession()->Counters().queued.load() > queued; },
                     std::chrono::milliseconds(500));
            settle(m_board);
            out.push_back(probe.longest());
        }
        return out;
    }

    // Frames a second through the engine to an unpaced board, log on / log off, per pair.
    std::vector<double> linkLogCost(int pairs, int frames) {
        evbsim::SimOptions so;
        so.pace = false;
        evbsim::SimBoard board(so);
        if (!board.Start()) return {};
        evb::BoardSession session(nullptr, {});
        const evb::SessionScope scope(session);
        TalonComm::TRkCommDevice& device = session.Device();
        device.fSetPortName(board.DevicePath());
        device.fSetPackageSize(8192);
        device.fSetPackageType(TalonComm::cptFrameTimeout);
        device.fSetPackageInterval(50);
        device.fSetSyncEvents(false);
        device.fSetUsePackage(true);
        device.fSetActive(true);
        const auto rate = [&](bool logOn) {
            evb::TheLinkLog().setEnabled(logOn);
            const auto t0 = Clock::now();
            std::uint8_t answer[257];
            for (int i = 0; i < frames; ++i) {
                evb::CmdWriteReg(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8));
                // The board acknowledges every frame: take the packages, or its answers back up.
                if (i % 64 == 0)
                    while (device.Read(answer, sizeof answer) > 0) {
                    }
            }
            device.WaitWriteDrained(std::chrono::milliseconds(60000));
            return frames / seconds(Clock::now() - t0);
        };
        std::vector<double> out;
        rate(true); // warm-up
        for (int i = 0; i < pairs; ++i) {
            const bool onFirst = i % 2 == 0;
            const double first = rate(onFirst);
            const double second = rate(!onFirst);
            if (std::getenv("EVB_BENCH_VERBOSE"))
                std::fprintf(stderr, "bench_gui: log %s %.0f frames/s, log %s %.0f frames/s\n", onFirst ? "on" : "off",
                             first, onFirst ? "off" : "on", second);
            out.push_back(onFirst ? first / second : second / first);
        }
        device.fSetActive(false);
        board.Stop();
        return out;
    }

  private:
    AppInstance& m_app;
    evbsim::SimBoard& m_board;
    Tkv2580mfrm* m_console;
    QTableWidget* m_grid = nullptr;
    int m_replies = 0;
    std::uint8_t m_lastKind = 0;
    int m_watchRow = -1, m_watchCol = -1;
    QString m_watchText;
    std::optional<Clock::time_point> m_watchHit;
    Clock::time_point m_lastCellChange;
    std::vector<double> m_readOutbound;
};

void printRatioRow(const char* figure, const std::vector<double>& values, double limit) {
    if (values.empty()) {
        PrintRow(figure, Format("%.1f ms", limit * 1e3), 99, 99, "failed", "failed", "<=", 1.10);
        return;
    }
    const Summary s = Summarise(values);
    PrintRow(figure, Format("%.1f ms", limit * 1e3), s.median / limit, s.worst / limit,
             Format("%.2fx (%.1f ms)", s.median / limit, s.median * 1e3),
             Format("%.2fx (%.1f ms)", s.worst / limit, s.worst * 1e3), "<=", 1.10);
}

// Watches 8 registers at the fastest interval for `seconds` each run: the longest UI stall and
// the plot's repaints a second; polls counts the reads answered.
void watchFigures(AppInstance& app, int runs, double seconds, std::vector<double>& stalls,
                  std::vector<double>& paintRates, int& polls) {
    TRegisterWatchFrm* watch = app.main->RegisterWatchWindow();
    for (int r = 0x10; r < 0x18; ++r)
        watch->addWatch(QString::asprintf("0x%02X", r));
    watch->WatchIntervalSpin->setValue(watch->WatchIntervalSpin->minimum());
    app.main->ShowToolWindow(watch);
    const std::uint64_t framesBefore = evb::CurrentSession()->FramesSent();
    for (int run = 0; run < runs; ++run) {
        const int paintsBefore = watch->WatchPlot->paints();
        StallProbe probe;
        const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        runUntil([&] { return Clock::now() >= end; }, std::chrono::milliseconds(static_cast<int>(seconds * 1000) + 1000));
        stalls.push_back(probe.longest());
        paintRates.push_back((watch->WatchPlot->paints() - paintsBefore) / seconds);
    }
    polls = static_cast<int>(evb::CurrentSession()->FramesSent() - framesBefore);
    watch->close();
}

// What a recording of n writes holds, in bytes.
double recordingBytes(int n) {
    evb::WriteRecording recording;
    const auto t0 = std::chrono::system_clock::now();
    for (int i = 0; i < n; ++i)
        recording.Add({evb::RegisterWriteEvent::Kind::Write, static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7),
                       {}, 0, false, i % 3 ? "Write Register" : "Preset A1"},
                      t0 + std::chrono::milliseconds(i), i % 2 ? "ADC_VOL_L" : "");
    return static_cast<double>(recording.MemoryBytes());
}

} // namespace

int main(int argc, char* argv[]) {
    const int reads = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const int sends = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const int babbles = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const std::size_t babbleBytes = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 8u << 20;

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    QApplication::setApplicationName("evbconsole");
    QTemporaryDir tmp;
    if (!tmp.isValid()) return 1;

    AppConfig config;
    config.simulate = true;
    config.simulatePace = true;                      // the board's pacing: 19200 baud, 10 bits a byte
    config.start.sysRoot = tmp.path().toStdString(); // no machine ports: the board's is the only one
    config.start.listMachinePorts = false;
    std::unique_ptr<AppInstance> app = CreateApplicationWindows(config);
    if (!app->sim) return 1;
    app->main->show();

    const QString file = tmp.filePath("send512.txt");
    {
        std::ofstream f(file.toStdString(), std::ios::binary);
        for (int i = 0; i < kSendLines; ++i) {
            char line[16];
            std::snprintf(line, sizeof line, ":W%02X%02X@\n", i & 0xFF, (i * 7) & 0xFF);
            f << line;
        }
    }

    Bench bench(*app);
    bench.chooseCodec();
    const auto readTimes = bench.readRoundTrips(reads);
    const auto readAllTimes = bench.readAllRoundTrips(std::max(3, reads / 2));
    // The program paces the simulated board's pseudo-terminal to 19200 baud by itself.
    std::vector<double> pacedStalls;
    const auto pacedSendTimes = bench.configSends(sends, file, &pacedStalls);
    double babbleSeconds = 0;
    std::vector<double> idleStalls;
    const auto stalls = bench.babbleStalls(babbles, babbleBytes, babbleSeconds, idleStalls);
    std::vector<double> watchStalls, paintRates;
    int watchPolls = 0;
    settle(*app->sim);
    watchFigures(*app, sends, 2.0, watchStalls, paintRates, watchPolls);

    if (!readTimes.empty() && !bench.readOutbound().empty()) {
        const double total = Summarise(readTimes).median;
        const double outbound = Summarise(bench.readOutbound()).median;
        std::fprintf(stderr,
                     "bench_gui: read, median: click to the frame complete at the board %.1f ms (wire %.1f); "
                     "from there to the cell %.1f ms (reply byte + silence %.1f)\n",
                     outbound * 1e3, kFrameBytes * kByteTime * 1e3, (total - outbound) * 1e3,
                     (kByteTime + kPackageInterval) * 1e3);
    }
    printRatioRow("GUI register read round trip", readTimes,
                  kFrameBytes * kByteTime + kByteTime + kPackageInterval);
    printRatioRow("GUI read-all (256 registers)", readAllTimes,
                  kFrameBytes * kByteTime + 256 * kByteTime + kPackageInterval);
    {
        const double wire = kSendFrames * kFrameBytes * kByteTime;
        if (pacedSendTimes.empty()) {
            PrintRow("GUI 512-line configuration send", Format("%.1f ms", wire * 1e3), 99, 99, "failed", "failed",
                     "<=", 1.01);
        } else {
            const Summary s = Summarise(pacedSendTimes);
            PrintRow("GUI 512-line configuration send", Format("%.1f ms", wire * 1e3), s.median / wire,
                     s.worst / wire, Format("%.3fx (%.1f ms)", s.median / wire, s.median * 1e3),
                     Format("%.3fx (%.1f ms)", s.worst / wire, s.worst * 1e3), "<=", 1.01);
        }
        if (pacedStalls.empty()) {
            PrintRow("longest UI stall during that send", "", 99, 99, "failed", "failed", "<", 0.050);
        } else {
            const Summary s = Summarise(pacedStalls);
            PrintRow("longest UI stall during that send", "", s.median, s.worst, Format("%.1f ms", s.median * 1e3),
                     Format("%.1f ms", s.worst * 1e3), "<", 0.050);
        }
    }
    const auto logCost = bench.linkLogCost(std::max(5, sends * 2 + 1), 200000);
    if (logCost.empty()) {
        PrintRow("engine frame rate, link log on/off", "", 0, 0, "failed", "failed", ">=", 0.95);
    } else {
        const Summary s = Summarise(logCost, true);
        PrintRow("engine frame rate, link log on/off", "log off, same run", s.median, s.worst,
                 Format("%.3fx", s.median), Format("%.3fx", s.worst), ">=", 0.95);
    }
    if (stalls.empty()) {
        PrintRow("longest UI stall under babble", "", 99, 99, "failed", "failed", "<", 0.050);
    } else {
        const Summary s = Summarise(stalls);
        PrintRow("longest UI stall under babble",
                 Format("idle %.1f ms; %.0f MB/%.1fs", Summarise(idleStalls).worst * 1e3,
                        static_cast<double>(babbleBytes) / 1e6, babbleSeconds),
                 s.median, s.worst, Format("%.1f ms", s.median * 1e3), Format("%.1f ms", s.worst * 1e3), "<",
                 0.050);
    }
    if (watchStalls.empty() || watchPolls == 0) {
        PrintRow("longest UI stall, watch of 8 registers", "", 99, 99, "failed", "failed", "<", 0.050);
    } else {
        const Summary s = Summarise(watchStalls), p = Summarise(paintRates);
        PrintRow("longest UI stall, watch of 8 registers", Format("%d reads at the fastest interval", watchPolls),
                 s.median, s.worst, Format("%.1f ms", s.median * 1e3), Format("%.1f ms", s.worst * 1e3), "<", 0.050);
        PrintRow("watch plot repaints a second", "", p.median, p.worst, Format("%.1f", p.median),
                 Format("%.1f", p.worst), "<=", 20);
    }
    const double bytes = recordingBytes(10000);
    PrintRow("recording of 10,000 writes", "1 MB", bytes / 1e6, bytes / 1e6, Format("%.0f kB", bytes / 1e3),
             Format("%.0f kB", bytes / 1e3), "<", 1.0);
    app.reset();
    return 0;
}
