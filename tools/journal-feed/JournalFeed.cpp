#include "JournalFeed.h"

#include <QSqlError>
#include <cstdio>

#include "JournalFile.h"
#include "JournalRows.h"
#include "LinePipeline.h"

using waga::journal::JournalDb;
using waga::journal::RowStore;

JournalFeed::JournalFeed(const QString& path)
    : db_(std::make_unique<JournalDb>()),
      store_(std::make_unique<RowStore>()),
      runs_(std::make_unique<JournalRuns>()) {
    QSqlError error;
    std::optional<std::int64_t> highest, stray;
    QSqlDatabase db;
    if (db_->Open(path, waga::journal::JournalAccess::Writer)) {
        db = db_->Database();
        open_ =
            waga::journal::ReadSeqBounds(db, highest, stray, error) && store_->Prepare(db, error);
    } else {
        error = db_->LastError();
    }
    if (!open_) {
        error_ = error.text();
        return;
    }
    runs_ = std::make_unique<JournalRuns>(highest.value_or(0) + 1);
}

JournalFeed::~JournalFeed() {
    if (open_ && !Commit()) {
        std::fprintf(stderr, "journal-feed: the last rows held were not stored: %s\n",
                     qPrintable(error_));
    }
    store_.reset();
    db_.reset();
}

void JournalFeed::EndRun() {
    runs_->EndRun();
    // Also where a failed commit of what is held takes the numbers back to.
    if (runsBeforeHeld_) runsBeforeHeld_->EndRun();
}

qint64 JournalFeed::LastSeq() const { return runs_->NextSeq() - 1; }

bool JournalFeed::AppendChunk(const std::vector<FeedLine>& lines) {
    committed_ = false;
    if (!open_) return false;
    if (held_.empty()) runsBeforeHeld_ = std::make_unique<JournalRuns>(*runs_);
    const Win1250Text unit("kg");
    for (const FeedLine& line : lines) {
        const Win1250Text text(line.raw.toStdString());
        LineClass cls = ClassifyLine(text);
        cls.kind = line.reading ? LineKind::Reading : LineKind::Report;
        if (!line.reading) cls.value.reset();
        AppendOp(held_, runs_->Line(LineEvent{text, cls, unit, line.ms, pnCOM2}));
    }
    if (commitEveryMs_ > 0 && lastCommit_.isValid() && !lastCommit_.hasExpired(commitEveryMs_)) {
        return true;
    }
    return Commit();
}

bool JournalFeed::Commit() {
    committed_ = false;
    if (held_.empty()) return true;
    std::vector<RowStore::Numbered> numbered;
    numbered.reserve(held_.size());
    for (const JournalOp& op : held_) numbered.push_back({&op, op.row.seq});
    QSqlDatabase db = db_->Database();
    QSqlError error;
    committed_ = waga::journal::InWriteTransaction(
        db, error, [&](QSqlError& failure) { return store_->ApplyAll(numbered, failure); });
    held_.clear();
    if (!committed_) {
        *runs_ = *runsBeforeHeld_;
        error_ = error.text();
        return false;
    }
    lastCommit_.start();
    return true;
}
