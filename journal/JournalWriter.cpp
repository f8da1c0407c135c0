#include "JournalWriter.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include "OwnFile.h"
#include "SealCheck.h"
#include "SeqMark.h"
#include "StartCheck.h"
#include "UnsavedRows.h"
#include "WriterWorker.h"

namespace waga::journal {

namespace {
std::int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::size_t BytesOf(const std::vector<JournalOp>& ops) {
    std::size_t bytes = 0;
    for (const JournalOp& op : ops) bytes += OpBytes(op);
    return bytes;
}

// The gap row's reason when neither the journal nor dziennik.niezapisane took the rows at close.
constexpr char kLostAtCloseReason[] =
    "Pominięte wiersze: przy zamknięciu programu nie można ich było zapisać ani odłożyć";
}  // namespace

WriterWorker::WriterWorker(JournalWriter& owner) : owner_(owner) {}

WriterWorker::~WriterWorker() { CloseDb(); }

void WriterWorker::CloseDb() {
    sealer_.Clear();
    store_.Clear();
    db_.Close();
}

bool WriterWorker::OpenDb(QSqlError& error) {
    if (db_.IsOpen()) return true;
    const QString& path = owner_.path_;
    const bool existed = QFile::exists(path);
    bool ok = db_.Open(path, JournalAccess::Writer);
    error = db_.LastError();
    if (!ok && existed && ClassifySqlError(error) == JournalFault::Damaged) {
        db_.Close();
        QString why;
        if (const std::optional<QString> aside = MoveAside(path, why)) {
            SetCause(kNews, FaultText(JournalFault::Damaged, *aside));
            ok = db_.Open(path, JournalAccess::Writer);
            error = db_.LastError();
        } else {
            error = QSqlError(QStringLiteral("plik dziennika jest uszkodzony, a nie można go "
                                             "odłożyć: %1")
                                  .arg(why),
                              QString(), QSqlError::ConnectionError);
        }
    }
    if (ok && !verified_) {
        // The run's numbers go above every row of the file, also when its highest seq could
        // only be read now.
        QSqlDatabase db = db_.Database();
        std::optional<std::int64_t> stray;
        ok = ReadSeqBounds(db, fileHighest_, stray, error);
        verified_ = ok;
        if (ok && stray) {
            // Numbered by hand, or by a program that let its numbers run over: never a base for
            // new numbers; the readers and the central upload refuse the row, by its number.
            SetCause(kStray, QStringLiteral("Plik dziennika zawiera wiersz o numerze %1 spoza "
                                            "zakresu 1–%2; nie jest pokazywany ani wysyłany, a "
                                            "nowe wiersze numerowane są bez niego.")
                                 .arg(*stray)
                                 .arg(kMaxSeq));
        }
        if (ok && first_ > 0 && fileHighest_ && *fileHighest_ >= first_) {
            shift_ = *fileHighest_ + 1 - first_;
            SetCause(kNews, QStringLiteral("Plik dziennika zawiera wiersze o numerach do %1; "
                                           "nowe wiersze zapisano powyżej nich.")
                                .arg(*fileHighest_));
        }
    }
    if (ok) ok = store_.Prepare(db_.Database(), error);
    QString sealNews;
    if (ok) ok = sealer_.Prepare(db_.Database(), error, sealNews);
    if (!sealNews.isEmpty()) SetCause(kNews, sealNews);
    if (!ok) CloseDb();
    return ok;
}

std::optional<QString> WriterWorker::MoveAside(const QString& path, QString& error) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QStringLiteral(".uszkodzony-") + stamp;
    for (int n = 2; QFile::exists(target); ++n) {
        target =
            path + QStringLiteral(".uszkodzony-") + stamp + QLatin1Char('-') + QString::number(n);
    }
    QFile file(path);
    if (!file.rename(target)) {
        error = file.errorString();
        return std::nullopt;
    }
    // A write-ahead log left beside would be applied to the new file: it goes with the old one.
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString side = path + QLatin1String(suffix);
        if (QFile::exists(side)) QFile::rename(side, target + QLatin1String(suffix));
    }
    return QFileInfo(target).fileName();
}

void WriterWorker::Damaged(const QString& found) { SetCause(kCheck, DamageFoundText(found)); }

void WriterWorker::SetCause(Cause cause, const QString& text) {
    causes_[cause] = text;
    QStringList parts;
    for (const QString& part : causes_) {
        if (!part.isEmpty()) parts << part;
    }
    const QString shown = parts.join(QLatin1Char(' '));
    if (shown == shown_) return;
    shown_ = shown;
    emit owner_.notice(shown);
}

std::int64_t WriterWorker::Open() {
    retention_ = new QTimer(this);
    connect(retention_, &QTimer::timeout, this, &WriterWorker::DeleteOld);
    retention_->start(owner_.options_.retentionEveryMs);
    if (owner_.options_.seal) {
        QString fault, news;
        sealer_.LoadKey(
            owner_.options_.keyPath.isEmpty() ? StationKeyPath() : owner_.options_.keyPath, fault,
            news);
        SetCause(kSeal, fault);
        if (!news.isEmpty()) TellOnStandardError(news);
    }
    LoadUnsaved();
    std::optional<std::int64_t> mark;
    QString markError;
    if (!ReadSeqMark(SeqMarkPath(owner_.options_.folder), mark, markError)) {
        SetCause(kMark, markError);
    }
    {
        std::lock_guard lock(owner_.mutex_);
        for (const JournalWriter::Batch& batch : owner_.queue_) {
            for (const JournalOp& op : batch.ops) mark = std::max(mark.value_or(0), op.row.seq + 1);
        }
    }
    QSqlError error;
    const bool open = OpenDb(error);
    if (!open) Fail(error);
    const auto& clock = owner_.options_.clockUs;
    first_ = FirstSeqOfRun(fileHighest_, mark, clock ? clock() : UtcNowUs());
    QString unwritten;  // tried again before the first row is stored, and told if it fails then
    MarkAbove(first_, unwritten);
    if (open) {
        // Old rows go right after the start, on this thread, while the window is already up.
        QTimer::singleShot(0, this, &WriterWorker::DeleteOld);
    }
    std::lock_guard lock(owner_.mutex_);
    if (!owner_.queue_.empty() && !owner_.drainPosted_) {
        owner_.drainPosted_ = true;
        QMetaObject::invokeMethod(this, &WriterWorker::Drain, Qt::QueuedConnection);
    }
    return first_;
}

bool WriterWorker::MarkAbove(std::int64_t highest, QString& error) {
    if (highest < mark_) return true;
    if (!WriteSeqMark(SeqMarkPath(owner_.options_.folder), highest + kSeqMarkBlock, error)) {
        return false;
    }
    mark_ = highest + kSeqMarkBlock;
    return true;
}

void WriterWorker::LoadUnsaved() {
    const QString path = UnsavedRowsPath(owner_.options_.folder);
    if (const QString refusal = OwnFileRefusal(path); !refusal.isEmpty()) {
        // Left where it is: a link is not the file the close wrote.
        SetCause(kNews, refusal);
        return;
    }
    std::vector<JournalOp> ops;
    QString error;
    if (!ReadUnsavedRows(path, ops, error)) {
        QString why;
        const std::optional<QString> aside = MoveAside(path, why);
        SetCause(kNews, error + (aside ? QStringLiteral(" Odłożono go jako %1.").arg(*aside)
                                       : QStringLiteral(" Nie można go odłożyć: %1.").arg(why)));
        return;
    }
    if (ops.empty()) {
        QFile::remove(path);  // a file with no rows (or none at all)
        return;
    }
    const std::size_t bytes = BytesOf(ops);
    std::lock_guard lock(owner_.mutex_);
    owner_.queuedBytes_ += bytes;
    owner_.queue_.push_front(JournalWriter::Batch{std::move(ops), bytes, true});
}

void WriterWorker::DeleteOld() {
    QSqlError error;
    if (!OpenDb(error)) return Fail(error);
    const qint64 cutoff =
        QDateTime::currentMSecsSinceEpoch() - qint64{owner_.options_.keepDays} * 86400000;
    QSqlDatabase db = db_.Database();
    if (!DeleteOldRows(db, cutoff, owner_.keepUnsent_.load(), error,
                       [this](QSqlError& failure) { return sealer_.AfterDelete(failure); }))
        Fail(error);
}

void WriterWorker::Fail(const QSqlError& error) {
    JournalFault fault = ClassifySqlError(error);
    if (fault == JournalFault::None) fault = JournalFault::Other;
    if (fault == JournalFault::Damaged) {
        // Found damaged while open: moved aside and started afresh at the next attempt.
        CloseDb();
        return;
    }
    SetCause(kWrite,
             FaultText(fault, fault == JournalFault::Conflict ? error.driverText() : error.text()));
    if (fault == JournalFault::DiskFull || fault == JournalFault::Other) CloseDb();
}

bool WriterWorker::Store(const std::vector<const std::vector<JournalOp>*>& batches,
                         QSqlError& error) {
    std::int64_t highest = 0;
    for (const auto* ops : batches) {
        for (const JournalOp& op : *ops) highest = std::max(highest, Stored(op.row.seq));
    }
    // The rows are stored also when the mark cannot be moved (the clock still keeps the next
    // run's numbers above them); that is told once the rows are in, so that a folder that takes
    // neither is told once, as the journal's fault.
    QString markError;
    const bool marked = MarkAbove(highest, markError);
    QSqlDatabase db = db_.Database();
    numbered_.clear();
    for (const auto* ops : batches) {
        for (const JournalOp& op : *ops) numbered_.push_back({&op, Stored(op.row.seq)});
    }
    std::int64_t lowest = highest;
    for (const RowStore::Numbered& n : numbered_) lowest = std::min(lowest, n.seq);
    const bool stored = InWriteTransaction(db, error, [&](QSqlError& failure) {
        return store_.ApplyAll(numbered_, failure) &&
               (numbered_.empty() || sealer_.AfterStore(lowest, highest, failure));
    });
    if (stored) SetCause(kMark, marked ? QString() : markError);
    return stored;
}

bool WriterWorker::StoreFront(QSqlError& error) {
    std::vector<JournalWriter::Batch*> batches;
    {
        // Only this thread pops, and adding at the back moves no element: they stay put.
        std::lock_guard lock(owner_.mutex_);
        for (JournalWriter::Batch& batch : owner_.queue_) {
            if (!batches.empty() && (batch.unsaved || batches.front()->unsaved)) break;
            batches.push_back(&batch);
        }
    }
    std::vector<const std::vector<JournalOp>*> ops;
    for (const JournalWriter::Batch* batch : batches) ops.push_back(&batch->ops);
    if (!OpenDb(error) || !Store(ops, error)) return false;
    lastCommit_.start();
    SetCause(kWrite, QString());
    std::int64_t highest = 0;
    for (const auto* batchOps : ops) {
        for (const JournalOp& op : *batchOps) highest = std::max(highest, Stored(op.row.seq));
    }
    if (owner_.options_.afterCommit) owner_.options_.afterCommit(highest);
    if (batches.front()->unsaved) {
        const QString path = UnsavedRowsPath(owner_.options_.folder);
        QFile::remove(path);
        TellOnStandardError(
            QStringLiteral("zapisano %1 wierszy odłożonych przy poprzednim zamknięciu w pliku %2; "
                           "plik usunięto.")
                .arg(batches.front()->ops.size())
                .arg(QFileInfo(path).fileName()));
    }
    std::lock_guard lock(owner_.mutex_);
    for (std::size_t i = 0; i < batches.size(); ++i) {
        owner_.queuedBytes_ -= owner_.queue_.front().bytes;
        owner_.queue_.pop_front();
    }
    return true;
}

void WriterWorker::Drain() {
    retryPending_ = false;
    // Less than commitEveryMs since the last commit: what comes meanwhile joins this drain.
    if (lastCommit_.isValid() && lastCommit_.elapsed() < owner_.options_.commitEveryMs) {
        QTimer::singleShot(static_cast<int>(owner_.options_.commitEveryMs - lastCommit_.elapsed()),
                           this, &WriterWorker::Drain);
        return;  // drainPosted_ stays set: the timer drains
    }
    for (;;) {
        {
            std::lock_guard lock(owner_.mutex_);
            if (owner_.queue_.empty()) {
                owner_.drainPosted_ = false;
                return;
            }
        }
        QSqlError error;
        if (!StoreFront(error)) {
            Fail(error);
            if (!retryPending_) {
                retryPending_ = true;
                QTimer::singleShot(owner_.options_.retryMs, this, &WriterWorker::Drain);
            }
            return;  // drainPosted_ stays set: the retry drains
        }
    }
}

void WriterWorker::Finish() {
    // Attempts at what is queued until closeWithinMs after the close was asked for, each
    // statement waiting at most the time left for another process's lock; the retry timer is
    // not waited for.
    const auto elapsedMs = [this] {
        return int((SteadyNs() - owner_.closeAskedNs_.load()) / 1'000'000);
    };
    const int budget = owner_.options_.closeWithinMs;
    QSqlError error;
    for (;;) {
        {
            std::lock_guard lock(owner_.mutex_);
            if (owner_.queue_.empty()) break;
        }
        const int left = budget - elapsedMs();
        if (left <= 0) break;
        QSqlError failure;
        if (OpenDb(failure)) {
            db_.SetBusyTimeout(left);
            if (StoreFront(failure)) continue;
        }
        error = failure;
        Fail(failure);
        QThread::msleep(static_cast<unsigned long>(std::clamp(left, 0, 50)));
    }
    KeepUnsaved(error);
    CloseDb();
}

// What the close could not store goes to dziennik.niezapisane; when even that cannot be written,
// one gap row there says how many lines went; when not even that, standard error does.
void WriterWorker::KeepUnsaved(const QSqlError& cause) {
    std::vector<JournalOp> ops;
    {
        std::lock_guard lock(owner_.mutex_);
        for (const JournalWriter::Batch& batch : owner_.queue_) {
            for (const JournalOp& op : batch.ops) ops.push_back(op);
        }
        owner_.queue_.clear();
        owner_.queuedBytes_ = 0;
    }
    if (ops.empty()) return;
    std::int64_t highest = 0, lines = 0;
    std::int64_t firstMs = ops.front().row.firstMs, lastMs = ops.front().row.lastMs;
    for (JournalOp& op : ops) {
        op.row.seq = Stored(op.row.seq);
        highest = std::max(highest, op.row.seq);
        // A grow's earlier lines may be stored already: the count is a lower bound.
        lines += op.type == JournalOp::Type::Insert ? op.row.count : 1;
        firstMs = std::min(firstMs, op.row.firstMs);
        lastMs = std::max(lastMs, op.row.lastMs);
    }
    const QString path = UnsavedRowsPath(owner_.options_.folder);
    const QString name = QFileInfo(path).fileName();
    const QString why = ShortFaultText(cause);
    QString error;
    if (WriteUnsavedRows(path, ops, error)) {
        TellOnStandardError(QStringLiteral("%1 wierszy nie zapisano w dzienniku (%2); odłożono je "
                                           "w pliku %3, zapisze je następne uruchomienie.")
                                .arg(ops.size())
                                .arg(why, name));
    } else {
        JournalOp gap;
        gap.row =
            JournalRow{highest + 1, JournalKind::Gap, firstMs, lastMs, lines, kLostAtCloseReason,
                       {},          std::nullopt,     {},      {}};
        highest = gap.row.seq;
        QString gapError;
        if (WriteUnsavedRows(path, {gap}, gapError)) {
            TellOnStandardError(QStringLiteral("co najmniej %1 linii nie zapisano (%2), a ich "
                                               "odłożenie się nie udało (%3); wiersz przerwy w "
                                               "pliku %4 powie o nich w dzienniku.")
                                    .arg(lines)
                                    .arg(why, error, name));
        } else {
            TellOnStandardError(
                QStringLiteral("co najmniej %1 linii z czasu %2 – %3 utracono: "
                               "nie zapisano ich (%4) ani nie odłożono (%5).")
                    .arg(lines)
                    .arg(QDateTime::fromMSecsSinceEpoch(firstMs).toString(Qt::ISODateWithMs),
                         QDateTime::fromMSecsSinceEpoch(lastMs).toString(Qt::ISODateWithMs), why,
                         error));
        }
    }
    QString markError;
    if (!MarkAbove(highest + 1, markError)) TellOnStandardError(markError);
}

JournalWriter::JournalWriter(WriterOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)), keepUnsent_(options_.keepUnsent) {
    path_ = JournalPath(options_.folder);
    thread_.setObjectName(QStringLiteral("journal-writer"));
    worker_ = new WriterWorker(*this);
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

JournalWriter::~JournalWriter() {
    closeAskedNs_ = SteadyNs();
    check_.reset();
    stopSealCheck_ = true;
    if (sealCheck_.joinable()) sealCheck_.join();
    QMetaObject::invokeMethod(worker_, &WriterWorker::Finish, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

std::int64_t JournalWriter::Start() {
    const bool existed = QFileInfo(path_).isFile();
    std::int64_t next = 0;
    QMetaObject::invokeMethod(
        worker_, [this, &next] { next = worker_->Open(); }, Qt::BlockingQueuedConnection);
    if (existed && !check_) {
        check_ = std::make_unique<StartCheck>(path_, [worker = worker_](const QString& found) {
            QMetaObject::invokeMethod(
                worker, [worker, found] { worker->Damaged(found); }, Qt::QueuedConnection);
        });
    }
    if (options_.checkSeal) {
        // The whole file is read on a thread of its own: the first line is stored meanwhile.
        std::optional<seal::Digest> expected;
        if (worker_->Key().IsValid()) {
            expected = worker_->Key().Fingerprint();
            keyFingerprint_ = FingerprintText(*expected);
        }
        sealCheck_ = std::thread([this, expected] {
            const SealReport report = VerifyJournal(path_, expected, &stopSealCheck_);
            if (report.stopped) return;
            // A file that cannot be read is the writer's to tell.
            QString text;
            if (report.readable && !report.findings.empty()) {
                const SealFinding& first = report.findings.front();
                text = QStringLiteral(
                           "Pieczęć dziennika wykazuje zmiany: %1 (pierwsza: seq %2: "
                           "%3). Szczegóły: waga-journal verify.")
                           .arg(qsizetype(report.findings.size()) + report.moreFindings)
                           .arg(first.seq)
                           .arg(first.text);
            }
            if (text.isEmpty()) return;
            QMetaObject::invokeMethod(
                worker_, [worker = worker_, text] { worker->TellChain(text); },
                Qt::QueuedConnection);
        });
    }
    return next;
}

bool JournalWriter::Push(std::vector<JournalOp> batch, bool force) {
    if (batch.empty()) return true;
    const std::size_t bytes = BytesOf(batch);
    std::lock_guard lock(mutex_);
    if (!force && queuedBytes_ + bytes > options_.queueBytes) return false;
    queuedBytes_ += bytes;
    queue_.push_back(Batch{std::move(batch), bytes});
    if (!drainPosted_) {
        drainPosted_ = true;
        QMetaObject::invokeMethod(worker_, &WriterWorker::Drain, Qt::QueuedConnection);
    }
    return true;
}

}  // namespace waga::journal
