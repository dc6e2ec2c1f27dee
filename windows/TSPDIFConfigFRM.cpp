#include "windows/TSPDIFConfigFRM.h"

#include "protocol/BoardCommand.h"
#include "protocol/BoardState.h"
#include "protocol/Command.h"
#include "windows/GroupPanel.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>

namespace {

void consoleAppend(const std::string& text) {
    if (auto* report = evb::UserReport()) report->ConsoleAppend(text);
}

QRadioButton* addRadio(QGroupBox* group, const char* name, const char* caption) {
    auto* button = new QRadioButton(caption, group);
    button->setObjectName(name);
    return button;
}

QGroupBox* stackedGroup(QWidget* parent, const char* name, const char* caption,
                        std::initializer_list<QRadioButton**> buttons,
                        std::initializer_list<std::pair<const char*, const char*>> captions) {
    auto* group = new QGroupBox(caption, parent);
    group->setObjectName(name);
    auto* layout = new QVBoxLayout(group);
    auto target = buttons.begin();
    for (const auto& [objectName, text] : captions) {
        **target = addRadio(group, objectName, text);
        layout->addWidget(**target);
        ++target;
    }
    layout->addStretch(1);
    return group;
}

constexpr int kLrcLeft = 12;
constexpr int kLrcFirstTop = 24;
constexpr int kLrcStep = 25;

std::uint8_t withLowNibble(std::uint8_t value, std::uint8_t code) {
    return static_cast<std::uint8_t>((value & 0xF0) | code);
}

} // namespace

TSPDIFConfigFRM::TSPDIFConfigFRM(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("SPDIFConfigFRM");
    setWindowTitle("SPDIF Configuration");

    SPDIFTitle = new QGroupBox("Configuration(RX)", this);
    SPDIFTitle->setObjectName("SPDIFTitle");

    QWidget* panel = evb::InnerGroupPanel(SPDIFTitle, "SpdifPanel");
    GroupBox19 = stackedGroup(panel, "GroupBox19", "Master/Slave", {&SPDIF_MASTER, &SPDIF_SLAVE},
                              {{"SPDIF_MASTER", "CS8416 Master"}, {"SPDIF_SLAVE", "CS8416 Slave"}});

    GroupBox20 = new QGroupBox("MCLK/LRCK", panel);
    GroupBox20->setObjectName("GroupBox20");
    SPDIF_LRC_256 = addRadio(GroupBox20, "SPDIF_LRC_256", "256");
    SPDIF_LRC_384 = addRadio(GroupBox20, "SPDIF_LRC_384", "384");
    SPDIF_LRC_512 = addRadio(GroupBox20, "SPDIF_LRC_512", "512");
    SPDIF_LRC_128 = addRadio(GroupBox20, "SPDIF_LRC_128", "128");
    int top = kLrcFirstTop;
    int widest = 0;
    for (QRadioButton* button : {SPDIF_LRC_256, SPDIF_LRC_384, SPDIF_LRC_512, SPDIF_LRC_128}) {
        button->adjustSize();
        button->move(kLrcLeft, top);
        widest = std::max(widest, button->width());
        top += kLrcStep;
    }
    GroupBox20->setMinimumSize(std::max(widest + 2 * kLrcLeft, 110), top + 6);

    GroupBox21 = stackedGroup(panel, "GroupBox21", "SCLK/LRCK", {&SPDIF_SCLK_64, &SPDIF_SCLK_128},
                              {{"SPDIF_SCLK_64", "64"}, {"SPDIF_SCLK_128", "128"}});
    GroupBox30 = stackedGroup(
        panel, "GroupBox30", "Digital Audio Format", {&SPDIF_FMT_I2S, &SPDIF_FMT_LJ, &SPDIF_FMT_RJ},
        {{"SPDIF_FMT_I2S", "I2S"}, {"SPDIF_FMT_LJ", "Left Justified"}, {"SPDIF_FMT_RJ", "Right Justified"}});
    GroupBox31 = stackedGroup(
        panel, "GroupBox31", "Resolution", {&SPDIF_FMT_B16, &SPDIF_FMT_B20, &SPDIF_FMT_B24},
        {{"SPDIF_FMT_B16", "16 Bits"}, {"SPDIF_FMT_B20", "20 Bits"}, {"SPDIF_FMT_B24", "24 Bits"}});

    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(GroupBox19, 0, 0);
    grid->addWidget(GroupBox30, 0, 1);
    grid->addWidget(GroupBox31, 0, 2);
    grid->addWidget(GroupBox20, 1, 0);
    grid->addWidget(GroupBox21, 1, 1, Qt::AlignTop);

    ConfirmCMD = new QPushButton("Set Configuration", this);
    ConfirmCMD->setObjectName("ConfirmCMD");
    Button1 = new QPushButton("Regsiter Map", this);
    Button1->setObjectName("Button1");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ConfirmCMD);
    buttons->addWidget(Button1);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(SPDIFTitle);
    outer->addLayout(buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    connect(ConfirmCMD, &QPushButton::clicked, this, [this] { ConfirmCMDClick(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TSPDIFConfigFRM::ConfirmCMDClick() {
    auto& s = evb::Board().Spdif;
    consoleAppend("..............................Set the SPDIF Mode..............................\r\n");
    // With no mode button checked the slave branch is taken, as the window has always done.
    if (SPDIF_MASTER->isChecked()) {
        s.rx_mode = 0;
        s.tx_mode = 1;
        consoleAppend(" Mode:Master  ");
    } else {
        s.rx_mode = 1;
        s.tx_mode = 1;
        consoleAppend(" Mode:Slave  ");
    }

    struct Format {
        QRadioButton* button;
        std::uint8_t code;
        const char* text;
    };
    for (const Format& f :
         {Format{SPDIF_FMT_I2S, 0x10, " Format:IIS  "}, Format{SPDIF_FMT_LJ, 0x00, " Format:LJ  "},
          Format{SPDIF_FMT_RJ, 0x20, " Format:RJ  "}}) {
        if (!f.button->isChecked()) continue;
        s.rx_format = f.code;
        s.tx_format = f.code;
        consoleAppend(f.text);
    }
    for (const Format& f : {Format{SPDIF_FMT_B16, 2, " Resolution:16 Bits  "},
                            Format{SPDIF_FMT_B20, 1, " Resolution:20 Bits  "},
                            Format{SPDIF_FMT_B24, 0, " Resolution:24 Bits  "}}) {
        if (!f.button->isChecked()) continue;
        s.rx_resolution = withLowNibble(s.rx_resolution, f.code);
        s.tx_resolution = withLowNibble(s.tx_resolution, f.code);
        consoleAppend(f.text);
    }
    if (SPDIF_LRC_256->isChecked()) {
        s.rx_mclk_ratio = 1;
        s.tx_mclk_ratio = 1;
        consoleAppend(" MCLK/LRCK:256  ");
    }
    if (SPDIF_LRC_128->isChecked()) {
        s.rx_mclk_ratio = 0;
        s.tx_mclk_ratio = 0;
        consoleAppend(" MCLK/LRCK:128  ");
    }
    if (SPDIF_SCLK_64->isChecked()) {
        s.rx_sclk_ratio = 0x40;
        s.tx_sclk_ratio = 0x40;
        consoleAppend(" SCLK/LRCK:64\r\n");
    }
    if (SPDIF_SCLK_128->isChecked()) {
        s.rx_sclk_ratio = 0x80;
        s.tx_sclk_ratio = 0x80;
        consoleAppend(" SCLK/LRCK:128\r\n");
    }

    evb::CmdSpdifFormat();
    for (std::uint8_t port = 0; port < 3; ++port)
        evb::CmdSdpDirection(port, evb::Board().SdpFlag[port]);
    close();
}

void TSPDIFConfigFRM::Button1Click() {}
