#include "app/AppSetup.h"

#include "sim/SimBoard.h"
#include "windows/TSPDIFConfigFRM.h"

#include <QApplication>
#include <QFont>
#include <QFontInfo>
#include <QPalette>
#include <QStyleFactory>

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

void UseDarkPalette() {
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    const QColor window(0x2D, 0x2D, 0x30), base(0x1E, 0x1E, 0x1E), text(0xE8, 0xE8, 0xE8);
    QPalette p(QColor(0x3C, 0x3C, 0x40), window); // derives the 3D shades from the button colour
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x3A, 0x7B, 0xD5));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6C, 0xB4, 0xFF));
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
    QApplication::setPalette(p);
}
