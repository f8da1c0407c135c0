#include "CentralUploader.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <optional>
#include <thread>

#include "CentralSchema.h"
#include "JournalFile.h"
#include "PgLink.h"
#include "ServerCertificate.h"
#include "UploadBatch.h"

namespace central {

// A descriptor that turns readable when signalled, for poll() beside a connection's socket.
class EventFd {
  public:
    EventFd() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~EventFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;
    int Fd() const { return fd_; }
    void Signal() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
    }
    // True when it had been signalled since the last Drain.
    bool Drain() const {
        std::uint64_t count = 0;
        return ::read(fd_, &count, sizeof count) == sizeof count;
    }

  private:
    int fd_;
};

// What one upload thread shares with its uploader. The thread keeps it alive for as long as it
// runs, so it may outlive the uploader (a close that did not wait for it).
struct UploaderShared {
    explicit UploaderShared(std::shared_ptr<EventFd> wakeUp) : wake(std::move(wakeUp)) {}
    EventFd stop;  // signalled once, when the thread should end
    std::atomic<bool> stopping{false};
    const std::shared_ptr<EventFd> wake;

    std::mutex mutex;  // guards the rest
    std::condition_variable endedCondition;
    bool ended = false;
    CentralStatus status;
    bool deliveryPosted = false;
    CentralUploader* owner = nullptr;  // cleared when the uploader stops listening

    void RequestStop() {
        stopping = true;
        stop.Signal();
    }
    // Asks the owner's thread to take the new state (under `mutex`, once until it took it).
    void PostDelivery();
    // Waits until the thread ended or `deadline`; true when it ended.
    bool WaitEnded(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex);
        return endedCondition.wait_until(lock, deadline, [this] { return ended; });
    }
};

namespace {

using std::chrono::milliseconds;

qint64 NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

AckedPosition After(const std::vector<JournalRow>& rows) {
    const JournalRow& last = rows.back();
    return AckedPosition{last.seq, last.count, last.lastMs};
}

QString Joined(const QString& first, const QString& second) {
    if (first.isEmpty()) return second;
    if (second.isEmpty()) return first;
    return first + QStringLiteral("; ") + second;
}

// The rows of one batch and the statement's parameters, made while the server stores the batch
// before.
struct Batch {
    std::vector<JournalRow> rows;
    BatchParameters parameters;
};

// The upload itself, on its thread; every member is touched only there.
class UploadWorker {
  public:
    UploadWorker(UploaderShared& shared, UploaderConfig config, qint64 lastUploadUtcMs)
        : shared_(shared),
          config_(std::move(config)),
          station_(StationName(config_.settings)),
          link_(shared.stop.Fd()) {
        status_.enabled = true;
        status_.lastUploadUtcMs = lastUploadUtcMs;
        serverCause_ = QString::fromUtf8(kConnectingCause);
    }

    void Run() {
        Publish();
        while (!Stopping()) {
            if (status_.held) {
                if (!Idle()) break;
                LookAfterJournalWhileHeld();
                Publish();
                continue;
            }
            Round();
        }
        // What was stored centrally is recorded before the thread ends (bounded by the journal's
        // busy timeout); a statement still running is cancelled.
        link_.Drop();
        QString ignored;  // told while running; a close has no one left to tell
        if (pendingAck_ && journal_.IsOpen()) {
            // Well within the close's wait for this thread: a position not recorded is only
            // sent again next time (the server keeps it as it is).
            outbox_->SetClosing();
            SavePendingAck(ignored);
        }
        CloseJournal();
    }

  private:
    bool Stopping() const { return shared_.stopping.load(); }

    void Publish() {
        status_.connected = link_.IsOpen() && serverCause_.isEmpty();
        status_.cause = Joined(status_.held ? heldCause_ : serverCause_, journalCause_);
        std::lock_guard lock(shared_.mutex);
        if (shared_.status == status_) return;
        shared_.status = status_;
        shared_.PostDelivery();
    }

    // Waits until `until` or a stop (false); the journal's news meanwhile update the backlog.
    bool Pause(PgClock::time_point until) {
        for (;;) {
            const auto now = PgClock::now();
            if (now >= until) return !Stopping();
            const auto slice =
                std::min<PgClock::duration>(until - now, milliseconds(config_.pollMs));
            if (!WaitForNews(std::chrono::ceil<milliseconds>(slice))) return false;
            RefreshBacklog(false);
            Publish();
        }
    }

    // Waits for the writer's news, pollMs or a stop (false).
    bool Idle() { return WaitForNews(milliseconds(config_.pollMs)); }

    // Waits until `until` or a stop (false); the writer's news meanwhile change nothing.
    bool WaitForStop(PgClock::time_point until) {
        for (;;) {
            const auto left = std::chrono::ceil<milliseconds>(until - PgClock::now());
            if (left.count() <= 0 || Stopping()) return !Stopping();
            pollfd fd{shared_.stop.Fd(), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(left.count()));
        }
    }

    bool WaitForNews(milliseconds timeout) {
        pollfd fds[2] = {{shared_.stop.Fd(), POLLIN, 0}, {shared_.wake->Fd(), POLLIN, 0}};
        int ready = 0;
        do {
            ready = ::poll(fds, 2, static_cast<int>(std::max<qint64>(timeout.count(), 0)));
        } while (ready < 0 && errno == EINTR);
        if (Stopping()) return false;
        if (fds[1].revents & POLLIN) shared_.wake->Drain();
        return true;
    }

    void CloseJournal() {
        if (!journal_.IsOpen()) return;
        outbox_.reset();
        journal_.Close();
        ackLoaded_ = false;
    }

    // The file now at the journal's path (0 when there is none), without opening it.
    std::pair<dev_t, ino_t> FileAtPath() const {
        struct stat info {};
        if (::stat(journalPath_.constData(), &info) != 0) return {0, 0};
        return {info.st_dev, info.st_ino};
    }

    // False with `cause`; `missing` when there is no journal yet (nothing to send, no fault).
    // A journal replaced since it was opened (the writer moved a damaged file aside and started
    // a new one) is opened again: the open connection would read the old file for ever.
    bool OpenJournal(QString& cause, bool& missing) {
        missing = false;
        const auto file = FileAtPath();
        if (journal_.IsOpen() && file == openedFile_) return true;
        CloseJournal();
        if (file.second == 0) {
            missing = true;
            return false;
        }
        openedFile_ = file;
        // It writes the acknowledged position: a writer's connection (the tables are made when
        // the journal has none yet).
        if (!journal_.Open(config_.journalPath, waga::journal::JournalAccess::Writer)) {
            cause = JournalErrorText(journal_.LastError());
            journal_.Close();
            return false;
        }
        outbox_ = std::make_unique<JournalOutbox>(journal_.Database());
        return true;
    }

    bool LoadAck(QString& cause) {
        if (ackLoaded_) return true;
        qint64 savedMs = 0;
        if (!outbox_->LoadAcked(config_.target, acked_, cause, &savedMs)) return false;
        ackLoaded_ = true;
        status_.ackedSeq = acked_.seq;
        status_.lastUploadUtcMs = std::max(status_.lastUploadUtcMs, savedMs);
        if (pendingAck_ && pendingAck_->seq < acked_.seq) pendingAck_.reset();
        return true;
    }

    // The position the next batch starts after: stored centrally, recorded or not yet.
    const AckedPosition& Position() const { return pendingAck_ ? *pendingAck_ : acked_; }

    bool SavePendingAck(QString& cause) {
        if (!pendingAck_) return true;
        if (!outbox_) {
            cause = QStringLiteral("dziennik: nie jest otwarty");
            return false;
        }
        if (!outbox_->SaveAcked(config_.target, *pendingAck_, NowMs(), cause)) return false;
        acked_ = *pendingAck_;
        pendingAck_.reset();
        status_.ackedSeq = acked_.seq;
        return true;
    }

    // Counts the rows still to send, at most once a second (every 2 s while batches go) unless
    // `force`. A journal that cannot be counted is told and opened again by the next round.
    void RefreshBacklog(bool force, bool sending = false) {
        if (!journal_.IsOpen() || !ackLoaded_) return;
        const qint64 now = NowMs();
        if (!force && now - lastCountMs_ < (sending ? 2000 : 1000)) return;
        lastCountMs_ = now;
        QString error;
        if (const auto pending = outbox_->CountPending(Position(), error)) {
            status_.backlog = *pending;
            status_.backlogCounted = true;
            return;
        }
        journalCause_ = error;
        CloseJournal();
    }

    // A failed attempt on the server: the connection is made again after the growing pause.
    void Fail(const QString& cause) {
        link_.Drop();
        batch_.reset();
        if (Stopping()) return;
        serverCause_ = cause;
        QString journalError;
        bool missing = false;
        if (OpenJournal(journalError, missing) && LoadAck(journalError) &&
            SavePendingAck(journalError)) {
            RefreshBacklog(true);
        } else if (!missing) {
            journalCause_ = journalError;
            CloseJournal();
        }
        Publish();
        pauseMs_ = NextRetryPauseMs(pauseMs_, config_.retryCapMs);
        Pause(PgClock::now() + milliseconds(pauseMs_));
    }

    // The journal could not be read or written: it is opened again after the growing pause. A
    // batch on its way is dropped with the connection (the server rolls it back).
    void JournalTrouble(const QString& cause) {
        if (link_.Busy()) link_.Drop();
        batch_.reset();
        CloseJournal();
        if (Stopping()) return;
        journalCause_ = cause;
        Publish();
        journalPauseMs_ = NextRetryPauseMs(journalPauseMs_, config_.retryCapMs);
        Pause(PgClock::now() + milliseconds(journalPauseMs_));
    }

    // A row that must not be sent: nothing more goes until the settings are applied again.
    void Hold(const QString& cause) {
        link_.Drop();
        batch_.reset();
        status_.held = true;
        heldCause_ = cause;
        QString error;
        if (journal_.IsOpen() && !SavePendingAck(error)) journalCause_ = error;
        RefreshBacklog(true);
        Publish();
    }

    // While held, the journal is still looked after: the position stored centrally is recorded,
    // the backlog follows the journal, and trouble with either is told beside the held row (and
    // cleared when it goes).
    void LookAfterJournalWhileHeld() {
        QString cause;
        bool missing = false;
        if (OpenJournal(cause, missing) && LoadAck(cause) && SavePendingAck(cause)) {
            const bool troubled = !journalCause_.isEmpty();
            journalCause_.clear();
            RefreshBacklog(troubled);  // at once after trouble: a failure tells it again
        } else if (!missing) {
            journalCause_ = cause;
            CloseJournal();
        }
    }

    bool Connect(QString& cause) {
        cause = ConnectSettingsProblem(config_.settings);
        if (!cause.isEmpty()) return false;
        const PgWait connected = link_.Connect(PgConnectParameters(config_.settings),
                                               DeadlineIn(std::chrono::seconds(kConnectTimeoutS)));
        if (connected != PgWait::Done) {
            // The certificate's exact fault takes a connection of its own: not while stopping.
            cause = connected != PgWait::Failed ? PgWaitText(connected)
                    : Stopping()                ? ShortCause(link_.Error())
                                 : ConnectFailureCause(link_.Error(), config_.settings);
            return false;
        }
        // Through a pooler, which cannot bind SCRAM to the channel: the one proof left that the
        // other end knows the password is that it asked for it.
        if (config_.settings.pooler && !link_.UsedPassword()) {
            link_.Drop();
            cause = QStringLiteral(
                "serwer przyjął połączenie bez sprawdzenia hasła (Posrednik=1): nic nie wysłano");
            return false;
        }
        return EnsureCentralSchema(link_, AnswerDeadline(), cause);
    }

    static PgDeadline AnswerDeadline() {
        return DeadlineIn(milliseconds(kStatementTimeoutMs + kAnswerGraceMs));
    }

    QString LinkCause() const { return QueryFailureCause(link_.ErrorState(), link_.Error()); }

    static QString ResultCause(const std::vector<PgResult>& results) {
        for (const PgResult& result : results) {
            if (!result.Ok()) return QueryFailureCause(result.SqlState(), result.Message());
        }
        return QStringLiteral("nieoczekiwana odpowiedź serwera");
    }

    // Reads the batch after `position` and makes its parameters; nullopt with `cause` (and
    // `malformed` for a row the journal cannot make sense of).
    std::optional<Batch> ReadBatch(const AckedPosition& position, QString& cause, bool& malformed) {
        Batch batch;
        const ReadOutcome outcome = outbox_->ReadPending(position, batch.rows, cause);
        malformed = outcome == ReadOutcome::Malformed;
        if (outcome != ReadOutcome::Rows) return std::nullopt;
        if (!batch.rows.empty()) batch.parameters = BatchArrays(station_, batch.rows);
        return batch;
    }

    // Sends the statement that stores the batch; it runs on the server while this returns.
    bool StartBatch(const Batch& batch, PgDeadline deadline, QString& cause) {
        if (!link_.SendBinary(kStoreBatch, batch.parameters.oids, batch.parameters.values) ||
            link_.Flush(deadline) != PgWait::Done) {
            cause = LinkCause();
            return false;
        }
        return true;
    }

    // The server refused the batch for a row held by another line (nothing of it was stored):
    // find the row and hold the upload there.
    void Conflict(PgDeadline deadline) {
        std::vector<PgResult> results;
        const bool found =
            link_.SendBinary(kConflictingRow, batch_->parameters.oids, batch_->parameters.values) &&
            link_.Await(results, deadline) == PgWait::Done && results.size() == 1 &&
            results[0].Ok() && results[0].Rows() == 1;
        if (!found) {  // another writer of the same station's rows got there meanwhile
            Fail(QStringLiteral(
                "serwer nie przyjął części partii: inna stacja zapisuje wiersze pod tą samą "
                "nazwą stacji"));
            return;
        }
        const PgResult& theirs = results[0];
        const qint64 seq = theirs.Number(0, 0);
        QString cause =
            QStringLiteral("wiersz %1 jest w bazie centralnej jako inna linia").arg(seq);
        for (const JournalRow& ours : batch_->rows) {
            if (ours.seq != seq) continue;
            cause = ConflictCause(seq, QString::fromLatin1(JournalKindName(ours.kind).data()),
                                  QString::fromUtf8(ours.text.data(), qsizetype(ours.text.size())),
                                  ours.firstMs, theirs.Text(0, 1), theirs.Text(0, 2),
                                  theirs.Number(0, 3));
        }
        Hold(cause);
    }

    // Sends batch after batch while there are rows; each one's store overlaps with recording the
    // position of the one before and reading the next.
    void Upload() {
        while (!Stopping() && batch_ && !batch_->rows.empty()) {
            const PgDeadline deadline = AnswerDeadline();
            const PgClock::time_point sentAt = PgClock::now();
            QString cause;
            if (!StartBatch(*batch_, deadline, cause)) {
                Fail(cause);
                return;
            }
            if (!SavePendingAck(cause)) {
                JournalTrouble(cause);
                return;
            }
            // A full batch: a backlog, the next one is read now. A read that fails here is done
            // again by the next round, which then says why. Rows that trickle in are gathered
            // by the next round instead.
            const bool full = batch_->rows.size() >= std::size_t{kMaxBatchRows};
            QString readCause;
            bool malformed = false;
            std::optional<Batch> next;
            if (full) next = ReadBatch(After(batch_->rows), readCause, malformed);
            std::vector<PgResult> results;
            if (link_.Await(results, deadline) != PgWait::Done) {
                Fail(LinkCause());
                return;
            }
            // How many rows it stored: all of them, or it failed.
            if (results.size() == 1 && results[0].SqlState() == kHeldByAnotherLineState) {
                Conflict(deadline);
                return;
            }
            if (results.size() != 1 || !results[0].Ok() || results[0].Rows() != 1 ||
                results[0].Number(0, 0) != qint64(batch_->rows.size())) {
                Fail(ResultCause(results));
                return;
            }
            pendingAck_ = After(batch_->rows);
            lastBatchAt_ = sentAt;
            lastAnswerMs_ =
                int(std::chrono::duration_cast<milliseconds>(PgClock::now() - sentAt).count());
            lastBatchFull_ = full;
            pauseMs_ = 0;
            status_.lastUploadUtcMs = NowMs();
            status_.backlog = std::max<qint64>(0, status_.backlog - qint64(batch_->rows.size()));
            batch_ = std::move(next);
            if ((!batch_ || batch_->rows.empty()) && !SavePendingAck(cause)) {
                JournalTrouble(cause);
                return;
            }
            RefreshBacklog(false, true);
            Publish();
            if (!journal_.IsOpen()) return;  // it could not be counted: the next round tells
        }
    }

    void Round() {
        QString cause;
        if (!link_.IsOpen()) {
            if (!Connect(cause)) {
                Fail(cause);
                return;
            }
            serverCause_.clear();
        }
        bool missing = false;
        if (!OpenJournal(cause, missing)) {
            if (!missing) {
                JournalTrouble(cause);
                return;
            }
            // No journal yet: nothing to send.
            journalCause_.clear();
            status_.backlog = 0;
            status_.backlogCounted = true;
            Publish();
            Idle();
            return;
        }
        if (!LoadAck(cause) || !SavePendingAck(cause)) {
            JournalTrouble(cause);
            return;
        }
        if (!batch_) {
            // Rows that trickle in are gathered for a moment after the batch before.
            const int interval = GatherIntervalMs(config_.settings.gatherMs, lastAnswerMs_);
            if (!lastBatchFull_ && !WaitForStop(lastBatchAt_ + milliseconds(interval))) return;
            bool malformed = false;
            batch_ = ReadBatch(Position(), cause, malformed);
            if (!batch_) {
                if (malformed) {
                    Hold(cause);
                } else {
                    JournalTrouble(cause);
                }
                return;
            }
        }
        journalCause_.clear();
        journalPauseMs_ = 0;
        if (batch_->rows.empty()) {
            batch_.reset();
            status_.backlog = 0;
            status_.backlogCounted = true;
            lastCountMs_ = NowMs();
            Publish();
            Idle();
            return;
        }
        RefreshBacklog(false);
        Upload();
    }

    UploaderShared& shared_;
    const UploaderConfig config_;
    const QString station_;
    PgLink link_;
    const QByteArray journalPath_ = QFile::encodeName(config_.journalPath);
    waga::journal::JournalDb journal_;
    std::unique_ptr<JournalOutbox> outbox_;  // on journal_, while it is open
    std::pair<dev_t, ino_t> openedFile_{0, 0};
    bool ackLoaded_ = false;
    AckedPosition acked_;                      // recorded in the journal
    std::optional<AckedPosition> pendingAck_;  // stored centrally, not recorded yet
    std::optional<Batch> batch_;               // read, not stored yet
    PgClock::time_point lastBatchAt_;          // when the last batch stored was sent
    int lastAnswerMs_ = 0;                     // how long the server took to answer it
    bool lastBatchFull_ = false;
    int pauseMs_ = 0;
    int journalPauseMs_ = 0;
    qint64 lastCountMs_ = 0;
    QString serverCause_;
    QString journalCause_;
    QString heldCause_;
    CentralStatus status_;
};

}  // namespace

void UploaderShared::PostDelivery() {
    if (owner == nullptr || deliveryPosted) return;
    deliveryPosted = true;
    CentralUploader* to = owner;
    QMetaObject::invokeMethod(
        to, [to] { to->Deliver(); }, Qt::QueuedConnection);
}

// One upload thread. It waits for the thread before it (the settings applied before) to end,
// for at most a few seconds, so that two never record positions at once.
class UploaderThread {
  public:
    UploaderThread(std::shared_ptr<UploaderShared> shared, UploaderConfig config,
                   std::shared_ptr<UploaderShared> previous, qint64 lastUploadUtcMs)
        : shared_(std::move(shared)) {
        thread_ = std::thread([shared = shared_, config = std::move(config),
                               previous = std::move(previous), lastUploadUtcMs]() mutable {
            pthread_setname_np(pthread_self(), "central-upload");
            if (previous) {
                using Steady = std::chrono::steady_clock;
                const auto until = Steady::now() + std::chrono::seconds(5);
                while (!shared->stopping && Steady::now() < until &&
                       !previous->WaitEnded(
                           std::min(until, Steady::now() + std::chrono::milliseconds(100)))) {
                }
                previous.reset();
            }
            if (!shared->stopping) UploadWorker(*shared, std::move(config), lastUploadUtcMs).Run();
            std::lock_guard lock(shared->mutex);
            shared->ended = true;
            shared->endedCondition.notify_all();
        });
    }
    ~UploaderThread() {
        if (thread_.joinable()) thread_.join();
    }
    UploaderThread(const UploaderThread&) = delete;
    UploaderThread& operator=(const UploaderThread&) = delete;

    UploaderShared& Shared() { return *shared_; }
    bool Ended() {
        std::lock_guard lock(shared_->mutex);
        return shared_->ended;
    }
    // Leaves a thread that has not ended to end by itself (it holds what it uses).
    void Abandon() { thread_.detach(); }

  private:
    std::shared_ptr<UploaderShared> shared_;
    std::thread thread_;
};

CentralUploader::CentralUploader(QObject* parent)
    : QObject(parent), wake_(std::make_shared<EventFd>()) {
    qRegisterMetaType<central::CentralStatus>();
}

CentralUploader::~CentralUploader() {
    Stop();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    for (auto& thread : threads_) {
        if (thread->Shared().WaitEnded(until)) continue;
        std::fprintf(stderr,
                     "Baza centralna: wysyłanie nie skończyło się w %d ms; zamknięcie nie czeka "
                     "dłużej (pozycja wysłania zostaje zapisana przy następnym wysłaniu)\n",
                     kStopWaitMs);
        thread->Abandon();
    }
}

std::shared_ptr<UploaderShared> CentralUploader::StopCurrent() {
    std::shared_ptr<UploaderShared> running;
    {
        std::lock_guard lock(mutex_);
        running = std::exchange(current_, nullptr);
    }
    if (running) {
        {
            std::lock_guard lock(running->mutex);
            running->owner = nullptr;
        }
        running->RequestStop();
    }
    return running;
}

void CentralUploader::Apply(const UploaderConfig& config) {
    const qint64 lastUpload = Status().lastUploadUtcMs;
    std::shared_ptr<UploaderShared> previous = StopCurrent();
    ReapEnded();
    if (config.settings.enabled) {
        auto shared = std::make_shared<UploaderShared>(wake_);
        shared->owner = this;
        shared->status.enabled = true;
        shared->status.cause = QString::fromUtf8(kConnectingCause);
        shared->status.lastUploadUtcMs = lastUpload;  // the window keeps showing it
        threads_.push_back(
            std::make_unique<UploaderThread>(shared, config, std::move(previous), lastUpload));
        std::lock_guard lock(mutex_);
        current_ = std::move(shared);
    }
    Deliver();
}

void CentralUploader::Stop() { StopCurrent(); }

std::function<void()> CentralUploader::Waker() const {
    return [wake = wake_] { wake->Signal(); };
}

void CentralUploader::ReapEnded() {
    std::erase_if(threads_, [](const std::unique_ptr<UploaderThread>& thread) {
        return thread->Ended();  // its join is immediate
    });
}

CentralStatus CentralUploader::Status() const {
    std::lock_guard lock(mutex_);
    if (!current_) return CentralStatus{};
    std::lock_guard statusLock(current_->mutex);
    return current_->status;
}

void CentralUploader::Deliver() {
    CentralStatus status;
    {
        std::lock_guard lock(mutex_);
        if (current_) {
            std::lock_guard statusLock(current_->mutex);
            current_->deliveryPosted = false;
            status = current_->status;
        }
    }
    if (status == shown_) return;
    shown_ = status;
    emit StatusChanged(status);
}

}  // namespace central
