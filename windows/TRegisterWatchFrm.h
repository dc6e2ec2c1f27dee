#pragma once
// "Register Watch": registers (or, with a register map, fields) polled at an interval, each
// with its current value, decoded with the map, and a step plot of its history. The reads go
// through the board session, which sends them only between the user's commands. While the
// window is closed or paused nothing is polled.
//
// Threading: UI thread only.

#include "protocol/RegisterMap.h"
#include "protocol/RegisterWatch.h"
#include "windows/StepPlot.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

class TRegisterWatchFrm : public QWidget {
    Q_OBJECT
  public:
    explicit TRegisterWatchFrm(QWidget* parent = nullptr);

    // Adds a register ("0x1A", "26", or its name in the map) or a field ("ADC_VOL_L.VOL");
    // false, with the reason in the status line, when it names neither.
    bool addWatch(const QString& what);
    void WatchAddCMDClick();
    void WatchRemoveCMDClick();
    void WatchPauseCMDClick(bool paused);
    void WatchClearCMDClick();
    void WatchExportCMDClick();
    // The file chooser of "Export CSV…", replaceable for tests; empty: cancelled.
    std::function<QString()> exportDialog;
    // The history as CSV: "time_s,watch,value" and a row per sample.
    std::string historyCsv() const;
    // The poll interval in use: the chosen one, or longer when the link needs it.
    int intervalMs() const;
    bool polling() const { return m_timer.isActive(); }

    // --- controls (objectName = the member's name) ---
    QLineEdit* WatchAddTxt = nullptr;
    QPushButton* WatchAddCMD = nullptr;
    QPushButton* WatchRemoveCMD = nullptr;
    QSpinBox* WatchIntervalSpin = nullptr;
    QPushButton* WatchPauseCMD = nullptr;
    QPushButton* WatchClearCMD = nullptr;
    QPushButton* WatchExportCMD = nullptr;
    QTableWidget* WatchList = nullptr;
    StepPlot* WatchPlot = nullptr;
    QLabel* WatchStatus = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    struct Item {
        std::uint8_t reg = 0;
        std::optional<evb::RegisterField> field;
        std::optional<evb::RegisterInfo> info; // the map's register, when known
        QString label;
        std::vector<StepPlot::Point> history;
    };
    void poll();
    void readNext();
    void arrived(const evb::WatchBlock& block, const std::vector<std::uint8_t>& values);
    void itemsChanged();
    void updateTimer();
    void showPlot();

    std::vector<Item> m_items;
    std::vector<evb::WatchBlock> m_blocks;
    std::size_t m_next = 0; // the block the running poll reads next; m_blocks.size(): none running
    QTimer m_timer;
    QElapsedTimer m_clock;
};
