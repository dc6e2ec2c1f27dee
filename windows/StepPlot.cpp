#include "windows/StepPlot.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

StepPlot::StepPlot(QWidget* parent) : QWidget(parent) {
    setMinimumSize(320, 160);
    m_throttle.setSingleShot(true);
    connect(&m_throttle, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void StepPlot::setSeries(const std::vector<Point>* points, unsigned maxValue, const QString& title) {
    m_points = points;
    m_max = std::max(1u, maxValue);
    m_title = title;
    dataChanged();
}

void StepPlot::dataChanged() {
    if (m_throttle.isActive()) return;
    const qint64 since = m_lastPaint.isValid() ? m_lastPaint.elapsed() : kMinRepaintMs;
    m_throttle.start(static_cast<int>(std::max<qint64>(0, kMinRepaintMs - since)));
}

void StepPlot::paintEvent(QPaintEvent*) {
    ++m_paints;
    m_lastPaint.start();
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QFontMetrics fm(font());
    const int left = fm.horizontalAdvance("0xFFFF") + 8;
    const int bottom = height() - fm.height() - 6;
    const QRect area(left, fm.height() + 4, width() - left - 8, bottom - fm.height() - 4);
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRect(0, 0, width(), fm.height() + 2), Qt::AlignHCenter, m_title);
    p.drawRect(area);
    p.drawText(QRect(0, area.top() - fm.height() / 2, left - 4, fm.height()), Qt::AlignRight,
               "0x" + QString::number(m_max, 16).toUpper());
    p.drawText(QRect(0, area.bottom() - fm.height() / 2, left - 4, fm.height()), Qt::AlignRight, "0");
    if (!m_points || m_points->empty()) return;
    const double t0 = m_points->front().t;
    const double span = std::max(1.0, m_points->back().t - t0);
    p.drawText(QRect(area.left(), bottom + 2, area.width(), fm.height()), Qt::AlignLeft, "0 s");
    p.drawText(QRect(area.left(), bottom + 2, area.width(), fm.height()), Qt::AlignRight,
               QString::number(span, 'f', 1) + " s");
    const auto x = [&](double t) { return area.left() + (t - t0) / span * area.width(); };
    const auto y = [&](unsigned v) { return area.bottom() - double(std::min(v, m_max)) / m_max * area.height(); };
    // Long histories: one step per pixel column is all the screen can show.
    const std::size_t stride = std::max<std::size_t>(1, m_points->size() / static_cast<std::size_t>(std::max(1, area.width())));
    QPainterPath path(QPointF(x(t0), y(m_points->front().v)));
    const auto step = [&](const Point& pt) {
        path.lineTo(x(pt.t), path.currentPosition().y());
        path.lineTo(x(pt.t), y(pt.v));
    };
    for (std::size_t i = stride; i < m_points->size(); i += stride)
        step((*m_points)[i]);
    if ((m_points->size() - 1) % stride != 0) step(m_points->back());
    path.lineTo(area.right(), path.currentPosition().y());
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(palette().color(QPalette::Highlight), 2));
    p.drawPath(path);
}
