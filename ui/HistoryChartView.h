#pragma once
// The history window's plot: a line through the readings over time, broken where the journal
// has a gap (PlotPoint::Join::Break). It keeps every point of the shown range and draws at most
// four per pixel column of the visible part (first, lowest, highest, last), drawn again after
// each zoom or pan, so a day of changing readings draws fast and a zoomed-in part still shows
// every reading. The time axis has its ticks on round local times, the value axis fits the
// visible readings (without a few far outliers, which the axis's title counts, unless told to
// fit all) and names the unit. The chart draws the axes and the grid; the line is
// painted over its plot area here, one polyline per unbroken part.

#include <QChartView>
#include <memory>
#include <vector>

#include "JournalExport.h"

class QCategoryAxis;
class QLineSeries;
class QValueAxis;

class HistoryChartView : public QChartView {
    Q_OBJECT
  public:
    explicit HistoryChartView(QWidget* parent = nullptr);

    // The points of the range [fromMs, toMs) in time order, and the unit for the hover text.
    void SetPoints(std::shared_ptr<const std::vector<PlotPoint>> points, std::int64_t fromMs,
                   std::int64_t toMs, const QString& unit);
    // Shows [fromMs, toMs) of the time axis.
    void SetVisible(std::int64_t fromMs, std::int64_t toMs);
    // Zooms the time axis by `factor` (above 1: in) around the view's x coordinate.
    void Zoom(double factor, double viewX);
    // Moves the time axis by `pixels` of the plot (positive: to later times).
    void Pan(double pixels);
    // true: the value axis holds every visible reading, far outliers too.
    void SetFitAll(bool all);
    // The visible readings the value axis leaves out as outliers.
    int OutsideValues() const { return outside_; }

    std::int64_t VisibleFrom() const { return visibleFrom_; }
    std::int64_t VisibleTo() const { return visibleTo_; }
    int DrawnPoints() const { return int(shown_.size()); }
    // The points drawn now, in time order, with where the line breaks.
    const std::vector<PlotPoint>& Drawn() const { return shown_; }
    // The unbroken parts of the line drawn now: the first and the last time of each.
    std::vector<std::pair<std::int64_t, std::int64_t>> DrawnLines() const;
    QString HoverTextAt(const QPoint& viewPos) const;
    // The axes as drawn (for the tests): the time ticks' labels, the value axis's range.
    QStringList TimeLabels() const;
    std::pair<double, double> ValueRange() const;

  signals:
    // The visible part of the time axis changed (a new range, zoom, pan).
    void visibleChanged(std::int64_t fromMs, std::int64_t toMs);

  protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void drawForeground(QPainter* painter, const QRectF& rect) override;

  private:
    void Redraw();
    void PlaceTimeTicks();
    void FitValues();
    int Columns() const;

    std::shared_ptr<const std::vector<PlotPoint>> points_;
    std::int64_t fromMs_ = 0, toMs_ = 1;
    std::int64_t visibleFrom_ = 0, visibleTo_ = 1;
    QString unit_;
    bool fitAll_ = false;
    int outside_ = 0;
    std::vector<PlotPoint> shown_;  // what is drawn, with the breaks
    bool dragging_ = false;
    double dragX_ = 0;
    QLineSeries* series_ = nullptr;  // no points: it ties the axes to the plot area
    QCategoryAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
};
