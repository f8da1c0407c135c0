#pragma once
// A stand-in writer of the journal for the central upload's tests and benchmark: the journal
// module's connection, tables, rule of runs and row storing, one transaction per chunk or, as the
// program's writer, one per commit interval, without the window, a port or the writer's thread.
// Its numbers continue after the highest in the file (the program's writer also jumps to the
// clock between runs, journal/SeqMark.h; the tests keep them small to read).

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <memory>
#include <vector>

#include "JournalRows.h"

struct FeedLine {
    bool reading = true;
    QByteArray raw;  // the received bytes without CR
    qint64 ms = 0;   // UTC ms of arrival
};

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

    // Chunks that come within `ms` of the last commit are held and committed together once `ms`
    // have passed, as the program's writer holds them (WriterOptions::commitEveryMs); 0, the
    // default, stores each chunk in a transaction of its own.
    void SetCommitEveryMs(int ms) { commitEveryMs_ = ms; }
    // Adds one received chunk (it may be empty) and commits what is held when that is due. False
    // when the transaction failed: what was held is dropped and its numbers are given again.
    bool AppendChunk(const std::vector<FeedLine>& lines);
    // Commits what is held now.
    bool Commit();
    bool Holds() const { return !held_.empty(); }
    // Whether the last AppendChunk or Commit committed rows.
    bool Committed() const { return committed_; }
    // The port was lost or closed: the next reading starts a row of its own.
    void EndRun();
    qint64 LastSeq() const;

  private:
    std::unique_ptr<waga::journal::JournalDb> db_;
    std::unique_ptr<waga::journal::RowStore> store_;
    std::unique_ptr<JournalRuns> runs_;
    std::unique_ptr<JournalRuns> runsBeforeHeld_;
    std::vector<JournalOp> held_;
    int commitEveryMs_ = 0;
    QElapsedTimer lastCommit_;
    bool committed_ = false;
    bool open_ = false;
    QString error_;
};
