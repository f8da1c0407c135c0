#pragma once
// HistoryWindow: "Historia ważeń", shown without being modal. The operator picks a day (shown
// zoomed to the part that holds data) or a time range ("Od" and "Do" take a time typed whole,
// or a time alone on the shown day); the readings are drawn over time, the line broken at the
// journal's gaps (zoom with the wheel, pan by dragging, a double click shows the whole range
// again, "Dopasuj do danych" the part with data, hovering shows the value and the time; the
// value axis leaves a few far outliers out unless "Wszystkie wartości" is checked) and the
// report lines of the visible part are listed beside the plot with their times, one line each.
// "Eksportuj do CSV..." and "Eksportuj do Excela..." write the shown range. While it is open and
// its range reaches the present, it reads the journal again every few seconds, keeping the
// zoom. A message under the plot stays for ten seconds (or until the operator shows another
// range), then the summary comes back.
// The journal is read on a thread of its own; the window only shows what comes back.

#include <QDate>
#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "HistoryTexts.h"
#include "JournalExport.h"

class QCheckBox;
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

    // Reads and shows a local day zoomed to its data, or a range (UTC ms), whole or zoomed to
    // its data.
    void ShowDay(const QDate& day);
    void ShowRange(HistoryRange range, bool toData = false);
    // Writes the shown range as CSV or XLSX to `path` (on the reading thread); exportDone tells
    // the end.
    void ExportCsv(const QString& path);
    void ExportXlsx(const QString& path);
    // How often the window reads its range again while the range reaches the present.
    void SetRefreshInterval(int ms);
    // How long a message stays under the plot before the summary comes back.
    void SetMessageTime(int ms);

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
    void Load(HistoryRange range, bool keepView, bool toData);
    void Refresh();
    void Show(HistoryData data, bool keepView, bool toData);
    void ShowDataSpan();
    void Tell(const QString& message);
    void ShowSummary(const QString& summary);
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
    QTimer* message_ = nullptr;  // runs while a message is shown
    QString summary_;

    QDateEdit* EDzien = nullptr;
    QLineEdit* EOd = nullptr;
    QLineEdit* EDo = nullptr;
    QPushButton* BPokaz = nullptr;
    QPushButton* BDoDanych = nullptr;
    QCheckBox* CBwszystkie = nullptr;
    QPushButton* BEksport = nullptr;
    QPushButton* BExcel = nullptr;
    HistoryChartView* view_ = nullptr;
    QTableWidget* TRaporty = nullptr;
    QLabel* LPodsumowanie = nullptr;
};
