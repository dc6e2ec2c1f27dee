// The start-up reference: the least a Qt Widgets program does to put one window on screen, the
// toolkit's "hello world": one window showing one line of text. Prints "ready" once its event
// loop runs with the window shown, as evbconsole --report-ready does after its start-up banners.
// With --empty the window holds nothing at all, so the program never sets up fonts; that
// figure is reported for information (any window with text pays for fonts).
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("minimal");
    window.resize(640, 480);
    if (!QApplication::arguments().contains("--empty")) new QLabel("Hello", &window);
    window.show();
    QTimer::singleShot(0, [] {
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
    });
    return QApplication::exec();
}
