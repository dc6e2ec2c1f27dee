#pragma once
// A step plot of one register's (or field's) history, drawn with QPainter: time on the x axis,
// the value on the y axis, each value held until the next. New data asks for a repaint; the
// plot repaints at most 20 times a second, however fast the data comes.
//
// Threading: UI thread only.

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <vector>

class StepPlot : public QWidget {
    Q_OBJECT
  public:
    struct Point {
        double t = 0; // seconds
        unsigned v = 0;
    };
    static constexpr int kMinRepaintMs = 50;

    explicit StepPlot(QWidget* parent = nullptr);
    // The series shown (empty: none) and the y range (0..maxValue).
    void setSeries(const std::vector<Point>* points, unsigned maxValue, const QString& title);
    // New points were added to the series: repainted within kMinRepaintMs.
    void dataChanged();
    int paints() const { return m_paints; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    const std::vector<Point>* m_points = nullptr;
    unsigned m_max = 255;
    QString m_title;
    QTimer m_throttle;
    QElapsedTimer m_lastPaint;
    int m_paints = 0;
};
