#pragma once
// The Link Monitor: the link log live, newest at the bottom, one row per frame sent, package
// received or port event, with a direction filter, pause, clear and "Save…".
//
// It costs nothing while hidden: it follows the log only while shown, and then redraws at
// most every kRedrawMs however fast entries arrive (a board that babbles).
//
// Threading: UI thread only.

#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

class QCheckBox;
class QPushButton;
class QTableView;
class LinkLogModel;
namespace evb {
class LinkLog;
}

class TLinkMonitorFrm : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRedrawMs = 50;

    // Shows `log`, which must outlive the window.
    explicit TLinkMonitorFrm(evb::LinkLog& log, QWidget* parent = nullptr);
    ~TLinkMonitorFrm() override;

    void PauseCMDClick();
    void ClearCMDClick();
    void SaveCMDClick();
    // Writes the entries shown to path: a line with the date, then one line per entry.
    // Returns why it failed, empty on success.
    QString saveTo(const QString& path) const;

    // The file chooser of "Save…"; replaceable so that tests need no dialog. Empty: cancelled.
    std::function<QString()> saveFile;

    QTableView* LinkTable = nullptr;
    QCheckBox* ShowTx = nullptr;
    QCheckBox* ShowRx = nullptr;
    QCheckBox* ShowEvents = nullptr;
    QPushButton* PauseCMD = nullptr;
    QPushButton* ClearCMD = nullptr;
    QPushButton* SaveCMD = nullptr;

    LinkLogModel* model() const { return m_model; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void follow(bool on);
    void redraw();
    void filterChanged();

    evb::LinkLog& m_log;
    LinkLogModel* m_model = nullptr;
    QTimer m_redraw; // single shot: one redraw for everything logged since the last
    int m_observer = 0;
    bool m_paused = false;
};
