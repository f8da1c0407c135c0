#include "HistoryWindow.h"

#include <QAction>
#include <QApplication>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "FileDialog.h"
#include "HistoryChartView.h"
#include "JournalQuery.h"

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
                                      if (!row.value) return;
                                      if (!points->empty() && points->back().ms > row.firstMs) {
                                          sorted = false;
                                      }
                                      points->push_back({row.firstMs, *row.value});
                                      if (row.count > 1 && row.lastMs > row.firstMs) {
                                          points->push_back({row.lastMs, *row.value});
                                      }
                                  });
    // The report lines (and gap rows) in full; the unit of the newest reading in the range.
    read = read && query.ForEach(
                       range.fromMs, range.toMs,
                       [&](const JournalRow& row) {
                           JournalRow shown = row;
                           shown.raw.clear();
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
    EOd = new QDateTimeEdit(this);
    EDo = new QDateTimeEdit(this);
    for (QDateTimeEdit* edit : {EOd, EDo}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        edit->setCalendarPopup(true);
    }
    BPokaz = new QPushButton(QStringLiteral("Pokaż"), this);
    BEksport = new QPushButton(QStringLiteral("Eksportuj do CSV..."), this);
    row->addWidget(new QLabel(QStringLiteral("Dzień:"), this));
    row->addWidget(EDzien);
    row->addSpacing(16);
    row->addWidget(new QLabel(QStringLiteral("Od:"), this));
    row->addWidget(EOd);
    row->addWidget(new QLabel(QStringLiteral("Do:"), this));
    row->addWidget(EDo);
    row->addWidget(BPokaz);
    row->addStretch(1);
    row->addWidget(BEksport);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
    connect(EDzien, &QDateEdit::dateChanged, this, &HistoryWindow::DayChanged);
    connect(BPokaz, &QPushButton::clicked, this, &HistoryWindow::BPokazClick);
    connect(BEksport, &QPushButton::clicked, this, &HistoryWindow::BEksportClick);
}

void HistoryWindow::BuildBody() {
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    view_ = new HistoryChartView(splitter);
    TRaporty = new QTableWidget(0, 2, splitter);
    TRaporty->setHorizontalHeaderLabels({QStringLiteral("Czas"), QStringLiteral("Raport")});
    TRaporty->verticalHeader()->hide();
    TRaporty->horizontalHeader()->setStretchLastSection(true);
    TRaporty->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TRaporty->setSelectionBehavior(QAbstractItemView::SelectRows);
    TRaporty->setWordWrap(false);
    splitter->addWidget(view_);
    splitter->addWidget(TRaporty);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({760, 300});
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
    }
}

void HistoryWindow::DayChanged(const QDate& day) { ShowDay(day); }

void HistoryWindow::ShowDay(const QDate& day) {
    if (EDzien->date() != day) {
        const QSignalBlocker block(EDzien);
        EDzien->setDate(day);
    }
    ShowRange(DayRange(day));
}

void HistoryWindow::BPokazClick() {
    ShowRange({EOd->dateTime().toMSecsSinceEpoch(), EDo->dateTime().toMSecsSinceEpoch()});
}

void HistoryWindow::ShowRange(HistoryRange range) {
    if (range.toMs <= range.fromMs) {
        LPodsumowanie->setText(QStringLiteral("Koniec zakresu musi być po jego początku."));
        return;
    }
    EOd->setDateTime(QDateTime::fromMSecsSinceEpoch(range.fromMs));
    EDo->setDateTime(QDateTime::fromMSecsSinceEpoch(range.toMs));
    const std::uint64_t generation = ++generation_;
    loading_ = true;
    LPodsumowanie->setText(QStringLiteral("Wczytywanie..."));
    QPointer<HistoryWindow> self(this);
    const QString path = path_;
    Run([self, path, range, generation] {
        auto data = std::make_shared<HistoryData>(LoadHistory(path, range));
        data->generation = generation;
        QMetaObject::invokeMethod(
            qApp,
            [self, data] {
                if (self && data->generation == self->generation_) self->Show(std::move(*data));
            },
            Qt::QueuedConnection);
    });
}

void HistoryWindow::Show(HistoryData data) {
    data_ = std::move(data);
    loading_ = false;
    view_->SetPoints(data_.points, data_.range.fromMs, data_.range.toMs, data_.unit);
    FillReports();
    std::int64_t reports = 0;
    for (const JournalRow& row : data_.reports) reports += row.kind == JournalKind::Report;
    QString summary = data_.error.isEmpty()
                          ? SummaryText(data_.readingLines, data_.readingRows, reports)
                          : data_.error;
    if (!data_.skipped.isEmpty()) summary += QLatin1Char(' ') + data_.skipped;
    LPodsumowanie->setText(summary);
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
        TRaporty->setItem(i, 1, new QTableWidgetItem(ReportRowText(row)));
    }
    TRaporty->resizeColumnToContents(0);
    TRaporty->setUpdatesEnabled(true);
}

void HistoryWindow::BEksportClick() {
    const QString day =
        QDateTime::fromMSecsSinceEpoch(data_.range.fromMs).toString(QStringLiteral("yyyy-MM-dd"));
    const std::unique_ptr<QFileDialog> dialog(NewFileDialog(this));
    dialog->setWindowTitle(QStringLiteral("Eksportuj do CSV"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilter(QStringLiteral("Pliki CSV (*.csv)"));
    dialog->selectFile(QStringLiteral("dziennik-%1.csv").arg(day));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return;
    const QString path = dialog->selectedFiles().first();
    if (!path.isEmpty()) ExportCsv(path);
}

void HistoryWindow::ExportCsv(const QString& target) {
    QPointer<HistoryWindow> self(this);
    const QString path = path_;
    const HistoryRange range = data_.range;
    BEksport->setEnabled(false);
    Run([self, path, target, range] {
        waga::journal::JournalQuery query(path);
        QSaveFile file(target);
        std::int64_t rows = 0;
        QString message;
        bool ok = query.IsOpen() && file.open(QIODevice::WriteOnly);
        if (ok) {
            const std::string header = CsvHeader();
            ok = file.write(header.data(), qint64(header.size())) == qint64(header.size());
            ok = query.ForEach(range.fromMs, range.toMs, [&](const JournalRow& row) {
                if (!ExportIncludes(ExportKinds::All, row.kind)) return true;
                const std::string line = CsvRow(row, LocalUtcOffset);
                ++rows;
                return file.write(line.data(), qint64(line.size())) == qint64(line.size());
            }) && ok;
            ok = ok && file.commit();
        }
        if (ok) {
            message = QStringLiteral("Zapisano wierszy: %1 do pliku %2.")
                          .arg(rows)
                          .arg(QFileInfo(target).fileName());
            if (query.SkippedRows() > 0) {
                message += QLatin1Char(' ') +
                           SkippedRowsText(query.SkippedRows(), query.Problems().front());
            }
        } else if (!query.IsOpen()) {
            message = query.ErrorText();
        } else {
            message = QStringLiteral("Nie można zapisać pliku %1: %2")
                          .arg(target, file.errorString().isEmpty() ? query.ErrorText()
                                                                    : file.errorString());
        }
        QMetaObject::invokeMethod(
            qApp,
            [self, ok, message] {
                if (!self) return;
                self->BEksport->setEnabled(true);
                self->LPodsumowanie->setText(message);
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
QString HistoryWindow::Summary() const { return LPodsumowanie->text(); }
QString HistoryWindow::HoverTextAt(const QPoint& viewPos) const {
    return view_->HoverTextAt(viewPos);
}
