#pragma once
// HistoryWindow: "Historia ważeń", shown without being modal. The operator picks a day or a time
// range ("Od" and "Do" take a time typed whole); the readings are drawn over time, the line
// broken at the journal's gaps (zoom with the wheel, pan by dragging, a double click shows the
// whole range again, hovering shows the value and the time) and the report lines of the visible
// part are listed beside the plot with their times. "Eksportuj do CSV..." and "Eksportuj do
// Excela..." write the shown range. While it is open and its range reaches the present, it
// reads the journal again every few seconds, keeping the zoom.
// The journal is read on a thread of its own; the window only shows what comes back.

#include <QDate>
#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "HistoryTexts.h"
#include "JournalExport.h"

class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QThread;
class QTimer;
class HistoryChartView;

// What the reading thread hands to the window.
struct HistoryData {
    std::uint64_t generation = 0;
    HistoryRange range{};
    std::shared_ptr<const std::vector<PlotPoint>> points;
    std::vector<JournalRow> reports;  // report and gap rows, without their bytes
    std::int64_t readingLines = 0;
    std::int64_t readingRows = 0;
    QString unit;
    QString error;
    QString skipped;  // rows of the range the journal could not make sense of
};

class QAction;

// Reads a range of the journal at `path` (any thread).
HistoryData LoadHistory(const QString& path, HistoryRange range);

class HistoryWindow : public QDialog {
    Q_OBJECT
  public:
    explicit HistoryWindow(const QString& journalPath, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // Reads and shows a local day, or a range (UTC ms).
    void ShowDay(const QDate& day);
    void ShowRange(HistoryRange range);
    // Writes the shown range as CSV or XLSX to `path` (on the reading thread); exportDone tells
    // the end.
    void ExportCsv(const QString& path);
    void ExportXlsx(const QString& path);
    // How often the window reads its range again while the range reaches the present.
    void SetRefreshInterval(int ms);

    // What is on screen (for the tests and the benchmark).
    bool Loading() const { return loading_; }
    int PlottedPoints() const;
    int ReportRows() const;
    // The report rows not hidden by the visible part of the plot.
    int VisibleReportRows() const;
    // Types `text` into "Od" and "Do" and presses "Pokaż", as the operator would.
    void TypeRange(const QString& from, const QString& to);
    QString Summary() const;
    // The hover text at a point of the plot's view ("" outside the plot or with no readings).
    QString HoverTextAt(const QPoint& viewPos) const;
    HistoryChartView* ChartView() const { return view_; }

  signals:
    void shown();                                      // a range was read and drawn
    void exportDone(bool ok, const QString& message);  // Polish, also shown under the plot

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void BuildControls();
    void BuildBody();
    void DayChanged(const QDate& day);
    void BPokazClick();
    void BEksportClick();
    void BExcelClick();
    void Export(const QString& path, int format);
    void AskAndExport(const QString& title, const QString& filter, const QString& suffix,
                      int format);
    void Load(HistoryRange range, bool keepView);
    void Refresh();
    void Show(HistoryData data, bool keepView);
    void FillReports();
    void ShowReportsWithin(std::int64_t fromMs, std::int64_t toMs);
    void Run(std::function<void()> job);

    QString path_;
    std::uint64_t generation_ = 0;
    bool loading_ = false;
    bool shownOnce_ = false;
    HistoryData data_;
    std::vector<QThread*> jobs_;

    QTimer* refresh_ = nullptr;

    QDateEdit* EDzien = nullptr;
    QLineEdit* EOd = nullptr;
    QLineEdit* EDo = nullptr;
    QPushButton* BPokaz = nullptr;
    QPushButton* BEksport = nullptr;
    QPushButton* BExcel = nullptr;
    HistoryChartView* view_ = nullptr;
    QTableWidget* TRaporty = nullptr;
    QLabel* LPodsumowanie = nullptr;
};
