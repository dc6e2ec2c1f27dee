#include "windows/TForm6.h"

#include "windows/ShellOpen.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

namespace {

QPixmap makeLogo() {
    QPixmap pix(72, 72);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1f, 0x4e, 0x8c));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(2, 2, 68, 68), 12, 12);
    p.setPen(QPen(Qt::white, 6));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(16, 16, 40, 40), 45 * 16, 270 * 16);
    return pix;
}

} // namespace

TForm6::TForm6(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("Form6");
    setWindowTitle("Corvane Evaluation Software");

    int y = 16;
    auto addLabel = [this, &y](const char* name, const QString& text, bool bold = false) {
        auto* l = new QLabel(text, this);
        l->setObjectName(name);
        if (bold) {
            QFont f = l->font();
            f.setBold(true);
            f.setPixelSize(16);
            l->setFont(f);
        }
        l->adjustSize();
        l->move(104, y);
        y += l->height() + 8;
        return l;
    };
    Label1 = addLabel("Label1", "Corvane Evaluation Software", true);
    Label2 = addLabel("Label2", "Version : 2.4.5.2");
    Label3 =
        addLabel("Label3", QString::fromUtf8("Copyright \u00A9 Corvane Semiconductor. All rights reserved."));
    Label4 = addLabel("Label4", "If you have any question,please contact with us,");
    Label5 = addLabel("Label5", kWebAddress);
    QPalette linkPalette = Label5->palette();
    // The theme's link colour: blue on a light palette, still readable on a dark one.
    linkPalette.setColor(QPalette::WindowText, linkPalette.color(QPalette::Link));
    Label5->setPalette(linkPalette);
    QFont linkFont = Label5->font();
    linkFont.setUnderline(true);
    Label5->setFont(linkFont);
    Label5->setCursor(Qt::PointingHandCursor);
    Label5->installEventFilter(this);
    Label6 = addLabel("Label6", "support@corvane.example");
    Label7 = addLabel("Label7", "sales@corvane.example");

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(makeLogo());
    Image1->setGeometry(16, 16, 72, 72);

    Button1 = new QPushButton("OK", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(200, y + 8, 90, 30);
    connect(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);

    setFixedSize(480, y + 54);
}

void TForm6::Label5Click() {
    evb::ShellOpen(QUrl(QString::fromUtf8(kWebAddress)));
}

void TForm6::Button1Click() {
    close();
}

bool TForm6::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label5 && event->type() == QEvent::MouseButtonRelease) {
        Label5Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
