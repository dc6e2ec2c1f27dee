#include "windows/GroupPanel.h"

#include <QGroupBox>
#include <QVBoxLayout>

namespace evb {

QWidget* InnerGroupPanel(QGroupBox* outer, const char* objectName) {
    auto* panel = new QWidget(outer);
    panel->setObjectName(objectName);
    auto* layout = new QVBoxLayout(outer);
    layout->addWidget(panel);
    return panel;
}

} // namespace evb
