#include "app/AppSetup.h"

#include "sim/SimBoard.h"
#include "windows/TSPDIFConfigFRM.h"

#include <QApplication>
#include <QFont>
#include <QFontInfo>

#include <stdexcept>

AppInstance::~AppInstance() {
    // The main window owns the other windows (Qt parent) and the serial device; it goes before
    // the simulated board, so the port is closed before the board's side of the link.
    main.reset();
    sim.reset();
}

std::unique_ptr<AppInstance> CreateApplicationWindows(const AppConfig& config) {
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

    // The captions' full-width colons come from the console's face, which start-up loads
    // anyway, instead of from a search of every installed font for a fallback.
    QFont font = QApplication::font();
    font.setFamilies({QFontInfo(font).family(), "Noto Sans Mono CJK SC"});
    QApplication::setFont(font);

    // The main window and the S/PDIF window, visible from the start; the other windows are
    // created hidden the first time they are needed.
    app->main = std::make_unique<Tmainfrm>(start);
    app->main->SpdifWindow()->show();
    app->main->Start();
    return app;
}
