// The main window's reply handler, run headless: any reply kind, register count, address text
// and display mode, with any packages waiting, checked against a model of how each kind is
// decoded (register value, register block, board information, consume-then-echo).
//
// The packages go straight into the serial device's receive queue (no port is open), and the
// handler is called on this thread as the UI thread calls it, once per package event.

#include "app/AppSetup.h"
#include "console/RegisterState.h"
#include "console/Tkv2580mfrm.h"
#include "fuzz/FuzzInput.h"
#include "protocol/BoardCommand.h"
#include "protocol/Command.h"
#include "protocol/ReplyFormat.h"
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

// What the console pane shows of appended text: line ends become one line break.
std::string shown(std::string s) {
    for (std::size_t at = 0; (at = s.find("\r\n", at)) != std::string::npos; ++at)
        s.erase(at, 1);
    std::replace(s.begin(), s.end(), '\r', '\n');
    return s;
}

struct Expected {
    std::string console;
    std::array<std::uint8_t, evb::kShadowSize> shadow = evb::gRegs.Shadow;
    bool exact = true; // false when an echoed character has no single plain-text form
    int lastRegister = -1;
    std::uint8_t lastValue = 0;
};

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
    Tkv2580mfrm& console = *gApp->main->RegisterConsole();
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
    const int packageCount = in.byte() % 9;
    for (int i = 0; i < packageCount; ++i) {
        const std::string_view p = in.chunk(320);
        Bytes b(p.begin(), p.end());
        if (b.empty()) b.push_back(0); // the package layer never completes an empty package
        packages.push_back(std::move(b));
        events.push_back(in.byte() % 16 == 15 ? 2 : 1); // now and then an event of another type
    }

    // The window's state as a command and the user left it.
    for (std::size_t i = 0; i < evb::kShadowSize; ++i)
        evb::gRegs.Shadow[i] = static_cast<std::uint8_t>(i * 7 + 3);
    evb::gRegs.RegCount = count;
    evb::gRegs.HighestAddress = highest;
    evb::gRegs.ReadProgress = flags & 1;
    main.HEXSHOW->setChecked((flags & 2) != 0);
    console.RegAddrTxt->setText(QString::fromLatin1(address.data(), static_cast<qsizetype>(address.size())));
    main.UARTSHOW->clear();
    evb::ExpectedReply = kind;

    Expected want;
    want.shadow = evb::gRegs.Shadow;
    rx.Clear();
    for (const Bytes& p : packages)
        require(rx.InPackage(p.data(), static_cast<std::uint32_t>(p.size())) == 1 || rx.Remain() == 0,
                "the receive queue takes a package while it has room");
    // The queue holds QSize - 1 packages; the model sees only those that fitted.
    while (packages.size() > rx.Count())
        packages.pop_back();

    std::deque<Bytes> waiting = packages;
    for (int type : events) {
        main.RS232CommNotify(nullptr, type);
        if (type != 1 || waiting.empty()) continue;
        Bytes buf = waiting.front();
        waiting.pop_front();
        buf.resize(257, 0); // a short reply reads as zeros; bytes past 257 are not taken
        switch (kind) {
        case evb::kReplyRegister: {
            const std::uint8_t a = static_cast<std::uint8_t>(evb::StrToIntDef(address, 128) & 0xFF);
            if (a < evb::kShadowSize) want.shadow[a] = buf[0];
            want.lastRegister = a;
            want.lastValue = buf[0];
            want.console += evb::FormatReadReg(a, buf[0]);
            break;
        }
        case evb::kReplyBlock:
            for (int i = 0; i < count && i < static_cast<int>(evb::kShadowSize); ++i)
                want.shadow[static_cast<std::size_t>(i)] = buf[static_cast<std::size_t>(i)];
            want.console += evb::FormatReadAllReg(highest);
            break;
        case evb::kReplyBoardInfo:
            want.console += evb::FormatBoardInfo(buf.data());
            break;
        default:
            while (!waiting.empty()) {
                const std::uint8_t b = waiting.front()[0];
                waiting.pop_front();
                if (b == 0) break;
                if (flags & 2) {
                    want.console += evb::Hex2(b) + " ";
                } else {
                    want.console += QString(QChar(b)).toStdString(); // Latin-1 in UTF-8
                    // Control characters and the no-break space change form in a text pane.
                    if (b < 0x20 || (b >= 0x7F && b <= 0xA0)) want.exact = false;
                }
            }
            break;
        }
    }

    require(rx.Count() == waiting.size(), "the handler takes exactly the packages the model takes");
    require(evb::gRegs.Shadow == want.shadow, "the register shadow holds what the replies carried");
    require(evb::ExpectedReply == kind, "the handler never changes the expected reply kind");
    if (want.exact)
        require(main.UARTSHOW->toPlainText().toStdString() == shown(want.console),
                "the console shows the model's lines");
    if (want.lastRegister >= 0) {
        const std::string cell = "  0x" + evb::Hex2(want.lastValue);
        require(
            console.cellText((want.lastRegister & 0x0F) + 1, (want.lastRegister >> 4) + 1).toStdString() ==
                cell,
            "the register's grid cell shows the value read");
    }
    rx.Clear();
    return 0;
}
