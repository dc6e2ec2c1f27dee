// The board's replies are decoded on the UI thread, in order, by the reply kind of the last
// command sent, even when they arrive after a second command went out.
#include "tests/gui/support/GuiHarness.h"

#include "app/SessionBridge.h"
#include "protocol/Command.h"
#include "windows/LinkLogModel.h"
#include "windows/TLinkMonitorFrm.h"

#include <QFile>
#include <QThread>

TEST_F(GuiFixture, ReplyIsReadByTheSecondCommandsKindOnTheUiThreadAndAnEmptyEventChangesNothing) {
    chooseCodec("KV2440");
    triggerMenu("Link Monitor");
    for (const char* name : {"ShowTx", "ShowEvents", "ClearCMD"})
        click(QString("LinkMonitorFrm/") + name);
    std::vector<std::pair<std::uint8_t, bool>> seen; // kind, on the UI thread
    const auto watch = QObject::connect(&app->main->Bridge(), &SessionBridge::reply, [&](const evb::ReplyEvent& e) {
        if (e.kind != evb::ReplyEvent::Kind::Echoed)
            seen.emplace_back(e.replyKind, QThread::currentThread() == QCoreApplication::instance()->thread());
    });
    board->SetRegister(kChip, 0x10, 0x77);
    // Both replies are held back until both commands are out.
    board->DelayReplies(300ms);
    ASSERT_FALSE(evb::CmdReadReg(0x10));
    ASSERT_FALSE(evb::CmdBoardInfo());
    board->DelayReplies(0ms);
    settle();
    QObject::disconnect(watch);
    ASSERT_FALSE(seen.empty());
    for (const auto& [kind, onUiThread] : seen) {
        EXPECT_EQ(kind, evb::kReplyBoardInfo);
        EXPECT_TRUE(onUiThread);
    }
    // The register value was read as the first byte of an information record, in one package
    // (the simulated board's record holds the bytes 0x00 to 0x11).
    EXPECT_FALSE(consoleHas("ReadReg:"));
    EXPECT_TRUE(consoleHas(".....EVBINFO:77")) << consoleText().toStdString();
    LinkLogModel* m = app->main->LinkMonitorWindow()->model();
    ASSERT_GE(m->rowCount(), 1);
    EXPECT_TRUE(m->index(0, LinkLogModel::kBytes).data().toString().startsWith("77 00 01"));
    EXPECT_EQ(m->index(0, LinkLogModel::kMeaning).data().toString(), "19 bytes, board information");
    const QString path = files.filePath("link.txt"); // saved as shown
    app->main->LinkMonitorWindow()->saveFile = [&] { return path; };
    click("LinkMonitorFrm/SaveCMD");
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(saved.readAll()).contains(" RX 77 00 01 ")) << path.toStdString();
    click("LinkMonitorFrm/PauseCMD"); // the button names what the next click does
    EXPECT_EQ(find<QPushButton>("LinkMonitorFrm/PauseCMD")->text(), "Resume");
    click("LinkMonitorFrm/PauseCMD");
    EXPECT_EQ(find<QPushButton>("LinkMonitorFrm/PauseCMD")->text(), "Pause");

    typeText("kv2580mfrm/RegAddrTxt", "0x05");
    // CmdReadReg takes the oldest waiting package out of turn; the event raised for that
    // package then finds nothing and must not write a zero into the register.
    board->SetRegister(kChip, 0x05, 0x5A);
    auto& handoff = ReplyHandoff();
    const int queued = handoff.queued.load();
    board->SendUnsolicited({0x33});
    ASSERT_TRUE(waitHandedOver(queued + 1));
    ASSERT_EQ(handoff.queued.load(), queued + 1); // waiting, its event not yet handled
    ASSERT_FALSE(evb::CmdReadReg(0x05));
    EXPECT_EQ(evb::ReplyByte, 0x33);
    settle();
    EXPECT_EQ(cell(6, 1), "  0x5A");
    EXPECT_EQ(evb::gRegs.Shadow[0x05], 0x5A);
    EXPECT_EQ(consoleText().count("ReadReg:   Reg0x05 = 0x5A\n"), 1);
    EXPECT_FALSE(consoleHas("ReadReg:   Reg0x05 = 0x00"));
}
