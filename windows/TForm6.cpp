#include "windows/TForm6.h"

TForm6::TForm6(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("Form6");
    setWindowTitle("Corvane Evaluation Software");
}
