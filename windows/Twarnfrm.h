#pragma once
// The warning window: the one place where the program reports an error in a window of its own.
// Non-modal; a report fills both lines and shows it, and the caller goes on at once.

#include <QWidget>

class QLabel;
class QPushButton;

class Twarnfrm : public QWidget {
    Q_OBJECT
  public:
    explicit Twarnfrm(QWidget* parent = nullptr);

    // Fills both lines and shows the window in front. A second report while it is shown
    // replaces the lines; the window is not shown again.
    void Report(const QString& line1, const QString& line2);

    void FormCreate();
    void Button1Click();

    QLabel* Icon = nullptr;
    QLabel* Errlbl = nullptr;
    QLabel* Errlbl1 = nullptr;
    QPushButton* Button1 = nullptr;
};
