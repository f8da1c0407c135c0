#include "CentralUploader.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>
#include <vector>

#include "CentralSchema.h"
#include "JournalFile.h"
#include "ServerCertificate.h"
#include "UploadBatch.h"

namespace central {

// Lives on the uploader's thread; every member is touched only there.
class UploadWorker : public QObject {
  public:
    UploadWorker(CentralUploader* owner, UploaderConfig config)
        : owner_(owner),
          config_(std::move(config)),
          pgName_(QStringLiteral("waga_central_pg_%1").arg(reinterpret_cast<quintptr>(this))),
          station_(StationName(config_.settings)) {
        status_.enabled = true;
        status_.cause = QString::fromUtf8(kConnectingCause);
    }

    void Begin() {
        timer_ = new QTimer(this);
        timer_->setSingleShot(true);
        connect(timer_, &QTimer::timeout, this, [this] { Tick(); });
        Schedule(0);
    }

    void Finish() {
        timer_->stop();
        ClosePg();
        CloseJournal();
    }

  private:
    static qint64 NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

    void Schedule(int ms) { timer_->start(ms); }

    void Publish() { owner_->Publish(status_); }

    void ClosePg() {
        if (!pgOpen_) return;
        QSqlDatabase::database(pgName_, false).close();
        QSqlDatabase::removeDatabase(pgName_);
        pgOpen_ = false;
    }

    void CloseJournal() {
        if (!journalOpen_) return;
        journal_.Close();
        journalOpen_ = false;
        ackLoaded_ = false;
    }

    bool OpenPg(QString& cause) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), pgName_);
            pgOpen_ = true;
            db.setHostName(QString::fromStdString(config_.settings.host));
            db.setPort(config_.settings.port);
            db.setDatabaseName(QString::fromStdString(config_.settings.database));
            db.setUserName(QString::fromStdString(config_.settings.user));
            db.setConnectOptions(PgConnectOptions(config_.settings));
            if (!db.isValid()) {
                cause = QStringLiteral("brak sterownika QPSQL");
                return false;
            }
            cause = ConnectSettingsProblem(config_.settings);
            if (!cause.isEmpty()) return false;
            if (!db.open()) {
                const QSqlError error = db.lastError();
                cause = ConnectFailureCause(
                    error.databaseText().isEmpty() ? error.text() : error.databaseText(),
                    config_.settings);
                return false;
            }
            if (!EnsureCentralSchema(db, cause)) {
                cause = ShortCause(cause);
                return false;
            }
        }
        return true;
    }

    // False when the journal file is not there (yet) or cannot be opened.
    bool OpenJournal(QString& cause) {
        if (journalOpen_) return true;
        if (!QFileInfo::exists(config_.journalPath)) {
            cause = QStringLiteral("brak pliku dziennika");
            return false;
        }
        // It writes the acknowledged position: a writer's connection (the tables are made when
        // the journal has none yet).
        journalOpen_ = true;
        if (!journal_.Open(config_.journalPath, waga::journal::JournalAccess::Writer)) {
            cause = QStringLiteral("dziennik: ") + journal_.LastError().text().trimmed();
            return false;
        }
        return true;
    }

    bool LoadAck(QString& cause) {
        if (ackLoaded_) return true;
        QSqlDatabase db = journal_.Database();
        if (!LoadAckedPosition(db, config_.target, acked_, cause)) {
            cause = QStringLiteral("dziennik: ") + cause;
            return false;
        }
        ackLoaded_ = true;
        status_.ackedSeq = acked_.seq;
        return true;
    }

    void CountBacklog(bool force) {
        if (!journalOpen_ || !ackLoaded_) return;
        const qint64 now = NowMs();
        if (!force && now - lastCountMs_ < 1000) return;
        lastCountMs_ = now;
        QString error;
        QSqlDatabase db = journal_.Database();
        if (const auto pending = CountPendingRows(db, acked_, error)) status_.backlog = *pending;
    }

    // A failed attempt: the connection is made again after the growing pause.
    void Fail(const QString& cause) {
        ClosePg();
        status_.connected = false;
        status_.cause = cause;
        QString ignored;
        if (OpenJournal(ignored) && LoadAck(ignored)) CountBacklog(true);
        Publish();
        pauseMs_ = NextRetryPauseMs(pauseMs_, config_.retryCapMs);
        Schedule(pauseMs_);
    }

    // The journal could not be read: the connection stays, the journal is opened again.
    void JournalTrouble(const QString& cause) {
        CloseJournal();
        status_.cause = cause;
        Publish();
        Schedule(std::max(config_.pollMs, 1000));
    }

    void Tick() {
        QString cause;
        if (!pgOpen_ && !OpenPg(cause)) {
            Fail(cause);
            return;
        }
        status_.connected = true;
        status_.cause.clear();
        if (!OpenJournal(cause)) {
            if (journalOpen_) {
                JournalTrouble(cause);
            } else {  // no journal yet: nothing to send
                status_.backlog = 0;
                Publish();
                Schedule(std::max(config_.pollMs, 1000));
            }
            return;
        }
        if (!LoadAck(cause)) {
            JournalTrouble(cause);
            return;
        }
        std::vector<JournalRow> rows;
        {
            QSqlDatabase journal = journal_.Database();
            if (!ReadPendingRows(journal, acked_, rows, cause)) {
                JournalTrouble(QStringLiteral("dziennik: ") + cause);
                return;
            }
        }
        if (rows.empty()) {
            status_.backlog = 0;
            Publish();
            Schedule(config_.pollMs);
            return;
        }
        {
            QSqlDatabase db = QSqlDatabase::database(pgName_, false);
            QSqlQuery q(db);
            if (!q.exec(UpsertStatement(station_, rows))) {
                const QSqlError error = q.lastError();
                cause = ShortCause(error.databaseText().isEmpty() ? error.text()
                                                                  : error.databaseText());
            }
        }
        if (!cause.isEmpty()) {
            Fail(cause);
            return;
        }
        const JournalRow& last = rows.back();
        acked_ = AckedPosition{last.seq, last.count, last.lastMs};
        {
            // A position that cannot be written now is written with the next batch; the rows
            // sent again meanwhile change nothing centrally.
            QSqlDatabase journal = journal_.Database();
            QString ignored;
            SaveAckedPosition(journal, config_.target, acked_, NowMs(), ignored);
        }
        pauseMs_ = 0;
        status_.ackedSeq = acked_.seq;
        status_.lastUploadUtcMs = NowMs();
        const bool full = static_cast<int>(rows.size()) >= kMaxBatchRows;
        status_.backlog = std::max<qint64>(0, status_.backlog - static_cast<qint64>(rows.size()));
        CountBacklog(!full);
        Publish();
        Schedule(full ? 0 : config_.pollMs);
    }

    CentralUploader* owner_;
    const UploaderConfig config_;
    const QString pgName_;
    const QString station_;
    waga::journal::JournalDb journal_;
    QTimer* timer_ = nullptr;
    bool pgOpen_ = false;
    bool journalOpen_ = false;
    bool ackLoaded_ = false;
    AckedPosition acked_;
    int pauseMs_ = 0;
    qint64 lastCountMs_ = 0;
    CentralStatus status_;
};

CentralUploader::CentralUploader(QObject* parent) : QObject(parent) {
    qRegisterMetaType<central::CentralStatus>();
}

CentralUploader::~CentralUploader() { Stop(); }

void CentralUploader::Apply(const UploaderConfig& config) {
    Stop();
    if (!config.settings.enabled) {
        Publish(CentralStatus{});
        return;
    }
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("central-upload"));
    worker_ = new UploadWorker(this, config);
    worker_->moveToThread(thread_);
    thread_->start();
    UploadWorker* worker = worker_;
    QMetaObject::invokeMethod(
        worker_, [worker] { worker->Begin(); }, Qt::QueuedConnection);
}

void CentralUploader::Stop() {
    if (!thread_) return;
    UploadWorker* worker = worker_;
    QMetaObject::invokeMethod(
        worker_, [worker] { worker->Finish(); }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete worker_;
    delete thread_;
    worker_ = nullptr;
    thread_ = nullptr;
}

CentralStatus CentralUploader::Status() const {
    QMutexLocker lock(&mutex_);
    return status_;
}

void CentralUploader::Publish(const CentralStatus& status) {
    {
        QMutexLocker lock(&mutex_);
        if (status_ == status) return;
        status_ = status;
    }
    emit StatusChanged(status);
}

}  // namespace central
