#include "app/AppSetup.h"

#include "console/Tkv2580mfrm.h"
#include "sim/SimBoard.h"
#include "windows/TForm1.h"
#include "windows/TForm6.h"
#include "windows/TRS232CfgFrm.h"
#include "windows/TSPDIFConfigFRM.h"
#include "windows/TSetCodecComodeFrm.h"
#include "windows/Twarnfrm.h"

#include <QApplication>
#include <QMetaObject>

#include <stdexcept>

AppInstance::~AppInstance() {
    // The main window owns the other windows (Qt parent) and the serial device; it goes before
    // the simulated board, so the port is closed before the board's side of the link.
    main.reset();
    owned.clear();
    sim.reset();
}

std::unique_ptr<AppInstance> CreateApplicationWindows(const AppConfig& config) {
    // Serial-layer events that ask for the main thread are queued to the Qt event loop.
    TalonComm::TRkCustomCommDevice::SetMainThreadDispatcher([](std::function<void()> work) {
        QMetaObject::invokeMethod(qApp, std::move(work), Qt::QueuedConnection);
    });

    auto app = std::make_unique<AppInstance>();
    StartOptions start = config.start;
    if (config.simulate) {
        evbsim::SimOptions options;
        options.pace = config.simulatePace;
        app->sim = std::make_unique<evbsim::SimBoard>(options);
        if (!app->sim->Start())
            throw std::runtime_error("the simulated board could not get a pseudo-terminal");
        start.simulatedPort = app->sim->DevicePath();
    }

    // Creation order: main window, register console, RS-232, warning, control interface,
    // S/PDIF (visible from the start), about, MATLAB.
    app->main = std::make_unique<Tmainfrm>(start);
    Tmainfrm* main = app->main.get();
    AppWindows& w = app->windows;
    w.kv2580mfrm = new Tkv2580mfrm(main);
    w.RS232CfgFrm = new TRS232CfgFrm(main);
    w.warnfrm = new Twarnfrm(main);
    w.SetCodecComodeFrm = new TSetCodecComodeFrm(main);
    w.SPDIFConfigFRM = new TSPDIFConfigFRM(main);
    w.SPDIFConfigFRM->show();
    w.Form6 = new TForm6(main);
    w.Form1 = new TForm1(main);

    main->AttachWindows(w);
    return app;
}
