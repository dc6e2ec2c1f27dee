#include "console/Tkv2580mfrm.h"

Tkv2580mfrm* kv2580mfrm = nullptr;

Tkv2580mfrm::Tkv2580mfrm(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("kv2580mfrm");
}
