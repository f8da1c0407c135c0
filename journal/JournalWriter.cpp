#include "JournalWriter.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <cstdio>

#include "JournalFile.h"
#include "WriterWorker.h"

namespace waga::journal {

namespace {
std::atomic<int> connectionCounter{0};

const QString kS = QStringLiteral(":s"), kK = QStringLiteral(":k"), kF = QStringLiteral(":f"),
              kL = QStringLiteral(":l"), kC = QStringLiteral(":c"), kT = QStringLiteral(":t"),
              kR = QStringLiteral(":r"), kV = QStringLiteral(":v"), kU = QStringLiteral(":u"),
              kP = QStringLiteral(":p");

const QString& KindText(JournalKind kind) {
    static const QString kNames[] = {QStringLiteral("reading"), QStringLiteral("report"),
                                     QStringLiteral("gap")};
    return kNames[static_cast<int>(kind) % 3];
}

std::int64_t HighestSeq(const std::vector<JournalOp>& ops) {
    std::int64_t highest = 0;
    for (const JournalOp& op : ops) highest = std::max(highest, op.row.seq);
    return highest;
}
}  // namespace

WriterWorker::WriterWorker(JournalWriter& owner)
    : owner_(owner),
      connection_(QStringLiteral("waga-journal-writer-%1").arg(connectionCounter.fetch_add(1))) {}

WriterWorker::~WriterWorker() { CloseDb(); }

void WriterWorker::CloseDb() {
    insert_.reset();
    grow_.reset();
    if (open_) CloseJournalConnection(connection_);
    open_ = false;
}

bool WriterWorker::OpenDb(QSqlError& error) {
    if (open_) return true;
    const bool existed = QFile::exists(owner_.path_);
    bool ok = OpenJournalConnection(connection_, owner_.path_, true, error);
    if (ok) {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        ok = CreateJournalTables(db, error);
    }
    if (!ok && existed && ClassifySqlError(error) == JournalFault::Damaged) {
        CloseJournalConnection(connection_);
        const QString aside = MoveAside();
        Report(JournalFault::Damaged, aside);
        ok = OpenJournalConnection(connection_, owner_.path_, true, error);
        if (ok) {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            ok = CreateJournalTables(db, error);
        }
        // The rows of the damaged file are out of reach: numbers start afresh above any of them.
        RaiseFloor(UtcNowUs());
    }
    if (!ok) {
        CloseJournalConnection(connection_);
        return false;
    }
    open_ = true;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    insert_ = std::make_unique<QSqlQuery>(db);
    // Named placeholders: binding by name spares Qt a formatted name per value and row.
    insert_->prepare(QStringLiteral(
        "INSERT INTO lines(seq, kind, first_ms, last_ms, count, text, raw, value, unit, port) "
        "VALUES(:s, :k, :f, :l, :c, :t, :r, :v, :u, :p)"));
    grow_ = std::make_unique<QSqlQuery>(db);
    grow_->prepare(QStringLiteral("UPDATE lines SET last_ms = :l, count = :c WHERE seq = :s"));
    return true;
}

QString WriterWorker::MoveAside() {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = owner_.path_ + QStringLiteral(".uszkodzony-") + stamp;
    for (int n = 2; QFile::exists(target); ++n) {
        target = owner_.path_ + QStringLiteral(".uszkodzony-") + stamp + QLatin1Char('-') +
                 QString::number(n);
    }
    QFile::rename(owner_.path_, target);
    // A write-ahead log left beside would be applied to the new file: it goes with the old one.
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString side = owner_.path_ + QLatin1String(suffix);
        if (QFile::exists(side)) QFile::rename(side, target + QLatin1String(suffix));
    }
    return QFileInfo(target).fileName();
}

void WriterWorker::RaiseFloor(std::int64_t floor) {
    std::int64_t current = owner_.seqFloor_.load();
    while (floor > current && !owner_.seqFloor_.compare_exchange_weak(current, floor)) {
    }
}

void WriterWorker::Report(JournalFault fault, const QString& detail) {
    if (fault == reported_ && fault != JournalFault::Damaged) return;
    // A damaged file moved aside is news of its own, kept until another cause replaces it; the
    // other causes are cleared when a write succeeds again.
    reported_ = fault == JournalFault::Damaged ? JournalFault::None : fault;
    emit owner_.notice(FaultText(fault, detail));
}

std::int64_t WriterWorker::Open() {
    retention_ = new QTimer(this);
    connect(retention_, &QTimer::timeout, this, &WriterWorker::DeleteOld);
    retention_->start(owner_.options_.retentionEveryMs);
    QSqlError error;
    if (!OpenDb(error)) {
        Fail(error);
        return std::max(UtcNowUs(), owner_.SeqFloor());
    }
    // Old rows go right after the start, on this thread, while the window is already up.
    QTimer::singleShot(0, this, &WriterWorker::DeleteOld);
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    std::int64_t next = 0;
    if (query.exec(QStringLiteral("SELECT max(seq) FROM lines")) && query.next() &&
        !query.value(0).isNull()) {
        next = query.value(0).toLongLong() + 1;
    } else {
        next = UtcNowUs();
    }
    return std::max(next, owner_.SeqFloor());
}

void WriterWorker::DeleteOld() {
    QSqlError error;
    if (!OpenDb(error)) return;
    const qint64 cutoff =
        QDateTime::currentMSecsSinceEpoch() - qint64{owner_.options_.keepDays} * 86400000;
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.prepare(QStringLiteral("DELETE FROM lines WHERE first_ms < ? AND last_ms < ?"));
    query.addBindValue(cutoff);
    query.addBindValue(cutoff);
    if (!query.exec()) Fail(query.lastError());
}

void WriterWorker::Fail(const QSqlError& error) {
    JournalFault fault = ClassifySqlError(error);
    if (fault == JournalFault::None) fault = JournalFault::Other;
    if (fault == JournalFault::Damaged) {
        // Found damaged while open: start over with a fresh file at the next attempt.
        CloseDb();
    } else {
        Report(fault, error.text());
    }
    if (fault == JournalFault::DiskFull || fault == JournalFault::Other) CloseDb();
}

bool WriterWorker::Store(const std::vector<JournalOp>& ops, QSqlError& error) {
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    return InTransaction(db, error, [&](QSqlError& failure) {
        for (const JournalOp& op : ops) {
            const JournalRow& r = op.row;
            QSqlQuery& q = op.type == JournalOp::Type::Insert ? *insert_ : *grow_;
            if (op.type == JournalOp::Type::Insert) {
                q.bindValue(kS, qint64{r.seq});
                q.bindValue(kK, KindText(r.kind));
                q.bindValue(kF, qint64{r.firstMs});
                q.bindValue(kL, qint64{r.lastMs});
                q.bindValue(kC, qint64{r.count});
                q.bindValue(kT, QString::fromUtf8(r.text.data(), qsizetype(r.text.size())));
                q.bindValue(kR, QByteArray(r.raw.data(), qsizetype(r.raw.size())));
                q.bindValue(kV,
                            r.value ? QVariant(*r.value) : QVariant(QMetaType(QMetaType::Double)));
                q.bindValue(kU, unit_.For(r.unit));
                q.bindValue(kP, port_.For(r.port));
            } else {
                q.bindValue(kL, qint64{r.lastMs});
                q.bindValue(kC, qint64{r.count});
                q.bindValue(kS, qint64{r.seq});
            }
            if (!q.exec()) {
                failure = q.lastError();
                return false;
            }
        }
        return true;
    });
}

void WriterWorker::Drain() {
    retryPending_ = false;
    for (;;) {
        JournalWriter::Batch* batch = nullptr;
        {
            std::lock_guard lock(owner_.mutex_);
            if (owner_.queue_.empty()) {
                owner_.drainPosted_ = false;
                return;
            }
            batch = &owner_.queue_.front();  // only this thread pops: the front stays put
        }
        QSqlError error;
        if (!OpenDb(error) || !Store(batch->ops, error)) {
            Fail(error);
            if (!retryPending_) {
                retryPending_ = true;
                QTimer::singleShot(owner_.options_.retryMs, this, &WriterWorker::Drain);
            }
            return;  // drainPosted_ stays set: the retry drains
        }
        if (reported_ != JournalFault::None) {
            reported_ = JournalFault::None;
            emit owner_.notice(QString());
        }
        if (owner_.options_.afterCommit) owner_.options_.afterCommit(HighestSeq(batch->ops));
        std::lock_guard lock(owner_.mutex_);
        owner_.queuedBytes_ -= owner_.queue_.front().bytes;
        owner_.queue_.pop_front();
    }
}

void WriterWorker::Finish() {
    // One last attempt at what is queued; the retry timer is not waited for.
    for (;;) {
        JournalWriter::Batch* batch = nullptr;
        {
            std::lock_guard lock(owner_.mutex_);
            if (owner_.queue_.empty()) break;
            batch = &owner_.queue_.front();
        }
        QSqlError error;
        if (!OpenDb(error) || !Store(batch->ops, error)) {
            Fail(error);
            break;
        }
        std::lock_guard lock(owner_.mutex_);
        owner_.queuedBytes_ -= owner_.queue_.front().bytes;
        owner_.queue_.pop_front();
    }
    CloseDb();
}

JournalWriter::JournalWriter(WriterOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    path_ = QDir(options_.folder.isEmpty() ? QDir::currentPath() : options_.folder)
                .absoluteFilePath(QString::fromLatin1(kJournalFileName));
    thread_.setObjectName(QStringLiteral("journal-writer"));
    worker_ = new WriterWorker(*this);
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

JournalWriter::~JournalWriter() {
    QMetaObject::invokeMethod(worker_, &WriterWorker::Finish, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

std::int64_t JournalWriter::Start() {
    std::int64_t next = 0;
    QMetaObject::invokeMethod(
        worker_, [this, &next] { next = worker_->Open(); }, Qt::BlockingQueuedConnection);
    return next;
}

bool JournalWriter::Push(std::vector<JournalOp> batch) {
    if (batch.empty()) return true;
    std::size_t bytes = 0;
    for (const JournalOp& op : batch) bytes += OpBytes(op);
    std::lock_guard lock(mutex_);
    if (queuedBytes_ + bytes > options_.queueBytes) return false;
    queuedBytes_ += bytes;
    queue_.push_back(Batch{std::move(batch), bytes});
    if (!drainPosted_) {
        drainPosted_ = true;
        QMetaObject::invokeMethod(worker_, &WriterWorker::Drain, Qt::QueuedConnection);
    }
    return true;
}

bool JournalWriter::WaitIdle(int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return true;
        }
        if (timer.elapsed() >= timeoutMs) return false;
        QThread::msleep(2);
    }
}

std::size_t JournalWriter::QueuedBytes() const {
    std::lock_guard lock(mutex_);
    return queuedBytes_;
}

}  // namespace waga::journal
