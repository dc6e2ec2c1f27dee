#pragma once
// The register console window (placeholder until the console lands).

#include <QWidget>

class QLineEdit;
class QProgressBar;
class QTableWidget;

class Tkv2580mfrm : public QWidget {
    Q_OBJECT
public:
    explicit Tkv2580mfrm(QWidget* parent = nullptr);

    QLineEdit* RegAddrTxt = nullptr;
    QLineEdit* RegDatTxt = nullptr;
    QTableWidget* RegMapGrid = nullptr;
    QProgressBar* ProgrBar = nullptr;
};

extern Tkv2580mfrm* kv2580mfrm;
