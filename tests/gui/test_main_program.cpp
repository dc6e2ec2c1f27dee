// The evbconsole executable itself: its command line, and a start on the simulated board that
// saves a window grab (the screenshot path the README's pictures come from).
#include "tests/gui/support/GuiHarness.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TestApp();
        program = QCoreApplication::applicationDirPath() + "/evbconsole";
        if (!QFileInfo(program).isExecutable()) GTEST_SKIP() << "evbconsole is not built next to the tests";
    }
    ProgramRun run(const QStringList& args,
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, args);
        ProgramRun r;
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            ADD_FAILURE() << "evbconsole did not finish";
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    static QProcessEnvironment withoutDisplay() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        return env;
    }
    QString program;
};

TEST_F(ProgramTest, VersionIsPrintedWithoutADisplay) {
    const ProgramRun r = run({"--version"}, withoutDisplay());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("2.4.5.2")) << r.out.toStdString();
}

TEST_F(ProgramTest, HelpListsTheLinuxOptionsAndHidesTheInternalOnes) {
    const ProgramRun r = run({"--help"}, withoutDisplay());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("--simulate")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("--port <DEVICE>")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("--screenshot-dir"));
    EXPECT_FALSE(r.out.contains("--no-pace"));
}

TEST_F(ProgramTest, AnUnknownOptionIsRefused) {
    const ProgramRun r = run({"--bogus"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("bogus")) << r.err.toStdString();
}

TEST_F(ProgramTest, WithoutADisplayItSaysSoAndPointsToTheHeadlessClient) {
    const ProgramRun r = run({"--simulate"}, withoutDisplay());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("no display")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("evbctl")) << r.err.toStdString();
}

TEST_F(ProgramTest, SimulatedStartSavesTheGrabsOfTheWindowsItIsAskedFor) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const ProgramRun r = run({"--simulate", "--no-pace", "--screenshot-dir", dir.path(), "--screenshot-steps",
                       "grab:mainfrm:main.png,click:SetTXCMD,grab:SPDIFConfigFRM"},
                      env);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QImage main(dir.filePath("main.png"));
    const QImage spdif(dir.filePath("SPDIFConfigFRM.png"));
    EXPECT_GT(main.width(), 600);
    EXPECT_GT(spdif.width(), 200);
    EXPECT_GT(main.width(), spdif.width());
}

TEST_F(ProgramTest, AScreenshotStepNamingNoWindowFails) {
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const ProgramRun r = run({"--simulate", "--no-pace", "--screenshot-dir", dir.path(), "--screenshot-steps",
                       "grab:NoSuchWindow"},
                      env);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("no window NoSuchWindow")) << r.err.toStdString();
}

} // namespace
