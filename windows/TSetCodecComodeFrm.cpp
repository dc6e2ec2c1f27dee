#include "windows/TSetCodecComodeFrm.h"

#include "protocol/BoardCommand.h"
#include "protocol/BoardState.h"
#include "protocol/Command.h"
#include "protocol/NumberField.h"
#include "protocol/TextConv.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <optional>
#include <string>

namespace {

void consoleAppend(const std::string& text) {
    if (auto* report = evb::UserReport()) report->ConsoleAppend(text);
}

// The custom address read in full (8-bit, as the address buttons are); nothing when the text
// is not such a number, with *problem naming the range.
std::optional<std::uint8_t> customAddress(const QLineEdit* edit, std::string* problem = nullptr) {
    const std::optional<int> v = evb::ReadNumberField(edit->text().toStdString(), {"Chip Address", 0, 0xFF}, problem);
    if (!v) return std::nullopt;
    return static_cast<std::uint8_t>(*v);
}

} // namespace

TSetCodecComodeFrm::TSetCodecComodeFrm(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("SetCodecComodeFrm");
    setWindowTitle("Setup Codec Communication Mode");

    ModeGroup = new QGroupBox("Select I2C/SPI Protocal ", this);
    ModeGroup->setObjectName("ModeGroup");
    CODEC_I2C_SEL = new QRadioButton("I2C Mode", ModeGroup);
    CODEC_I2C_SEL->setObjectName("CODEC_I2C_SEL");
    CODEC_SPI_SEL = new QRadioButton("SPI Mode", ModeGroup);
    CODEC_SPI_SEL->setObjectName("CODEC_SPI_SEL");
    CODEC_SPI_SEL->setEnabled(false);
    auto* modeLayout = new QHBoxLayout(ModeGroup);
    modeLayout->addWidget(CODEC_I2C_SEL);
    modeLayout->addWidget(CODEC_SPI_SEL);
    modeLayout->addStretch(1);

    AddressGroup = new QGroupBox(QString::fromUtf8("Codec I2C/SPI Address\uFF088bit\uFF09"), this);
    AddressGroup->setObjectName("AddressGroup");
    auto* grid = new QGridLayout(AddressGroup);
    ChipAddressLabel = new QLabel(QString::fromUtf8("Chip Address\uFF1A"), AddressGroup);
    ChipAddressLabel->setObjectName("ChipAddressLabel");
    grid->addWidget(ChipAddressLabel, 0, 0, 1, 4);
    for (std::size_t i = 0; i < kAddressCount; ++i) {
        const QString hex = QString::fromStdString(evb::Hex2(kAddresses[i]));
        auto* button = new QRadioButton("0x" + hex, AddressGroup);
        button->setObjectName("CODEC_ADDR_" + hex + "H");
        grid->addWidget(button, 1 + static_cast<int>(i / 4), static_cast<int>(i % 4));
        CODEC_ADDR[i] = button;
        // A radio button's click handler runs whenever it becomes checked, by the user or by code.
        connect(button, &QRadioButton::toggled, this, [this, i](bool on) {
            if (on) CODEC_ADDRClick(i);
        });
    }
    CODEC_ADDR_WR = new QRadioButton(" ", AddressGroup);
    CODEC_ADDR_WR->setObjectName("CODEC_ADDR_WR");
    ChipaddTxt = new QLineEdit("0x", AddressGroup);
    ChipaddTxt->setObjectName("ChipaddTxt");
    ChipaddTxt->setMaximumWidth(90);
    auto* custom = new QHBoxLayout;
    custom->setSpacing(2);
    custom->addWidget(CODEC_ADDR_WR);
    custom->addWidget(ChipaddTxt);
    custom->addStretch(1);
    grid->addLayout(custom, 1 + static_cast<int>(kAddressCount / 4), 0, 1, 4);

    SetCodecComFrm_OKCMD = new QPushButton("OK", this);
    SetCodecComFrm_OKCMD->setObjectName("SetCodecComFrm_OKCMD");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(SetCodecComFrm_OKCMD);
    buttons->addStretch(1);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(ModeGroup);
    outer->addWidget(AddressGroup);
    outer->addLayout(buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    connect(CODEC_I2C_SEL, &QRadioButton::toggled, this, [this](bool on) {
        if (on) CODEC_I2C_SELClick();
    });
    connect(CODEC_SPI_SEL, &QRadioButton::toggled, this, [this](bool on) {
        if (on) CODEC_SPI_SELClick();
    });
    connect(CODEC_ADDR_WR, &QRadioButton::toggled, this, [this](bool on) {
        if (on) CODEC_ADDR_WRClick();
    });
    connect(SetCodecComFrm_OKCMD, &QPushButton::clicked, this, [this] { SetCodecComFrm_OKCMDClick(); });

    FormCreate();
}

void TSetCodecComodeFrm::FormCreate() {}

void TSetCodecComodeFrm::CODEC_I2C_SELClick() {
    evb::Board().CommMode = 0;
}

void TSetCodecComodeFrm::CODEC_SPI_SELClick() {
    evb::Board().CommMode = 1;
}

void TSetCodecComodeFrm::CODEC_ADDRClick(std::size_t index) {
    evb::Board().ChipAddress = kAddresses.at(index);
}

void TSetCodecComodeFrm::CODEC_ADDR_WRClick() {
    // A text that is not an address leaves the address as it was; "OK" then refuses it.
    if (const auto v = customAddress(ChipaddTxt)) evb::Board().ChipAddress = *v;
}

QRadioButton* TSetCodecComodeFrm::AddressButton(std::uint8_t addr) const {
    for (std::size_t i = 0; i < kAddressCount; ++i)
        if (kAddresses[i] == addr) return CODEC_ADDR[i];
    return nullptr;
}

void TSetCodecComodeFrm::SetCodecComFrm_OKCMDClick() {
    // A custom address that is no 8-bit number sends nothing; the window stays open to mend it.
    std::string problem;
    const std::optional<std::uint8_t> custom = customAddress(ChipaddTxt, &problem);
    if (CODEC_ADDR_WR->isChecked() && !custom) {
        consoleAppend(" " + problem + "; nothing sent\r\n");
        return;
    }
    // The mode text has no line break: the address text completes the line.
    if (CODEC_I2C_SEL->isChecked()) {
        evb::CmdCommMode(0);
        consoleAppend(" Set the COMM Mode:IIC Mode     ");
    } else {
        evb::CmdCommMode(1);
        consoleAppend(" Set the COMM Mode:SPI Mode     ");
    }
    for (std::size_t i = 0; i < kAddressCount; ++i) {
        if (!CODEC_ADDR[i]->isChecked()) continue;
        evb::CmdChipAddress(kAddresses[i]);
        consoleAppend(" Set the CHIP Address:0x" + evb::Hex2(kAddresses[i]) + "\r\n");
    }
    if (CODEC_ADDR_WR->isChecked()) {
        const std::uint8_t v = *custom;
        evb::Board().ChipAddress = v;
        evb::CmdChipAddress(v);
        consoleAppend(" Set the CHIP Address:The custom Setting\xEF\xBC\x9A"
                      "0x" +
                      evb::Hex2(v) + "\r\n");
    }
    close();
}
