#pragma once
// The central uploader: the journal (dziennik.sqlite) is the outbox. A thread of the uploader's
// own reads the rows after the acknowledged position, copies them to PostgreSQL in batches (at
// most kMaxBatchRows, each stored by one statement that keeps nothing on the connection, so a
// transaction pooler may stand in front of the server) and records the new position in the
// journal's upload_state; while the server stores a batch it reads the next one. It starts at
// once when the journal's writer says it committed rows (Wake), and looks at the journal every
// pollMs anyway; rows that trickle in go at most every GatherIntervalMs (Zbieraj_ms, longer while
// the server answers slowly).
// A failed attempt closes the connection and waits 1 s, 2 s, 4 s ... up to 30 s before the next;
// the password comes from the PostgreSQL password file on every attempt. A row the central
// database holds as another line, or that the journal cannot make sense of, holds the upload
// (nothing of its batch is stored, the position stays before it) until Apply() is called again.
// Every cause is in the state (Status, StatusChanged) while it lasts. Nothing here waits on the
// calling thread, except the destructor, for at most kStopWaitMs.

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "AddOnSettings.h"
#include "CentralTexts.h"

namespace central {

struct UploaderShared;
class UploaderThread;
class EventFd;

struct UploaderConfig {
    CentralSettings settings;
    QString journalPath;                         // dziennik.sqlite
    QString target = QStringLiteral("central");  // the upload_state row
    int retryCapMs = kMaxRetryPauseMs;
    // How often the journal is looked at without a wake-up (Waker): a safety net for the program,
    // whose writer wakes the uploader; waga-central, beside a program in another process, looks
    // often.
    int pollMs = 3000;
};

class CentralUploader : public QObject {
    Q_OBJECT
  public:
    // How long the destructor waits for the thread (the close of the program); a thread still
    // busy then is left to end by itself.
    static constexpr int kStopWaitMs = 2000;

    explicit CentralUploader(QObject* parent = nullptr);
    ~CentralUploader() override;
    CentralUploader(const CentralUploader&) = delete;
    CentralUploader& operator=(const CentralUploader&) = delete;

    // Starts uploading with `config`, or applies new settings: the running thread is told to
    // stop (its statement on the server is cancelled) and a new one starts once it has ended.
    // With settings.enabled false the state is "wyłączona". Returns at once.
    void Apply(const UploaderConfig& config);
    // Tells the thread to stop; returns at once.
    void Stop();
    // A callable that says "new rows are in the journal: look now", from any thread, any time.
    // It outlives the uploader (it then wakes nobody): for the writer's thread, which may still
    // commit while the uploader is being destroyed.
    std::function<void()> Waker() const;

    // The latest state; callable from any thread.
    CentralStatus Status() const;

  signals:
    // Delivered on the thread that owns the uploader, whenever the state changed.
    void StatusChanged(const central::CentralStatus& status);

  private:
    friend struct UploaderShared;
    void Deliver();
    void ReapEnded();
    // Takes the running thread's share from current_, detaches it from this object and tells
    // the thread to stop; returns it (null when none ran).
    std::shared_ptr<UploaderShared> StopCurrent();

    const std::shared_ptr<EventFd> wake_;
    mutable std::mutex mutex_;                 // guards current_ (Status() from any thread)
    std::shared_ptr<UploaderShared> current_;  // the running thread's, or null when off
    std::vector<std::unique_ptr<UploaderThread>> threads_;  // running and stopping ones
    CentralStatus shown_;
};

}  // namespace central

Q_DECLARE_METATYPE(central::CentralStatus)
