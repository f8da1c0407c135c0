#include "HistoryWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "FileDialog.h"
#include "HistoryChartView.h"
#include "JournalExportFile.h"
#include "JournalQuery.h"

namespace {
constexpr int kRefreshMs = 5000;
constexpr int kMessageMs = 10'000;
}  // namespace

HistoryData LoadHistory(const QString& path, HistoryRange range) {
    HistoryData data;
    data.range = range;
    auto points = std::make_shared<std::vector<PlotPoint>>();
    waga::journal::JournalQuery query(path);
    if (!query.IsOpen()) {
        data.error = query.ErrorText();
        data.points = points;
        return data;
    }
    bool sorted = true;
    bool read = query.ForEachSpan(JournalKind::Reading, range.fromMs, range.toMs,
                                  [&](const JournalRow& row) {
                                      data.readingLines += row.count;
                                      ++data.readingRows;
                                      if (!points->empty() && points->back().ms > row.firstMs) {
                                          sorted = false;
                                      }
                                      AppendRowPoints(*points, row);
                                  });
    // The report lines (and gap rows) in full; the unit of the newest reading in the range.
    std::vector<TimeSpan> gaps;
    read = read && query.ForEach(
                       range.fromMs, range.toMs,
                       [&](const JournalRow& row) {
                           JournalRow shown = row;
                           shown.raw.clear();
                           if (row.kind == JournalKind::Gap)
                               gaps.push_back({row.firstMs, row.lastMs});
                           data.reports.push_back(std::move(shown));
                           return true;
                       },
                       false);
    read = read && query.LastUnit(range.toMs, data.unit);
    if (!read) data.error = query.ErrorText();
    if (query.SkippedRows() > 0) {
        data.skipped = SkippedRowsText(query.SkippedRows(), query.Problems().front());
    }
    if (!sorted) {
        std::stable_sort(points->begin(), points->end(),
                         [](const PlotPoint& a, const PlotPoint& b) { return a.ms < b.ms; });
    }
    MarkBreaks(*points, gaps);
    data.points = std::move(points);
    return data;
}

HistoryWindow::HistoryWindow(const QString& journalPath, QWidget* parent)
    : QDialog(parent), path_(journalPath) {
    setWindowTitle(QStringLiteral("Historia ważeń"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setModal(false);
    new QVBoxLayout(this);
    BuildControls();
    BuildBody();
    resize(1100, 560);
    data_.points = std::make_shared<std::vector<PlotPoint>>();
    refresh_ = new QTimer(this);
    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, &HistoryWindow::Refresh);
    // A message stays for its time, then the summary of what is shown comes back.
    message_ = new QTimer(this);
    message_->setSingleShot(true);
    message_->setInterval(kMessageMs);
    connect(message_, &QTimer::timeout, this, [this] { LPodsumowanie->setText(summary_); });
    connect(view_, &HistoryChartView::visibleChanged, this, &HistoryWindow::ShowReportsWithin);
}

HistoryWindow::~HistoryWindow() {
    // A reading or an export still at work finishes first (it holds no pointer to the window).
    for (QThread* job : jobs_) {
        job->wait();
        delete job;
    }
}

void HistoryWindow::BuildControls() {
    auto* row = new QHBoxLayout();
    EDzien = new QDateEdit(QDate::currentDate(), this);
    EDzien->setCalendarPopup(true);
    EDzien->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    EOd = new QLineEdit(this);
    EDo = new QLineEdit(this);
    for (QLineEdit* edit : {EOd, EDo}) {
        edit->setPlaceholderText(QStringLiteral("RRRR-MM-DD gg:mm:ss"));
        edit->setToolTip(
            QStringLiteral("Czas lokalny: RRRR-MM-DD gg:mm:ss, RRRR-MM-DD gg:mm, RRRR-MM-DD "
                           "albo sama godzina gg:mm lub gg:mm:ss w pokazanym dniu"));
        edit->setMinimumWidth(
            edit->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00")) + 16);
        connect(edit, &QLineEdit::returnPressed, this, &HistoryWindow::BPokazClick);
    }
    BPokaz = new QPushButton(QStringLiteral("Pokaż"), this);
    BDoDanych = new QPushButton(QStringLiteral("Dopasuj do danych"), this);
    BDoDanych->setToolTip(
        QStringLiteral("Pokazuje na wykresie tylko czas, w którym są dane (podwójne kliknięcie "
                       "wykresu pokazuje cały zakres)"));
    CBwszystkie = new QCheckBox(QStringLiteral("Wszystkie wartości"), this);
    CBwszystkie->setToolTip(
        QStringLiteral("Oś wartości obejmuje także nieliczne skrajne wartości (np. numer "
                       "telefonu odebrany jak odczyt), które inaczej spłaszczyłyby wykres"));
    BEksport = new QPushButton(QStringLiteral("Eksportuj do CSV..."), this);
    BExcel = new QPushButton(QStringLiteral("Eksportuj do Excela..."), this);
    // Enter in "Od" or "Do" shows the range; no button takes it as the default.
    for (QPushButton* button : {BPokaz, BDoDanych, BEksport, BExcel}) button->setAutoDefault(false);
    row->addWidget(new QLabel(QStringLiteral("Dzień:"), this));
    row->addWidget(EDzien);
    row->addSpacing(16);
    row->addWidget(new QLabel(QStringLiteral("Od:"), this));
    row->addWidget(EOd);
    row->addWidget(new QLabel(QStringLiteral("Do:"), this));
    row->addWidget(EDo);
    row->addWidget(BPokaz);
    row->addSpacing(16);
    row->addWidget(BDoDanych);
    row->addWidget(CBwszystkie);
    row->addStretch(1);
    row->addWidget(BEksport);
    row->addWidget(BExcel);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
    connect(EDzien, &QDateEdit::dateChanged, this, &HistoryWindow::DayChanged);
    connect(BPokaz, &QPushButton::clicked, this, &HistoryWindow::BPokazClick);
    connect(BDoDanych, &QPushButton::clicked, this, &HistoryWindow::ShowDataSpan);
    connect(CBwszystkie, &QCheckBox::toggled, this, [this](bool all) { view_->SetFitAll(all); });
    connect(BEksport, &QPushButton::clicked, this, &HistoryWindow::BEksportClick);
    connect(BExcel, &QPushButton::clicked, this, &HistoryWindow::BExcelClick);
}

void HistoryWindow::BuildBody() {
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    view_ = new HistoryChartView(splitter);
    TRaporty = new QTableWidget(0, 2, splitter);
    TRaporty->setObjectName(QStringLiteral("TRaporty"));
    TRaporty->setHorizontalHeaderLabels({QStringLiteral("Czas"), QStringLiteral("Raport")});
    TRaporty->verticalHeader()->hide();
    TRaporty->horizontalHeader()->setStretchLastSection(true);
    TRaporty->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TRaporty->setSelectionBehavior(QAbstractItemView::SelectRows);
    TRaporty->setWordWrap(false);
    TRaporty->setTextElideMode(Qt::ElideRight);
    // One line per row, as tall as the text: many rows in view.
    TRaporty->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    TRaporty->verticalHeader()->setDefaultSectionSize(TRaporty->fontMetrics().height() + 6);
    splitter->addWidget(view_);
    splitter->addWidget(TRaporty);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({620, 440});
    LPodsumowanie = new QLabel(this);
    LPodsumowanie->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* column = static_cast<QVBoxLayout*>(layout());
    column->addWidget(splitter, 1);
    column->addWidget(LPodsumowanie);
}

void HistoryWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        if (generation_ == 0) ShowDay(EDzien->date());
    } else {
        Refresh();  // shown again: what came meanwhile
    }
    refresh_->start();
}

void HistoryWindow::hideEvent(QHideEvent* event) {
    refresh_->stop();
    QDialog::hideEvent(event);
}

void HistoryWindow::SetRefreshInterval(int ms) { refresh_->setInterval(ms); }

void HistoryWindow::SetMessageTime(int ms) { message_->setInterval(ms); }

void HistoryWindow::Tell(const QString& message) {
    LPodsumowanie->setText(message);
    message_->start();
}

void HistoryWindow::ShowSummary(const QString& summary) {
    summary_ = summary;
    if (!message_->isActive()) LPodsumowanie->setText(summary_);
}

void HistoryWindow::DayChanged(const QDate& day) { ShowDay(day); }

void HistoryWindow::ShowDay(const QDate& day) {
    if (EDzien->date() != day) {
        const QSignalBlocker block(EDzien);
        EDzien->setDate(day);
    }
    ShowRange(DayRange(day), true);
}

void HistoryWindow::BPokazClick() {
    const auto from = ParseRangeTime(EOd->text(), EDzien->date());
    const auto to = ParseRangeTime(EDo->text(), EDzien->date());
    if (!from || !to) {
        Tell(QStringLiteral("Niepoprawny czas w polu „%1”: „%2”. Oczekiwany format: RRRR-MM-DD "
                            "gg:mm:ss, RRRR-MM-DD gg:mm, RRRR-MM-DD albo sama godzina gg:mm.")
                 .arg(from ? QStringLiteral("Do") : QStringLiteral("Od"),
                      from ? EDo->text() : EOd->text()));
        return;
    }
    ShowRange({from->toMSecsSinceEpoch(), to->toMSecsSinceEpoch()});
}

void HistoryWindow::ShowDataSpan() {
    const auto span = DataSpan(*data_.points, data_.reports, data_.range);
    if (span) view_->SetVisible(span->fromMs, span->toMs);
}

void HistoryWindow::TypeRange(const QString& from, const QString& to) {
    EOd->setText(from);
    EDo->setText(to);
    BPokaz->click();
}

void HistoryWindow::ShowRange(HistoryRange range, bool toData) {
    if (range.toMs <= range.fromMs) {
        Tell(QStringLiteral("Koniec zakresu musi być po jego początku."));
        return;
    }
    EOd->setText(RangeTimeText(range.fromMs));
    EDo->setText(RangeTimeText(range.toMs));
    {
        const QSignalBlocker block(EDzien);
        EDzien->setDate(QDateTime::fromMSecsSinceEpoch(range.fromMs).date());
    }
    message_->stop();  // the operator acted: what was told has been seen
    ShowSummary(QStringLiteral("Wczytywanie..."));
    Load(range, false, toData);
}

// The range read again, while it reaches the present and no reading is under way.
void HistoryWindow::Refresh() {
    if (loading_ || generation_ == 0 ||
        data_.range.toMs < QDateTime::currentMSecsSinceEpoch() - kRefreshMs) {
        return;
    }
    Load(data_.range, true, false);
}

void HistoryWindow::Load(HistoryRange range, bool keepView, bool toData) {
    const std::uint64_t generation = ++generation_;
    loading_ = true;
    QPointer<HistoryWindow> self(this);
    const QString path = path_;
    Run([self, path, range, generation, keepView, toData] {
        auto data = std::make_shared<HistoryData>(LoadHistory(path, range));
        data->generation = generation;
        QMetaObject::invokeMethod(
            qApp,
            [self, data, keepView, toData] {
                if (self && data->generation == self->generation_) {
                    self->Show(std::move(*data), keepView, toData);
                }
            },
            Qt::QueuedConnection);
    });
}

void HistoryWindow::Show(HistoryData data, bool keepView, bool toData) {
    const std::int64_t from = view_->VisibleFrom(), to = view_->VisibleTo();
    keepView =
        keepView && data.range.fromMs == data_.range.fromMs && data.range.toMs == data_.range.toMs;
    data_ = std::move(data);
    loading_ = false;
    FillReports();
    view_->SetPoints(data_.points, data_.range.fromMs, data_.range.toMs, data_.unit);
    if (keepView) view_->SetVisible(from, to);
    if (!keepView && toData) ShowDataSpan();
    std::int64_t reports = 0;
    for (const JournalRow& row : data_.reports) reports += row.kind == JournalKind::Report;
    QString summary = data_.error.isEmpty()
                          ? SummaryText(data_.readingLines, data_.readingRows, reports)
                          : data_.error;
    if (!data_.skipped.isEmpty()) summary += QLatin1Char(' ') + data_.skipped;
    ShowSummary(summary);
    emit shown();
}

void HistoryWindow::FillReports() {
    const bool withDate = data_.range.toMs - data_.range.fromMs > 86'400'000 ||
                          QDateTime::fromMSecsSinceEpoch(data_.range.fromMs).date() !=
                              QDateTime::fromMSecsSinceEpoch(data_.range.toMs - 1).date();
    TRaporty->setUpdatesEnabled(false);
    TRaporty->clearContents();
    TRaporty->setRowCount(int(data_.reports.size()));
    for (int i = 0; i < int(data_.reports.size()); ++i) {
        const JournalRow& row = data_.reports[std::size_t(i)];
        TRaporty->setItem(i, 0, new QTableWidgetItem(ReportTimeText(row.firstMs, withDate)));
        const QString text = ReportRowText(row);
        auto* item = new QTableWidgetItem(OneLineText(text));
        item->setToolTip(text);
        TRaporty->setItem(i, 1, item);
    }
    TRaporty->resizeColumnToContents(0);
    TRaporty->setUpdatesEnabled(true);
}

// The report rows of the plot's visible part (a row that began before it and lasts into it
// too); the rest are hidden.
void HistoryWindow::ShowReportsWithin(std::int64_t fromMs, std::int64_t toMs) {
    TRaporty->setUpdatesEnabled(false);
    for (int i = 0; i < int(data_.reports.size()) && i < TRaporty->rowCount(); ++i) {
        const JournalRow& row = data_.reports[std::size_t(i)];
        const bool hidden = row.lastMs < fromMs || row.firstMs >= toMs;
        if (TRaporty->isRowHidden(i) != hidden) TRaporty->setRowHidden(i, hidden);
    }
    TRaporty->setUpdatesEnabled(true);
}

void HistoryWindow::BEksportClick() {
    AskAndExport(QStringLiteral("Eksportuj do CSV"), QStringLiteral("Pliki CSV (*.csv)"),
                 QStringLiteral("csv"), int(waga::journal::ExportFormat::Csv));
}

void HistoryWindow::BExcelClick() {
    AskAndExport(QStringLiteral("Eksportuj do Excela"),
                 QStringLiteral("Skoroszyty Excela (*.xlsx)"), QStringLiteral("xlsx"),
                 int(waga::journal::ExportFormat::Xlsx));
}

void HistoryWindow::AskAndExport(const QString& title, const QString& filter, const QString& suffix,
                                 int format) {
    const QString day =
        QDateTime::fromMSecsSinceEpoch(data_.range.fromMs).toString(QStringLiteral("yyyy-MM-dd"));
    const std::unique_ptr<QFileDialog> dialog(NewFileDialog(this));
    dialog->setWindowTitle(title);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilter(filter);
    dialog->setDefaultSuffix(suffix);
    dialog->selectFile(QStringLiteral("dziennik-%1.%2").arg(day, suffix));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return;
    const QString path = dialog->selectedFiles().first();
    if (!path.isEmpty()) Export(path, format);
}

void HistoryWindow::ExportCsv(const QString& target) {
    Export(target, int(waga::journal::ExportFormat::Csv));
}

void HistoryWindow::ExportXlsx(const QString& target) {
    Export(target, int(waga::journal::ExportFormat::Xlsx));
}

void HistoryWindow::Export(const QString& target, int format) {
    QPointer<HistoryWindow> self(this);
    const QString path = path_;
    const waga::journal::ExportRange range{data_.range.fromMs, data_.range.toMs, ExportKinds::All};
    BEksport->setEnabled(false);
    BExcel->setEnabled(false);
    Run([self, path, target, range, format] {
        const waga::journal::ExportOutcome outcome = waga::journal::ExportToFile(
            path, range, waga::journal::ExportFormat(format), target, LocalUtcOffset);
        QString message = outcome.error;
        if (outcome.ok) {
            message = QStringLiteral("Zapisano wierszy: %1 do pliku %2.")
                          .arg(outcome.rows)
                          .arg(QFileInfo(target).fileName());
            if (outcome.shortened > 0) {
                message += QStringLiteral(
                               " Skrócono tekstów, których nie mieści komórka arkusza (32 767 "
                               "znaków): %1; całe są w eksporcie CSV.")
                               .arg(outcome.shortened);
            }
            if (outcome.skipped > 0) {
                message +=
                    QLatin1Char(' ') + SkippedRowsText(outcome.skipped, outcome.problems.front());
            }
            if (!outcome.unsignedWhy.isEmpty()) message += QLatin1Char(' ') + outcome.unsignedWhy;
        }
        QMetaObject::invokeMethod(
            qApp,
            [self, ok = outcome.ok, message] {
                if (!self) return;
                self->BEksport->setEnabled(true);
                self->BExcel->setEnabled(true);
                self->Tell(message);
                emit self->exportDone(ok, message);
            },
            Qt::QueuedConnection);
    });
}

void HistoryWindow::Run(std::function<void()> job) {
    // Finished jobs are collected here; the rest are waited for when the window goes.
    jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(),
                               [](QThread* t) {
                                   if (!t->isFinished()) return false;
                                   delete t;
                                   return true;
                               }),
                jobs_.end());
    QThread* thread = QThread::create(std::move(job));
    thread->setObjectName(QStringLiteral("history-reader"));
    jobs_.push_back(thread);
    thread->start();
}

int HistoryWindow::PlottedPoints() const { return view_->DrawnPoints(); }
int HistoryWindow::ReportRows() const { return TRaporty->rowCount(); }
int HistoryWindow::VisibleReportRows() const {
    int shown = 0;
    for (int i = 0; i < TRaporty->rowCount(); ++i) shown += TRaporty->isRowHidden(i) ? 0 : 1;
    return shown;
}
QString HistoryWindow::Summary() const { return LPodsumowanie->text(); }
QString HistoryWindow::HoverTextAt(const QPoint& viewPos) const {
    return view_->HoverTextAt(viewPos);
}
