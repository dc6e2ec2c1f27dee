#pragma once
// The program's windows against a simulated board published under a stable link (like
// /dev/serial/by-id/...), so that a board that hung up can come back under the same name and
// be opened again with "Refresh". Helpers wait for the board's replies to be handed over.

#include "ProcessProbe.h"

#include "app/ReplyHandoff.h"
#include "console/PresetFiles.h"
#include "console/RegisterState.h"
#include "console/Tkv2580mfrm.h"
#include "protocol/BoardCommand.h"
#include "protocol/BoardState.h"
#include "serial/TRkCommDevice.h"
#include "tests/gui/support/GuiHarness.h"
#include "windows/Twarnfrm.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;

class LinkedBoardFixture : public GuiFixture {
  protected:
    virtual evbsim::SimOptions boardOptions() const {
        evbsim::SimOptions options;
        options.pace = false;
        return options;
    }

    void SetUp() override {
        TestApp();
        evb::ReplyHandoff().queued.store(0);
        evb::ReplyHandoff().finished.store(0);
        evb::gRegs = evb::RegisterState{};
        evb::SetPresetSearchRoots({});
        sysRoot = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(sysRoot->isValid());
        ownBoard = std::make_unique<evbsim::SimBoard>(boardOptions());
        ASSERT_TRUE(ownBoard->Start());
        linkPath = (sysRoot->path() + "/evb-board").toStdString();
        ASSERT_TRUE(ownBoard->Link(linkPath));
        startApp(linkPath);
    }

    void startApp(const std::string& port) {
        AppConfig config;
        config.start.extraPort = port;
        restartApp(config, ownBoard.get());
        con = app->main->RegisterConsole();
    }

    void TearDown() override {
        evb::SetPresetSearchRoots({});
        GuiFixture::TearDown(); // the program lets go of the port before the board goes
        ownBoard.reset();
    }

    bool portOpen() const { return app->main->RS232.fGetActive(); }
    bool consoleHas(const QString& text) const { return consoleText().contains(text); }
    QString warning() const { return app->main->WarningWindow()->Errlbl->text(); }

    void settle() { settleReplies(300ms, 20s); }

    void chooseCodec(const QString& entry) {
        triggerMenu(entry);
        settle();
        markFrames();
    }

    // "Load Configuration File" with these files chosen in the dialog.
    void load(const QStringList& files) {
        con->opfcmd = [files] { return files; };
        click("kv2580mfrm/LDFileCMD");
    }

    std::string writeFile(const std::string& name, const std::string& bytes) {
        const std::string path = (files.path() + "/" + QString::fromStdString(name)).toStdString();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    // Frames the board logged since the last mark (no waiting).
    std::vector<evbsim::ReceivedFrame> framesLogged() const {
        const auto all = board->Frames();
        if (all.size() <= frameMark) return {};
        return {all.begin() + static_cast<std::ptrdiff_t>(frameMark), all.end()};
    }

    std::unique_ptr<evbsim::SimBoard> ownBoard;
    std::string linkPath;
    Tkv2580mfrm* con = nullptr;
    QTemporaryDir files;
};
