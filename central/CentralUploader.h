#pragma once
// The central uploader: the journal (dziennik.sqlite) is the outbox; a thread of the uploader's
// own reads the rows after the acknowledged position with its own SQLite connection, stores them
// in PostgreSQL in batches (at most 1000 rows, sent at least every quarter second while rows
// wait) with an idempotent upsert, then records the new position in the journal's upload_state.
// A failed attempt closes the connection and waits 1 s, 2 s, 4 s ... up to 30 s before the next;
// the password comes from the PostgreSQL password file on every attempt. Nothing here ever waits
// on the calling thread: the state is a snapshot and a signal.

#include <QMutex>
#include <QObject>
#include <QString>
#include <memory>

#include "AddOnSettings.h"
#include "CentralTexts.h"

class QThread;

namespace central {

class UploadWorker;

struct UploaderConfig {
    CentralSettings settings;
    QString journalPath;                         // dziennik.sqlite
    QString target = QStringLiteral("central");  // the upload_state row
    int retryCapMs = kMaxRetryPauseMs;
    int pollMs = 250;  // how often the journal is looked at while connected
};

class CentralUploader : public QObject {
    Q_OBJECT
  public:
    explicit CentralUploader(QObject* parent = nullptr);
    ~CentralUploader() override;
    CentralUploader(const CentralUploader&) = delete;
    CentralUploader& operator=(const CentralUploader&) = delete;

    // Starts uploading with `config`, or applies new settings (the connection is made again).
    // With settings.enabled false the thread stops and the state is "wyłączona".
    void Apply(const UploaderConfig& config);
    // Stops the thread (waits for the batch in flight, bounded by the connect timeout).
    void Stop();

    // The latest state; callable from any thread.
    CentralStatus Status() const;

  signals:
    // Delivered on the thread that owns the uploader, whenever the state changed.
    void StatusChanged(const central::CentralStatus& status);

  private:
    void Publish(const CentralStatus& status);  // called by the worker's thread

    friend class UploadWorker;
    mutable QMutex mutex_;
    CentralStatus status_;
    QThread* thread_ = nullptr;
    UploadWorker* worker_ = nullptr;
};

}  // namespace central

Q_DECLARE_METATYPE(central::CentralStatus)
