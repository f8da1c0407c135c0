#pragma once
// The journal's writer: its own thread and its own connection to dziennik.sqlite. It stores the
// row operations the sink queues, one transaction per received chunk, deletes rows older than
// the kept days at start and once a day, and copes with a full disk, a read-only folder, a file
// locked by another process and a file that is not a database (moved aside, a new one started).
// A cause is told once through notice(); the writer tries again later and the queue keeps its
// bound meanwhile (the sink turns what does not fit into a gap row).

#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "JournalRows.h"

namespace waga::journal {

class WriterWorker;

struct WriterOptions {
    QString folder;  // holds dziennik.sqlite
    int keepDays = 366;
    std::size_t queueBytes = std::size_t{64} << 20;
    int retryMs = 5000;               // after a failed write
    int retentionEveryMs = 86400000;  // the daily deletion of old rows
    // Called on the writer's thread after each committed chunk with its highest seq (the
    // benchmark's clock; a reader that wants to know of new rows).
    std::function<void(std::int64_t highestSeq)> afterCommit;
};

class JournalWriter : public QObject {
    Q_OBJECT
  public:
    explicit JournalWriter(WriterOptions options, QObject* parent = nullptr);
    // Stores what is still queued (one attempt), then stops the thread.
    ~JournalWriter() override;

    // Opens the file on the writer's thread (which then deletes old rows); returns the first seq
    // to hand out: after the highest seq in the file, or the UTC time in microseconds for a journal
    // with no rows (a new file, or one started in place of a damaged or unreadable one).
    std::int64_t Start();

    // Any thread: queues one chunk's operations. False (nothing queued) when they would pass
    // the bound.
    bool Push(std::vector<JournalOp> batch);
    // Waits until the queue is empty or `timeoutMs` passed; true when empty.
    bool WaitIdle(int timeoutMs);
    // Sequence numbers handed out from now on must be at least this (a file was started afresh).
    std::int64_t SeqFloor() const { return seqFloor_.load(std::memory_order_relaxed); }
    std::size_t QueuedBytes() const;
    const QString& FilePath() const { return path_; }

  signals:
    // A fault's cause (once per cause), or an empty text when writing works again. Emitted on
    // the writer's thread.
    void notice(const QString& text);

  private:
    friend class WriterWorker;
    struct Batch {
        std::vector<JournalOp> ops;
        std::size_t bytes;
    };

    WriterOptions options_;
    QString path_;
    QThread thread_;
    WriterWorker* worker_ = nullptr;
    mutable std::mutex mutex_;
    std::deque<Batch> queue_;
    std::size_t queuedBytes_ = 0;
    bool drainPosted_ = false;
    std::atomic<std::int64_t> seqFloor_{0};
};

}  // namespace waga::journal
