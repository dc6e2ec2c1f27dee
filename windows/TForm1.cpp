#include "windows/TForm1.h"

#include "windows/ShellOpen.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("Form1");
    setWindowTitle("Form1");

    auto addLabel = [this](const char* name, const QString& text, int x, int y) {
        auto* l = new QLabel(text, this);
        l->setObjectName(name);
        l->adjustSize();
        l->move(x, y);
        return l;
    };
    // The colons are full-width (U+FF1A), as the window has always shown them.
    Label1 = addLabel("Label1", QString::fromUtf8("Matlab Version\uFF1A2016a     "), 24, 24);
    Label2 = addLabel("Label2", QString::fromUtf8("Matlab library file connection\uFF1A  "), 24, 56);
    Label5 = addLabel("Label5", kDownloadLink, 40, 82);
    QPalette linkPalette = Label5->palette();
    // The theme's link colour: blue on a light palette, still readable on a dark one.
    linkPalette.setColor(QPalette::WindowText, linkPalette.color(QPalette::Link));
    Label5->setPalette(linkPalette);
    QFont linkFont = Label5->font();
    linkFont.setUnderline(true);
    Label5->setFont(linkFont);
    Label5->setCursor(Qt::PointingHandCursor);
    Label5->installEventFilter(this);
    Label3 = addLabel("Label3", QString::fromUtf8("Password\uFF1A"), 24, 116);
    Label4 = addLabel("Label4", kPassword, Label3->x() + Label3->width() + 4, 116);

    Button1 = new QPushButton("OK", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(200, 156, 90, 30);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);

    setFixedSize(std::max(490, Label5->x() + Label5->width() + 24), 204);
}

void TForm1::Label5Click() {
    evb::ShellOpen(QUrl(QString::fromUtf8(kDownloadLink)));
}

void TForm1::Button1Click() {
    close();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label5 && event->type() == QEvent::MouseButtonRelease) {
        Label5Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
