// A second evbconsole or evbctl on a port that is already open gets the clear error and changes
// nothing on the wire; the program that holds the port goes on working.
#include "ReliabilityFixture.h"

#include "serial/ETalonCommError.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRadioButton>

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ProgramRun runProgram(const QString& program, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("LC_ALL", "C");
    p.setProcessEnvironment(env);
    p.start(program, args);
    ProgramRun r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << program.toStdString() << " did not finish";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

class PortInUseTest : public LinkedBoardFixture {
  protected:
    // The first program's port still carries its commands.
    void expectFirstProgramStillWorks() {
        markFrames();
        click(app->main->SDP2_SLV->isChecked() ? "SDP2_MS" : "SDP2_SLV");
        const auto frames = framesSinceMark(1);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].record[0], 0x02);
        EXPECT_TRUE(portOpen());
    }
};

TEST_F(PortInUseTest, ASecondEvbctlGetsTheInUseErrorAndSendsNothing) {
    markFrames();
    for (const QStringList& command : {QStringList{"write", "1", "2"}, QStringList{"info"}}) {
        const ProgramRun r =
            runProgram(EVBCTL_PATH, QStringList{"--port", QString::fromStdString(linkPath)} + command);
        EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("in use by another program")) << r.err.toStdString();
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(board->FrameCount(), frameMark) << "the second program reached the board";
    expectFirstProgramStillWorks();
}

TEST_F(PortInUseTest, ASecondEvbconsoleShowsTheErrorBoxAndSendsNothing) {
    QTemporaryDir shots;
    markFrames();
    // The second console's error box must exist for the grab to succeed; its buttons are pressed
    // as a user would, with the port refused.
    const ProgramRun r = runProgram(
        EVBCONSOLE_PATH, {"--port", QString::fromStdString(linkPath), "--screenshot-dir", shots.path(),
                          "--screenshot-steps", "click:SDP2_SLV,click:Refresh,click:PLLCMD,grab:ErrorBox"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(shots.filePath("ErrorBox.png"))) << r.out.toStdString();
    EXPECT_EQ(board->FrameCount(), frameMark) << "the second program reached the board";
    expectFirstProgramStillWorks();
}

TEST_F(PortInUseTest, ThisConsoleAsTheSecondProgramShowsTheReasonAndSendsNothing) {
    // Another program holds the port; this console starts on it.
    app.reset();
    TalonComm::TRkCommDevice holder;
    holder.fSetPortName(linkPath);
    holder.fSetActive(true);
    ASSERT_TRUE(holder.fGetActive());
    frameMark = board->FrameCount();
    startApp(linkPath);
    QMessageBox* box = errorBox();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains(QString::fromStdString(linkPath))) << box->text().toStdString();
    EXPECT_TRUE(box->text().contains("in use by another program")) << box->text().toStdString();
    EXPECT_FALSE(portOpen());
    closeErrorBoxes();

    // Choosing the port by hand says the same and leaves it to its owner.
    typeText("RS232_CommPort", QString::fromStdString(linkPath));
    click("setrs232cmd");
    box = errorBox();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains("in use by another program")) << box->text().toStdString();
    closeErrorBoxes();
    EXPECT_FALSE(portOpen());
    click("SDP2_SLV");
    EXPECT_TRUE(app->main->WarningWindow()->isVisible());
    EXPECT_EQ(warning(), "COM1 used by others Device!");
    EXPECT_EQ(board->FrameCount(), frameMark);
    EXPECT_TRUE(holder.fGetActive());

    // Once the other program lets go, the same button opens it and commands reach the board.
    holder.fSetActive(false);
    click("setrs232cmd");
    EXPECT_EQ(errorBox(), nullptr);
    EXPECT_TRUE(portOpen());
    expectFirstProgramStillWorks();
    // "Refresh" then sends the board's default set-up, which the cut-short start-up never did.
    markFrames();
    click("Refresh");
    EXPECT_EQ(errorBox(), nullptr);
    const auto frames = framesSinceMark(5);
    ASSERT_GE(frames.size(), 5u);
    EXPECT_EQ(frames.front().record[0], 0x0D);
    EXPECT_TRUE(consoleHas("Initialize the EVB end"));
}

} // namespace
