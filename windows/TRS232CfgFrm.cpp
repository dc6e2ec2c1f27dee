#include "windows/TRS232CfgFrm.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TRS232CfgFrm::TRS232CfgFrm(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("RS232CfgFrm");
    setWindowTitle("RS-232 Configuration");

    BaudGroup = new QGroupBox("RS-232 Baud Rate ", this);
    BaudGroup->setObjectName("BaudGroup");
    RS232BaudSet_Box = new QComboBox(BaudGroup);
    RS232BaudSet_Box->setObjectName("RS232BaudSet_Box");
    RS232BaudSet_Box->addItems({"300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
                                "56000", "57600", "115200", "128000", "256000"});
    RS232BaudSet_Box->setCurrentText("9600");
    (new QVBoxLayout(BaudGroup))->addWidget(RS232BaudSet_Box);

    PortGroup = new QGroupBox("RS-232 Port", this);
    PortGroup->setObjectName("PortGroup");
    comportsel_box = new QComboBox(PortGroup);
    comportsel_box->setObjectName("comportsel_box");
    for (int n = 1; n <= 16; ++n)
        comportsel_box->addItem(QString("COM%1").arg(n));
    comportsel_box->setCurrentText("COM1");
    (new QVBoxLayout(PortGroup))->addWidget(comportsel_box);

    RS232FRM_ExtCMD = new QPushButton("EXIT", this);
    RS232FRM_ExtCMD->setObjectName("RS232FRM_ExtCMD");

    auto* groups = new QHBoxLayout;
    groups->addWidget(BaudGroup);
    groups->addWidget(PortGroup);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(RS232FRM_ExtCMD);
    buttons->addStretch(1);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(groups);
    outer->addLayout(buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    connect(RS232FRM_ExtCMD, &QPushButton::clicked, this, [this] { RS232FRM_ExtCMDClick(); });
    FormCreate();
}

void TRS232CfgFrm::FormCreate() {}

void TRS232CfgFrm::RS232FRM_ExtCMDClick() {}
