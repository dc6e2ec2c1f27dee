// This console on a port another program holds: the clear error and nothing on the wire, and the
// port opened once its owner lets go. The error itself is the serial layer's, tested there.
#include "ReliabilityFixture.h"

namespace {

using PortInUseTest = LinkedBoardFixture;

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
    EXPECT_TRUE(portOpen());
    markFrames();
    click("SDP2_SLV");
    expectSent({{0x02, 0x01, 0x01}});
    click("Refresh");
    EXPECT_EQ(errorBox(), nullptr);
    const auto frames = framesSinceMark(5);
    ASSERT_GE(frames.size(), 5u);
    EXPECT_EQ(frames.front().record[0], 0x0D);
}

} // namespace
