#pragma once
// The history window's plot: a line through the readings over time. It keeps every point of the
// shown range and draws at most four per pixel column of the visible part (first, lowest,
// highest, last), drawn again after each zoom or pan, so a day of changing readings draws fast
// and a zoomed-in part still shows every reading.

#include <QChartView>
#include <memory>
#include <vector>

#include "JournalExport.h"

class QDateTimeAxis;
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

    std::int64_t VisibleFrom() const { return visibleFrom_; }
    std::int64_t VisibleTo() const { return visibleTo_; }
    int DrawnPoints() const { return drawn_; }
    QString HoverTextAt(const QPoint& viewPos) const;

  protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Redraw();
    int Columns() const;

    std::shared_ptr<const std::vector<PlotPoint>> points_;
    std::int64_t fromMs_ = 0, toMs_ = 1;
    std::int64_t visibleFrom_ = 0, visibleTo_ = 1;
    QString unit_;
    int drawn_ = 0;
    bool dragging_ = false;
    double dragX_ = 0;
    QLineSeries* series_ = nullptr;
    QDateTimeAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
};
