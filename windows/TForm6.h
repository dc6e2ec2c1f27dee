#pragma once
// The About window: program name, version, the maker's notice and how to reach the maker.

#include <QWidget>

class QLabel;
class QPushButton;

class TForm6 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm6(QWidget* parent = nullptr);

    void Label5Click();  // opens the maker's web address
    void Button1Click(); // "OK": hides the window

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Image1 = nullptr;
    QPushButton* Button1 = nullptr;

    static constexpr const char* kWebAddress = "https://www.corvane.example/";

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
