#include "HistoryChartView.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QMouseEvent>
#include <QToolTip>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "HistoryTexts.h"

namespace {
constexpr std::int64_t kShortestVisibleMs = 1000;
}

HistoryChartView::HistoryChartView(QWidget* parent) : QChartView(parent) {
    auto* chart = new QChart();
    chart->legend()->hide();
    chart->setLocale(QLocale(QLocale::Polish, QLocale::Poland));
    chart->setLocalizeNumbers(true);
    chart->setMargins(QMargins(4, 4, 4, 4));
    series_ = new QLineSeries(chart);
    chart->addSeries(series_);
    axisX_ = new QDateTimeAxis(chart);
    axisX_->setTickCount(7);
    axisY_ = new QValueAxis(chart);
    axisY_->setLabelFormat(QStringLiteral("%.2f"));
    chart->addAxis(axisX_, Qt::AlignBottom);
    chart->addAxis(axisY_, Qt::AlignLeft);
    series_->attachAxis(axisX_);
    series_->attachAxis(axisY_);
    setChart(chart);
    setRenderHint(QPainter::Antialiasing, false);
    setMouseTracking(true);
    setMinimumSize(400, 250);
}

void HistoryChartView::SetPoints(std::shared_ptr<const std::vector<PlotPoint>> points,
                                 std::int64_t fromMs, std::int64_t toMs, const QString& unit) {
    points_ = std::move(points);
    fromMs_ = fromMs;
    toMs_ = std::max(toMs, fromMs + kShortestVisibleMs);
    unit_ = unit;
    double low = 0, high = 1;
    if (points_ && !points_->empty()) {
        const auto [lo, hi] = std::minmax_element(
            points_->begin(), points_->end(),
            [](const PlotPoint& a, const PlotPoint& b) { return a.value < b.value; });
        low = lo->value;
        high = hi->value;
    }
    const double margin = high > low ? (high - low) * 0.05 : std::max(std::abs(high) * 0.05, 1.0);
    axisY_->setRange(low - margin, high + margin);
    axisY_->applyNiceNumbers();
    SetVisible(fromMs_, toMs_);
}

void HistoryChartView::SetVisible(std::int64_t fromMs, std::int64_t toMs) {
    if (toMs - fromMs < kShortestVisibleMs) {
        const std::int64_t middle = fromMs / 2 + toMs / 2;
        fromMs = middle - kShortestVisibleMs / 2;
        toMs = fromMs + kShortestVisibleMs;
    }
    visibleFrom_ = fromMs;
    visibleTo_ = toMs;
    const std::int64_t span = toMs - fromMs;
    axisX_->setFormat(span > 2 * 86'400'000 ? QStringLiteral("dd.MM HH:mm")
                      : span > 600'000      ? QStringLiteral("HH:mm")
                                            : QStringLiteral("HH:mm:ss"));
    axisX_->setRange(QDateTime::fromMSecsSinceEpoch(fromMs), QDateTime::fromMSecsSinceEpoch(toMs));
    Redraw();
}

int HistoryChartView::Columns() const {
    const int width = static_cast<int>(chart()->plotArea().width());
    return std::max(width > 0 ? width : this->width(), 100);
}

void HistoryChartView::Redraw() {
    QList<QPointF> shown;
    if (points_) {
        const std::vector<PlotPoint> reduced =
            ReduceMinMax(*points_, visibleFrom_, visibleTo_, Columns());
        shown.reserve(qsizetype(reduced.size()) + 2);
        // The points just outside the visible part keep the line running to the edges.
        const auto first =
            std::lower_bound(points_->begin(), points_->end(), visibleFrom_,
                             [](const PlotPoint& p, std::int64_t t) { return p.ms < t; });
        if (first != points_->begin()) {
            const PlotPoint& p = *(first - 1);
            shown.append(QPointF(double(p.ms), p.value));
        }
        for (const PlotPoint& p : reduced) shown.append(QPointF(double(p.ms), p.value));
        const auto last =
            std::lower_bound(points_->begin(), points_->end(), visibleTo_,
                             [](const PlotPoint& p, std::int64_t t) { return p.ms < t; });
        if (last != points_->end()) shown.append(QPointF(double(last->ms), last->value));
    }
    drawn_ = int(shown.size());
    series_->replace(shown);
}

void HistoryChartView::Zoom(double factor, double viewX) {
    const QRectF area = chart()->plotArea();
    if (area.width() <= 0 || factor <= 0) return;
    const double at = std::clamp((viewX - area.left()) / area.width(), 0.0, 1.0);
    const double span = double(visibleTo_ - visibleFrom_);
    const double anchor = double(visibleFrom_) + at * span;
    const double newSpan =
        std::clamp(span / factor, double(kShortestVisibleMs), double(toMs_ - fromMs_) * 4);
    const auto from = static_cast<std::int64_t>(anchor - at * newSpan);
    SetVisible(from, from + static_cast<std::int64_t>(newSpan));
}

void HistoryChartView::Pan(double pixels) {
    const QRectF area = chart()->plotArea();
    if (area.width() <= 0) return;
    const auto shift =
        static_cast<std::int64_t>(pixels / area.width() * double(visibleTo_ - visibleFrom_));
    SetVisible(visibleFrom_ + shift, visibleTo_ + shift);
}

QString HistoryChartView::HoverTextAt(const QPoint& viewPos) const {
    if (!points_ || points_->empty()) return {};
    const QPointF scenePos = mapToScene(viewPos);
    const QPointF chartPos = chart()->mapFromScene(scenePos);
    if (!chart()->plotArea().contains(chartPos)) return {};
    const QPointF value = chart()->mapToValue(chartPos, series_);
    const PlotPoint* nearest = NearestPoint(*points_, static_cast<std::int64_t>(value.x()));
    if (nearest == nullptr) return {};
    return HoverText(*nearest, unit_);
}

void HistoryChartView::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0) Zoom(std::pow(1.25, steps), event->position().x());
    event->accept();
}

void HistoryChartView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragX_ = event->position().x();
        setCursor(Qt::ClosedHandCursor);
    }
    event->accept();
}

void HistoryChartView::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        Pan(dragX_ - event->position().x());
        dragX_ = event->position().x();
    } else {
        const QString text = HoverTextAt(event->position().toPoint());
        if (text.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(event->globalPosition().toPoint(), text, this);
        }
    }
    event->accept();
}

void HistoryChartView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
        unsetCursor();
    }
    event->accept();
}

void HistoryChartView::mouseDoubleClickEvent(QMouseEvent* event) {
    SetVisible(fromMs_, toMs_);
    event->accept();
}

void HistoryChartView::resizeEvent(QResizeEvent* event) {
    QChartView::resizeEvent(event);
    Redraw();
}
