#pragma once
// A stand-in writer of dziennik.sqlite for the central upload's tests and benchmark: it keeps the
// journal file's schema and rules (one transaction per chunk, consecutive identical readings as
// one growing row, seq continuing after the highest in the file) without the window or a port.

#include <QByteArray>
#include <QString>
#include <vector>

struct FeedLine {
    bool reading = true;
    QByteArray raw;  // the received bytes without CR
    qint64 ms = 0;   // UTC ms of arrival
};

class JournalFeed {
  public:
    explicit JournalFeed(const QString& path, QString port = QStringLiteral("COM2"),
                         QString unit = QStringLiteral("kg"));
    ~JournalFeed();
    JournalFeed(const JournalFeed&) = delete;
    JournalFeed& operator=(const JournalFeed&) = delete;

    bool IsOpen() const { return open_; }
    const QString& Error() const { return error_; }

    // Stores one received chunk in one transaction.
    bool AppendChunk(const std::vector<FeedLine>& lines);
    // The port was lost or closed: the next reading starts a row of its own.
    void EndRun() { runOpen_ = false; }
    qint64 LastSeq() const { return lastSeq_; }

  private:
    QString connection_;
    QString port_;
    QString unit_;
    bool open_ = false;
    QString error_;
    qint64 lastSeq_ = 0;
    bool runOpen_ = false;
    QByteArray runRaw_;
};
