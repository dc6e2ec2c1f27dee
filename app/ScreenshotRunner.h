#pragma once
// Drives the program's own windows through a list of steps and saves window grabs as PNG
// files: the source of the README's screenshots (scripts/screenshots.sh). Runs on the UI
// thread, offscreen or on a display.

#include <QString>
#include <QStringList>

struct AppInstance;
class QWidget;

class ScreenshotRunner {
  public:
    ScreenshotRunner(AppInstance& app, QString directory);

    // steps: comma-separated, run in order:
    //   click:OBJECT        clicks the button (or check box, radio button) with that name
    //   trigger:ACTION      triggers the menu entry with that object name
    //   text:OBJECT=TEXT    sets the text of an edit field and presses Enter in it
    //   hover:OBJECT:X:Y    asks for the tooltip at X,Y of the widget (grab it as qtooltip_label)
    //   choose:FILE         the register console's file choosers answer FILE from then on
    //   grab:WINDOW[:FILE]  saves the window (by object name) as FILE (default WINDOW.png)
    // Returns false (with a message on stderr) when a step names nothing or a file cannot be
    // written.
    bool Run(const QString& steps);

  private:
    QWidget* findWindow(const QString& name) const;
    QWidget* findWidget(const QString& name) const;
    // Lets the board answer and the answers reach the windows before a grab.
    void settle();

    AppInstance& m_app;
    QString m_directory;
};
