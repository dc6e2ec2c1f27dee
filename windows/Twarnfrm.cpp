#include "windows/Twarnfrm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

Twarnfrm::Twarnfrm(QWidget* parent)
    // No system menu: the title bar carries no close button, "Exit" is the way out.
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("warnfrm");
    setWindowTitle("Warnning");

    Icon = new QLabel(this);
    Icon->setObjectName("WarnIcon");
    Icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(48, 48));
    Errlbl = new QLabel(this);
    Errlbl->setObjectName("Errlbl");
    Errlbl->setMinimumWidth(260);
    Errlbl1 = new QLabel(this);
    Errlbl1->setObjectName("Errlbl1");
    Button1 = new QPushButton("Exit", this);
    Button1->setObjectName("Button1");

    auto* lines = new QVBoxLayout;
    lines->addWidget(Errlbl);
    lines->addWidget(Errlbl1);
    auto* top = new QHBoxLayout;
    top->addWidget(Icon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(lines, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addStretch(1);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top);
    outer->addSpacing(8);
    outer->addLayout(buttons);
    // Single border: the window keeps the size of its contents.
    outer->setSizeConstraint(QLayout::SetFixedSize);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    FormCreate();
}

void Twarnfrm::FormCreate() {
    Errlbl->clear();
    Errlbl1->clear();
}

void Twarnfrm::Button1Click() {
    close();
}

void Twarnfrm::Report(const QString& line1, const QString& line2) {
    Errlbl->setText(line1);
    Errlbl1->setText(line2);
    if (isMinimized()) showNormal();
    if (!isVisible()) show();
    raise();
    activateWindow();
}
