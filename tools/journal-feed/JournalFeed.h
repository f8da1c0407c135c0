#pragma once
// A stand-in writer of the journal for the central upload's tests and benchmark: the journal
// module's connection, tables, rule of runs and row storing, one transaction per chunk, without
// the window, a port or the writer's thread. Its numbers continue after the highest in the file
// (the program's writer also jumps to the clock between runs, journal/SeqMark.h; the tests keep
// them small to read).

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

struct FeedLine {
    bool reading = true;
    QByteArray raw;  // the received bytes without CR
    qint64 ms = 0;   // UTC ms of arrival
};

class JournalRuns;
namespace waga::journal {
class JournalDb;
class RowStore;
}  // namespace waga::journal

class JournalFeed {
  public:
    // The lines arrive on COM2 with the unit "kg".
    explicit JournalFeed(const QString& path);
    ~JournalFeed();
    JournalFeed(const JournalFeed&) = delete;
    JournalFeed& operator=(const JournalFeed&) = delete;

    bool IsOpen() const { return open_; }
    const QString& Error() const { return error_; }

    // Stores one received chunk in one transaction.
    bool AppendChunk(const std::vector<FeedLine>& lines);
    // The port was lost or closed: the next reading starts a row of its own.
    void EndRun();
    qint64 LastSeq() const;

  private:
    std::unique_ptr<waga::journal::JournalDb> db_;
    std::unique_ptr<waga::journal::RowStore> store_;
    std::unique_ptr<JournalRuns> runs_;
    bool open_ = false;
    QString error_;
};
