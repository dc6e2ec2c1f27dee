#pragma once
// The S/PDIF configuration window: how the board's S/PDIF receiver presents its audio. "Set
// Configuration" stores the choices in the board state's S/PDIF record, logs them, sends the
// format command and the three port directions, and closes the window. UI thread only.

#include <QWidget>

class QGroupBox;
class QPushButton;
class QRadioButton;

class TSPDIFConfigFRM : public QWidget {
    Q_OBJECT
  public:
    explicit TSPDIFConfigFRM(QWidget* parent = nullptr);

    void ConfirmCMDClick();
    void Button1Click();

    QGroupBox* SPDIFTitle = nullptr;
    QGroupBox* GroupBox19 = nullptr;
    QRadioButton* SPDIF_MASTER = nullptr;
    QRadioButton* SPDIF_SLAVE = nullptr;
    // The MCLK/LRCK buttons sit at fixed positions inside their group, so the main window can
    // move them (top positions inside the group box).
    QGroupBox* GroupBox20 = nullptr;
    QRadioButton* SPDIF_LRC_256 = nullptr;
    QRadioButton* SPDIF_LRC_384 = nullptr;
    QRadioButton* SPDIF_LRC_512 = nullptr;
    QRadioButton* SPDIF_LRC_128 = nullptr;
    QGroupBox* GroupBox21 = nullptr;
    QRadioButton* SPDIF_SCLK_64 = nullptr;
    QRadioButton* SPDIF_SCLK_128 = nullptr;
    QPushButton* ConfirmCMD = nullptr;
    QGroupBox* GroupBox30 = nullptr;
    QRadioButton* SPDIF_FMT_I2S = nullptr;
    QRadioButton* SPDIF_FMT_LJ = nullptr;
    QRadioButton* SPDIF_FMT_RJ = nullptr;
    QGroupBox* GroupBox31 = nullptr;
    QRadioButton* SPDIF_FMT_B16 = nullptr;
    QRadioButton* SPDIF_FMT_B20 = nullptr;
    QRadioButton* SPDIF_FMT_B24 = nullptr;
    QPushButton* Button1 = nullptr;
};
