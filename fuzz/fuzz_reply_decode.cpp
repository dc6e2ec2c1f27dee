// The main window's reply handler, run headless: any reply kind, register count, address text
// and display mode, with any packages waiting, checked against a model of which packages each
// kind takes and what it leaves in the register shadow (register value, register block, board
// information, consume-then-echo). The console lines and the grid are checked by the GUI tests.
//
// The packages go straight into the serial device's receive queue (no port is open), and the
// handler is called on this thread as the UI thread calls it, once per package event.

#include "app/AppSetup.h"
#include "console/RegisterState.h"
#include "console/Tkv2580mfrm.h"
#include "fuzz/FuzzInput.h"
#include "protocol/BoardCommand.h"
#include "protocol/Command.h"
#include "protocol/TextConv.h"
#include "serial/TCommPackage.h"
#include "serial/TCommPackageQueue.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTextEdit>

#include <deque>
#include <memory>

using evbfuzz::Bytes;
using evbfuzz::require;

namespace {

// Every reply kind a command can leave behind, and a few no command does.
constexpr std::array<std::uint8_t, 17> kKinds{0,  1,  2,  0x58, 4,    6,    7,   8,  9,
                                              12, 13, 14, 0x55, 0x56, 0x40, 254, 255};
// Register counts of the chip profiles, then any byte.
constexpr std::array<std::uint8_t, 8> kCounts{0x4C, 0x0F, 0x4F, 0x3F, 0x53, 0x7F, 0x3D, 0xFF};

AppInstance* gApp = nullptr; // owned by LLVMFuzzerInitialize's statics, which end in order

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(*argc, *argv);
    AppConfig config;
    config.start.listMachinePorts = false; // no port: packages are put in by hand
    // Destroyed before the application object, as the windows need it to close.
    static std::unique_ptr<AppInstance> windows = CreateApplicationWindows(config);
    gApp = windows.get();
    // With no port open the package layer is idle; activating it alone makes the receive queue
    // readable through the device, as it is while a port is open.
    gApp->main->RS232.fSetUsePackage(true);
    gApp->main->RS232.Package()->fSetActive(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Tmainfrm& main = *gApp->main;
    TalonComm::TCommPackageQueue& rx = *main.RS232.Package()->ReceiveQueue();

    evbfuzz::FuzzInput in(data, size);
    const std::uint8_t kindSel = in.byte();
    const std::uint8_t kind = kindSel & 0x80 ? kindSel : kKinds[kindSel % kKinds.size()];
    const std::uint8_t countSel = in.byte();
    const std::uint8_t count = countSel & 0x80 ? in.byte() : kCounts[countSel % kCounts.size()];
    const std::uint8_t flags = in.byte();
    const std::uint8_t highest = in.byte();
    const std::string address(in.chunk(12));
    std::deque<Bytes> packages;
    std::vector<int> events;
    for (int i = in.byte() % 9; i > 0; --i) {
        const std::string_view p = in.chunk(320);
        Bytes& b = packages.emplace_back(p.begin(), p.end());
        if (b.empty()) b.push_back(0); // the package layer never completes an empty package
        events.push_back(in.byte() % 16 == 15 ? 2 : 1); // now and then an event of another type
    }

    // The window's state as a command and the user left it.
    for (std::size_t i = 0; i < evb::kShadowSize; ++i)
        evb::gRegs.Shadow[i] = static_cast<std::uint8_t>(i * 7 + 3);
    evb::gRegs.RegCount = count;
    evb::gRegs.HighestAddress = highest;
    evb::gRegs.ReadProgress = flags & 1;
    main.HEXSHOW->setChecked((flags & 2) != 0);
    main.RegisterConsole()->RegAddrTxt->setText(QString::fromLatin1(QByteArrayView(address)));
    main.UARTSHOW->clear();
    evb::ExpectedReply = kind;

    std::array<std::uint8_t, evb::kShadowSize> shadow = evb::gRegs.Shadow;
    rx.Clear();
    for (const Bytes& p : packages)
        rx.InPackage(p.data(), static_cast<std::uint32_t>(p.size()));
    // The queue holds QSize - 1 packages; the model sees only those that fitted.
    std::deque<Bytes> waiting(packages.begin(), packages.begin() + static_cast<std::ptrdiff_t>(rx.Count()));
    for (int type : events) {
        main.RS232CommNotify(nullptr, type);
        if (type != 1 || waiting.empty()) continue;
        Bytes buf = waiting.front();
        waiting.pop_front();
        buf.resize(257, 0); // a short reply reads as zeros; bytes past 257 are not taken
        if (kind == evb::kReplyRegister) {
            const int reg = evb::StrToIntDef(address, 128) & 0xFF;
            if (reg < static_cast<int>(evb::kShadowSize)) shadow[static_cast<std::size_t>(reg)] = buf[0];
        } else if (kind == evb::kReplyBlock) {
            std::copy_n(buf.begin(), std::min<std::size_t>(count, evb::kShadowSize), shadow.begin());
        } else if (kind != evb::kReplyBoardInfo) { // consumed, then echoed up to a zero byte
            for (bool end = false; !end && !waiting.empty(); waiting.pop_front())
                end = waiting.front()[0] == 0;
        }
    }

    require(rx.Count() == waiting.size(), "the handler takes exactly the packages the model takes");
    require(evb::gRegs.Shadow == shadow, "the register shadow holds what the replies carried");
    require(evb::ExpectedReply == kind, "the handler never changes the expected reply kind");
    return 0;
}
