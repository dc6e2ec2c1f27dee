// The start-up reference: the least a Qt Widgets program does to put one window on screen.
// Prints "ready" once its event loop runs with the window shown, as evbconsole --report-ready
// does after its start-up banners. With --label the window holds one line of text, so the
// program also sets up fonts, which any window with text pays for.
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
    if (QApplication::arguments().contains("--label")) new QLabel("Hello", &window);
    window.show();
    QTimer::singleShot(0, [] {
        std::fputs("ready\n", stdout);
        std::fflush(stdout);
    });
    return QApplication::exec();
}
