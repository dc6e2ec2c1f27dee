// A second evbconsole or evbctl on a port that is already open gets the clear error and changes
// nothing on the wire; the program that holds the port goes on working.
#include "ReliabilityFixture.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRadioButton>

namespace {

class PortInUseTest : public LinkedBoardFixture {
  protected:
    // Runs a second program on the board's port; it must not reach the board.
    void runSecond(const QString& program, const QStringList& args, int exitCode, const QString& err) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LC_ALL", "C");
        p.setProcessEnvironment(env);
        markFrames();
        p.start(program, QStringList{"--port", QString::fromStdString(linkPath)} + args);
        ASSERT_TRUE(p.waitForFinished(60000)) << program.toStdString() << " did not finish";
        EXPECT_EQ(p.exitCode(), exitCode);
        EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains(err));
        EXPECT_EQ(board->FrameCount(), frameMark) << "the second program reached the board";
    }
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

TEST_F(PortInUseTest, ASecondEvbctlOrEvbconsoleGetsTheInUseErrorAndSendsNothing) {
    for (const QStringList& command : {QStringList{"write", "1", "2"}, QStringList{"info"}})
        runSecond(EVBCTL_PATH, command, 3, "in use by another program");
    // The second console's error box must exist for the grab to succeed; its buttons are pressed
    // as a user would, with the port refused.
    QTemporaryDir shots;
    runSecond(EVBCONSOLE_PATH,
              {"--screenshot-dir", shots.path(), "--screenshot-steps", "click:SDP2_SLV,click:Refresh,click:PLLCMD,grab:ErrorBox"},
              0, "");
    EXPECT_TRUE(QFileInfo::exists(shots.filePath("ErrorBox.png")));
    expectFirstProgramStillWorks();
}

// Another program holds the port; this console starts on it: the error box, the rest of
// start-up skipped, commands dropped without a warning until a port is chosen.
TEST_F(PortInUseTest, ThisConsoleAsTheSecondProgramShowsTheReasonAndSendsNothing) {
    app.reset();
    TalonComm::TRkCommDevice holder;
    holder.fSetPortName(linkPath);
    holder.fSetActive(true);
    ASSERT_TRUE(holder.fGetActive());
    restartApp();
    for (int step = 0; step < 2; ++step) {
        QMessageBox* box = errorBox();
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->text().contains(QString::fromStdString(linkPath))) << box->text().toStdString();
        EXPECT_TRUE(box->text().contains("in use by another program")) << box->text().toStdString();
        EXPECT_FALSE(portOpen());
        closeErrorBoxes();
        if (step == 0) {
            EXPECT_TRUE(consoleText().endsWith(" Set RS232 PORT1 : " + QString::fromStdString(linkPath) + "\n"));
            EXPECT_EQ(evb::BoardReady, 0);
            click("SDP2_SLV");
            EXPECT_FALSE(app->main->WarningWindow()->isVisible());
        }
        // Choosing the port by hand says the same and leaves it to its owner.
        typeText("RS232_CommPort", QString::fromStdString(linkPath));
        if (step == 0) click("setrs232cmd");
    }
    click("SDP2_MS");
    EXPECT_EQ(warning(), "COM1 used by others Device!");
    EXPECT_EQ(sentSinceMark(), 0u);
    EXPECT_TRUE(holder.fGetActive());
    // Once the other program lets go, the same button opens it and commands reach the board;
    // "Refresh" then sends the default set-up, which the cut-short start-up never did.
    holder.fSetActive(false);
    click("setrs232cmd");
    EXPECT_EQ(errorBox(), nullptr);
    expectFirstProgramStillWorks();
    markFrames();
    click("Refresh");
    EXPECT_EQ(errorBox(), nullptr);
    const auto frames = framesSinceMark(5);
    ASSERT_GE(frames.size(), 5u);
    EXPECT_EQ(frames.front().record[0], 0x0D);
}

} // namespace
