#include "windows/TForm1.h"

TForm1::TForm1(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("Form1");
    setWindowTitle("Form1");
}
