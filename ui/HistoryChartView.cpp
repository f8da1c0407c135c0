#include "HistoryChartView.h"

#include <QCategoryAxis>
#include <QChart>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "HistoryTexts.h"

namespace {
constexpr std::int64_t kShortestVisibleMs = 1000;
constexpr int kTimeTicks = 8;
const QColor kLineColor(0x1f, 0x6f, 0xb2);
}  // namespace

HistoryChartView::HistoryChartView(QWidget* parent) : QChartView(parent) {
    auto* chart = new QChart();
    chart->legend()->hide();
    chart->setLocale(QLocale(QLocale::Polish, QLocale::Poland));
    chart->setLocalizeNumbers(true);
    chart->setMargins(QMargins(4, 4, 20, 4));  // room for the last time label
    series_ = new QLineSeries(chart);
    chart->addSeries(series_);
    axisX_ = new QCategoryAxis(chart);
    axisX_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axisX_->setTitleText(QStringLiteral("Czas"));
    axisY_ = new QValueAxis(chart);
    chart->addAxis(axisX_, Qt::AlignBottom);
    chart->addAxis(axisY_, Qt::AlignLeft);
    series_->attachAxis(axisX_);
    series_->attachAxis(axisY_);
    setChart(chart);
    // Without smoothing: a day's few thousand points of zigzag stroke a hundred times faster.
    setRenderHint(QPainter::Antialiasing, false);
    setMouseTracking(true);
    setMinimumSize(400, 250);
    // The line is painted over the chart: the view draws it again whenever it draws.
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    setCacheMode(QGraphicsView::CacheNone);
}

void HistoryChartView::SetPoints(std::shared_ptr<const std::vector<PlotPoint>> points,
                                 std::int64_t fromMs, std::int64_t toMs, const QString& unit) {
    points_ = std::move(points);
    fromMs_ = fromMs;
    toMs_ = std::max(toMs, fromMs + kShortestVisibleMs);
    unit_ = unit;
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
    PlaceTimeTicks();
    Redraw();
    emit visibleChanged(visibleFrom_, visibleTo_);
}

void HistoryChartView::PlaceTimeTicks() {
    for (const QString& label : axisX_->categoriesLabels()) axisX_->remove(label);
    axisX_->setStartValue(double(visibleFrom_));
    for (const TimeTick& tick : TimeTicks(visibleFrom_, visibleTo_, kTimeTicks)) {
        axisX_->append(tick.label, double(tick.ms));
    }
    axisX_->setRange(double(visibleFrom_), double(visibleTo_));
}

int HistoryChartView::Columns() const {
    const int width = static_cast<int>(chart()->plotArea().width());
    return std::max(width > 0 ? width : this->width(), 100);
}

void HistoryChartView::Redraw() {
    shown_.clear();
    if (points_) {
        const std::vector<PlotPoint> reduced =
            ReduceMinMax(*points_, visibleFrom_, visibleTo_, Columns());
        shown_.reserve(reduced.size() + 2);
        // The points just outside the visible part keep the line running to the edges.
        const auto first =
            std::lower_bound(points_->begin(), points_->end(), visibleFrom_,
                             [](const PlotPoint& p, std::int64_t t) { return p.ms < t; });
        if (first != points_->begin()) shown_.push_back(*(first - 1));
        shown_.insert(shown_.end(), reduced.begin(), reduced.end());
        const auto last =
            std::lower_bound(points_->begin(), points_->end(), visibleTo_,
                             [](const PlotPoint& p, std::int64_t t) { return p.ms < t; });
        if (last != points_->end()) shown_.push_back(*last);
    }
    FitValues();
    viewport()->update();
}

void HistoryChartView::FitValues() {
    std::vector<double> values;
    values.reserve(shown_.size());
    for (const PlotPoint& p : shown_)
        if (p.ms >= visibleFrom_ && p.ms < visibleTo_) values.push_back(p.value);
    ValueSpan span = RobustValueSpan(values);
    if (fitAll_ && span.outside > 0) {
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        span = {*low, *high, 0};
    }
    outside_ = span.outside;
    const ValueAxisRange range =
        span.low <= span.high ? FitValueAxis(span.low, span.high) : FitValueAxis(0, 1);
    const int decimals = std::max(0, int(-std::floor(std::log10(range.step) + 1e-9)));
    axisY_->setLabelFormat(QStringLiteral("%.%1f").arg(decimals));
    // The range is whole steps: a tick at each.
    axisY_->setRange(range.min, range.max);
    axisY_->setTickCount(int(std::lround((range.max - range.min) / range.step)) + 1);
    QString title =
        unit_.isEmpty() ? QStringLiteral("Wartość") : QStringLiteral("Wartość [%1]").arg(unit_);
    if (outside_ > 0) title += QStringLiteral(" (poza osią: %1)").arg(outside_);
    axisY_->setTitleText(title);
}

void HistoryChartView::SetFitAll(bool all) {
    fitAll_ = all;
    FitValues();
    viewport()->update();
}

std::vector<std::pair<std::int64_t, std::int64_t>> HistoryChartView::DrawnLines() const {
    std::vector<std::pair<std::int64_t, std::int64_t>> lines;
    for (const PlotPoint& p : shown_) {
        if (lines.empty() || p.join == PlotPoint::Join::Break) {
            lines.push_back({p.ms, p.ms});
        } else {
            lines.back().second = p.ms;
        }
    }
    return lines;
}

void HistoryChartView::drawForeground(QPainter* painter, const QRectF& rect) {
    QChartView::drawForeground(painter, rect);
    const QRectF area = chart()->mapRectToScene(chart()->plotArea());
    if (shown_.empty() || area.width() <= 0 || area.height() <= 0) return;
    const double xScale = area.width() / double(visibleTo_ - visibleFrom_);
    const double low = axisY_->min(), span = axisY_->max() - axisY_->min();
    const double yScale = span > 0 ? area.height() / span : 0;
    painter->save();
    painter->setClipRect(area);
    // Thin lines a pixel apart (right, down) look like one of two pixels, with no notch where a
    // steep line steps to the next column; a pen of two pixels is stroked as an outline, ten
    // times slower for a day's zigzag.
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(kLineColor, 0));
    QPolygonF line;
    const auto flush = [&] {
        for (const QPointF shift : {QPointF(0, 0), QPointF(1, 0), QPointF(0, 1)}) {
            const QPolygonF moved = line.translated(shift);
            if (moved.size() == 1) painter->drawPoint(moved.front());
            if (moved.size() > 1) painter->drawPolyline(moved);
        }
        line.clear();
    };
    for (const PlotPoint& p : shown_) {
        if (p.join == PlotPoint::Join::Break) flush();
        line.append(QPointF(area.left() + double(p.ms - visibleFrom_) * xScale,
                            area.bottom() - (p.value - low) * yScale));
    }
    flush();
    painter->restore();
}

QStringList HistoryChartView::TimeLabels() const { return axisX_->categoriesLabels(); }

std::pair<double, double> HistoryChartView::ValueRange() const {
    return {axisY_->min(), axisY_->max()};
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
