#pragma once
// The "RS-232 Configuration" window. It only displays port and baud choices: nothing in the
// program reads them, and its "EXIT" button does nothing.

#include <QWidget>

class QComboBox;
class QGroupBox;
class QPushButton;

class TRS232CfgFrm : public QWidget {
    Q_OBJECT
  public:
    explicit TRS232CfgFrm(QWidget* parent = nullptr);

    void FormCreate();
    void RS232FRM_ExtCMDClick();

    QGroupBox* BaudGroup = nullptr;
    QComboBox* RS232BaudSet_Box = nullptr;
    QGroupBox* PortGroup = nullptr;
    QComboBox* comportsel_box = nullptr;
    QPushButton* RS232FRM_ExtCMD = nullptr;
};
