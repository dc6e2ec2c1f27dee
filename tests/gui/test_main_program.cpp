// The evbconsole executable itself: its command line, and a start on the simulated board that
// saves a window grab (the screenshot path the README's pictures come from).
#include "tests/gui/support/GuiHarness.h"

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>

namespace {

// Runs evbconsole to its end: its exit code (-1 when it crashed or hung) and what it wrote on
// stdout and stderr.
std::pair<int, QString> runProgram(const QStringList& args, bool display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    if (display) env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(TestApp().applicationDirPath() + "/evbconsole", args);
    const bool finished = p.waitForFinished(30000);
    EXPECT_TRUE(finished) << "evbconsole did not finish";
    if (!finished) p.kill();
    p.waitForFinished();
    return {finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAll())};
}

// The last run grabs the windows it is asked for (the path the README's pictures come from).
TEST(ProgramTest, CommandLineOptionsAStartWithoutADisplayAndWindowGrabs) {
    struct Case {
        QStringList args;
        bool display;
        int exitCode;
        QStringList said;    // in stdout and stderr
        QStringList notSaid;
    };
    QTemporaryDir dir;
    const QStringList grab{"--simulate", "--no-pace", "--screenshot-dir", dir.path(), "--screenshot-steps"};
    for (const Case& c : {Case{{"--version"}, false, 0, {"2.4.5.2"}, {}},
                          Case{{"--help"}, false, 0, {"--simulate", "--port <DEVICE>"}, {"--screenshot-dir", "--no-pace"}},
                          Case{{"--bogus"}, true, 1, {"bogus"}, {}},
                          // It says so, and points to the headless client.
                          Case{{"--simulate"}, false, 2, {"no display", "evbctl"}, {}},
                          Case{grab + QStringList{"grab:NoSuchWindow"}, true, 1, {"no window NoSuchWindow"}, {}},
                          Case{grab + QStringList{"grab:mainfrm:main.png,click:SetTXCMD,grab:SPDIFConfigFRM"}, true, 0, {}, {}}}) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const auto [exitCode, said] = runProgram(c.args, c.display);
        EXPECT_EQ(exitCode, c.exitCode) << said.toStdString();
        for (const QString& text : c.said)
            EXPECT_TRUE(said.contains(text)) << said.toStdString();
        for (const QString& text : c.notSaid)
            EXPECT_FALSE(said.contains(text)) << text.toStdString();
    }
    const QImage main(dir.filePath("main.png"));
    const QImage spdif(dir.filePath("SPDIFConfigFRM.png"));
    EXPECT_GT(spdif.width(), 200);
    EXPECT_GT(main.width(), std::max(600, spdif.width()));
}

} // namespace
