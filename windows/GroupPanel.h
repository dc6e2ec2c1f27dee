#pragma once
// Group boxes inside a titled group box sit in an untitled panel of it. Assistive technology
// takes a titled group box as the label of its direct children, so an inner group box placed
// straight into the outer one would be announced by the outer group's title.

class QGroupBox;
class QWidget;

namespace evb {

// A plain widget for the inner groups, the first item of the QVBoxLayout it gives outer (rows
// of outer's own controls may follow it there). Give the panel a layout without margins.
QWidget* InnerGroupPanel(QGroupBox* outer, const char* objectName);

} // namespace evb
