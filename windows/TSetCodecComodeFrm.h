#pragma once
// The codec control-interface window: I2C or SPI, and the codec's 8-bit bus address (one of
// 24 fixed values or a typed one). "OK" sends the choice to the board and logs it.
// UI thread only.

#include <QWidget>

#include <array>
#include <cstdint>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class TSetCodecComodeFrm : public QWidget {
    Q_OBJECT
  public:
    static constexpr std::size_t kAddressCount = 24;
    // Values of the fixed address buttons, in the order "OK" tests them.
    static constexpr std::array<std::uint8_t, kAddressCount> kAddresses{
        0x10, 0x12, 0x14, 0x16, 0x20, 0x22, 0x24, 0x26, 0x30, 0x32, 0x34, 0x36,
        0x40, 0x42, 0x44, 0x46, 0x80, 0x82, 0x84, 0x86, 0xC0, 0xC2, 0xC4, 0xC6};

    explicit TSetCodecComodeFrm(QWidget* parent = nullptr);

    void FormCreate();
    void CODEC_I2C_SELClick();
    void CODEC_SPI_SELClick();
    // Shared body of CODEC_ADDR_10HClick ... CODEC_ADDR_C6HClick.
    void CODEC_ADDRClick(std::size_t index);
    void CODEC_ADDR_WRClick();
    void SetCodecComFrm_OKCMDClick();

    // The fixed address button whose value is addr, or null.
    QRadioButton* AddressButton(std::uint8_t addr) const;

    QGroupBox* ModeGroup = nullptr;
    QRadioButton* CODEC_I2C_SEL = nullptr;
    QRadioButton* CODEC_SPI_SEL = nullptr;
    QGroupBox* AddressGroup = nullptr;
    QLabel* ChipAddressLabel = nullptr;
    // CODEC_ADDR_10H ... CODEC_ADDR_C6H, in the order of kAddresses.
    std::array<QRadioButton*, kAddressCount> CODEC_ADDR{};
    QRadioButton* CODEC_ADDR_WR = nullptr;
    QLineEdit* ChipaddTxt = nullptr;
    QPushButton* SetCodecComFrm_OKCMD = nullptr;
};
