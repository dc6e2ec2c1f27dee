#pragma once
// The MATLAB instructions window: the MATLAB version the library files need, where to download
// them and the download's password.

#include <QWidget>

class QLabel;
class QPushButton;

class TForm1 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm1(QWidget* parent = nullptr);

    void Label5Click();  // opens the download link
    void Button1Click(); // "OK": hides the window

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* Button1 = nullptr;

    static constexpr const char* kDownloadLink =
        "https://download.corvane.example/matlab/evb-matlab-library.zip";
    static constexpr const char* kPassword = "qvbm";

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
