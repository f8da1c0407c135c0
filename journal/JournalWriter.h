#pragma once
// The journal's writer: its own thread and its own connection to dziennik.sqlite. It stores the
// row operations the sink queues, one transaction per received chunk, deletes rows older than
// the kept days at start and once a day, keeps the mark of the numbers handed out (SeqMark.h),
// and copes with a full disk, a read-only folder, a file locked by another process and a file
// that is not a database (moved aside, a new one started). A cause is told through notice()
// once, and again when it clears; the writer tries again every retryMs meanwhile, and the queue
// keeps its bound (the sink turns what does not fit into a gap row). At close it tries for a
// bounded time, and what it still cannot store goes to dziennik.niezapisane (UnsavedRows.h),
// which the next start stores.

#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "JournalRows.h"

namespace waga::journal {

class StartCheck;
class WriterWorker;

struct WriterOptions {
    QString folder;  // holds the journal (JournalPath)
    int keepDays = 366;
    // Old rows not yet acknowledged by the central upload (upload_state, the position saved
    // last) are kept past keepDays while this is set: the upload is on and still has to send them.
    bool keepUnsent = false;
    std::size_t queueBytes = std::size_t{64} << 20;
    int retryMs = 5000;  // after a failed write
    // The chunks queued meanwhile go into one transaction at most this often: the write-ahead
    // log then gets each page once per commit instead of once per chunk. A row after a quiet
    // spell this long is committed at once, so at a scale's usual pace nothing waits.
    int commitEveryMs = 200;
    int retentionEveryMs = 86400000;  // the daily deletion of old rows
    int closeWithinMs = 1500;  // the close's attempts, from when it is asked for (an attempt in
                               // progress then may take its busy timeout)
    std::function<std::int64_t()> clockUs;  // the UTC clock in microseconds (empty: the system's)
    // Called on the writer's thread after each commit with its highest seq (the
    // benchmark's clock; a reader that wants to know of new rows).
    std::function<void(std::int64_t highestSeq)> afterCommit;
    // The station's key that seals the rows (StationKeyPath() when empty); without `seal` the
    // rows are stored unsealed (the benchmark's peer that measures the seal's cost).
    QString keyPath;
    bool seal = true;
    // At start, the seal of the whole file is checked on a thread of its own.
    bool checkSeal = true;
};

class JournalWriter : public QObject {
    Q_OBJECT
  public:
    explicit JournalWriter(WriterOptions options, QObject* parent = nullptr);
    // Stores what is still queued (trying for at most closeWithinMs), keeps the rest in
    // dziennik.niezapisane and says so on standard error, then stops the thread.
    ~JournalWriter() override;

    // Opens the file on the writer's thread (queues first the rows a close left in
    // dziennik.niezapisane, deletes old rows after) and returns the first seq to hand out
    // (FirstSeqOfRun). A file whose highest seq cannot be read is told; its rows are stored once
    // it can be read, above the rows it holds. A file that was there is then checked in the
    // background (StartCheck.h); damage it finds is told through notice().
    std::int64_t Start();

    // Any thread: queues one chunk's operations. False (nothing queued) when they would pass
    // the bound, unless `force` (the last gap row of a closing sink).
    bool Push(std::vector<JournalOp> batch, bool force = false);
    // Any thread: from the next deletion of old rows on, keep the rows not yet sent, or not.
    void KeepUnsentRows(bool keep) { keepUnsent_ = keep; }
    const QString& FilePath() const { return path_; }
    // The fingerprint of the station's key that seals the rows (StationKey.h), known after
    // Start; empty when the rows are not sealed.
    const QString& KeyFingerprint() const { return keyFingerprint_; }

  signals:
    // The causes in force (each once), or an empty text when writing works again. Emitted on
    // the writer's thread.
    void notice(const QString& text);

  private:
    friend class WriterWorker;
    struct Batch {
        std::vector<JournalOp> ops;
        std::size_t bytes;
        bool unsaved = false;  // read from dziennik.niezapisane
    };

    WriterOptions options_;
    std::atomic<bool> keepUnsent_;
    QString path_;
    QThread thread_;
    WriterWorker* worker_ = nullptr;
    mutable std::mutex mutex_;
    std::deque<Batch> queue_;
    std::size_t queuedBytes_ = 0;
    bool drainPosted_ = false;
    std::atomic<std::int64_t> closeAskedNs_{0};  // steady clock
    std::unique_ptr<StartCheck> check_;
    QString keyFingerprint_;
    std::thread sealCheck_;  // the start's check of the seal (SealCheck.h)
    std::atomic<bool> stopSealCheck_{false};
};

}  // namespace waga::journal
