// evbconsole: the evaluation board's desktop console.
#include "app/AppSetup.h"
#include "app/ScreenshotRunner.h"
#include "console/ChipProfiles.h"
#include "console/PresetFiles.h"
#include "console/Tkv2580mfrm.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <string_view>

namespace {

bool wantsOnlyText(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "-h" || arg == "--help" || arg == "-?" || arg == "--help-all" || arg == "-v" ||
            arg == "--version" || arg == "--show-files")
            return true;
    }
    return false;
}

bool displayAvailable() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// Where the equaliser preset, every chip's presets and the two documents resolve, one line
// each; 0 when all were found.
int showFiles() {
    int missing = 0;
    auto line = [&missing](const std::string& what, const evb::PresetLocation& where) {
        if (!where.found) ++missing;
        std::printf("%s\t%s%s\n", what.c_str(), where.path.c_str(), where.found ? "" : " (not found)");
    };
    line("presets", evb::FindPresetFile("", evb::kEqualiserFile));
    for (const evb::ChipProfile& profile : evb::ChipProfileTable()) {
        if (!profile.folder) continue;
        for (const char* file : profile.files)
            if (file && !evb::FindPresetFile(profile.folder, file).found)
                line(profile.chip, evb::FindPresetFile(profile.folder, file));
    }
    for (const char* document : {evb::kManualFile, evb::kEqPictureFile}) {
        const std::string path = evb::FindDocument(document);
        line(document, {std::filesystem::is_regular_file(path), path});
    }
    return missing == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    // --help and --version answer without a display; everything else needs one.
    std::unique_ptr<QCoreApplication> application;
    if (wantsOnlyText(argc, argv)) {
        application = std::make_unique<QCoreApplication>(argc, argv);
    } else if (!displayAvailable()) {
        std::fprintf(stderr, "evbconsole: no display (DISPLAY and WAYLAND_DISPLAY are unset).\n"
                             "Run it on a desktop, with QT_QPA_PLATFORM=offscreen, or use evbctl "
                             "(e.g. evbctl --simulate info) for headless work.\n");
        return 2;
    } else {
        application = std::make_unique<QApplication>(argc, argv);
        // The installed desktop entry and icon: the desktop matches the windows to them.
        QGuiApplication::setDesktopFileName("net.corvane.evbconsole");
        QApplication::setWindowIcon(QIcon::fromTheme("net.corvane.evbconsole"));
    }
    QCoreApplication::setApplicationName("evbconsole");
    QCoreApplication::setApplicationVersion("2.4.5.2");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Console of the audio-codec evaluation board, reached over a serial link.\n"
        "Without options the program opens every serial port it finds and keeps "
        "the last one.");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption simulate("simulate", "Start a simulated board on a pseudo-terminal and use its port.");
    QCommandLineOption port("port",
                            "Add DEVICE (e.g. /dev/ttyUSB0, or a port on the network: tcp://HOST:PORT, "
                            "rfc2217://HOST:PORT) as the last port of the start-up list, so it is the one "
                            "kept open.",
                            "DEVICE");
    QCommandLineOption noPace("no-pace", "Let the simulated board answer at full speed.");
    noPace.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption shotDir("screenshot-dir", "Save window screenshots into DIR, then exit.", "DIR");
    shotDir.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption shotSteps("screenshot-steps",
                                 "Comma-separated steps: click:OBJECT, trigger:ACTION, text:OBJECT=TEXT, "
                                 "grab:WINDOW[:FILE].",
                                 "STEPS");
    shotSteps.setFlags(QCommandLineOption::HiddenFromHelp);
    // For benchmarks and scripts: a line "ready" on standard output once start-up is done (the
    // end banner is in the console) and the event loop runs.
    QCommandLineOption reportReady("report-ready", "Print \"ready\" once the console is up.");
    reportReady.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption showFilesOption("show-files",
                                       "Print where the presets and the documents of the Instructions "
                                       "menu are found, then exit (1 when one is missing).");
    // For screenshots: the look of a dark desktop theme (Fusion with a dark palette).
    QCommandLineOption dark("dark", "Use the Fusion style with a dark palette.");
    dark.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption regmap("regmap",
                              "Name the registers and their bit fields from the register map FILE "
                              "(JSON or CMSIS-SVD) instead of the codec type's shipped map.",
                              "FILE");
    parser.addOptions({simulate, port, regmap, showFilesOption, noPace, shotDir, shotSteps, reportReady, dark});
    parser.process(*application);
    if (parser.isSet(showFilesOption)) return showFiles();
    if (parser.isSet(dark)) UseDarkPalette();

    AppConfig config;
    config.simulate = parser.isSet(simulate);
    config.simulatePace = !parser.isSet(noPace);
    config.start.extraPort = parser.value(port).toStdString();
    // The simulated board is a stand-in for the hardware: with it the machine's own serial
    // ports are left alone (opening them would toggle their modem lines).
    if (config.simulate) config.start.listMachinePorts = false;

    std::unique_ptr<AppInstance> app;
    try {
        app = CreateApplicationWindows(config);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "evbconsole: %s\n", e.what());
        return 1;
    }
    app->main->show();
    if (parser.isSet(regmap)) app->main->RegisterConsole()->UseStartupRegisterMap(parser.value(regmap));

    if (parser.isSet(shotDir)) {
        ScreenshotRunner runner(*app, parser.value(shotDir));
        const bool ok = runner.Run(parser.value(shotSteps));
        return ok ? 0 : 1;
    }
    if (parser.isSet(reportReady))
        QTimer::singleShot(0, [] {
            std::fputs("ready\n", stdout);
            std::fflush(stdout);
        });
    return QCoreApplication::exec();
}
