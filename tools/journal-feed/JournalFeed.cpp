#include "JournalFeed.h"

#include <QSqlError>

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
    std::optional<std::int64_t> highest;
    QSqlDatabase db;
    if (db_->Open(path, waga::journal::JournalAccess::Writer)) {
        db = db_->Database();
        open_ = waga::journal::ReadHighestSeq(db, highest, error) && store_->Prepare(db, error);
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
    store_.reset();
    db_.reset();
}

void JournalFeed::EndRun() { runs_->EndRun(); }

qint64 JournalFeed::LastSeq() const { return runs_->NextSeq() - 1; }

bool JournalFeed::AppendChunk(const std::vector<FeedLine>& lines) {
    if (!open_) return false;
    const JournalRuns before = *runs_;
    const Win1250Text unit("kg");
    std::vector<JournalOp> ops;
    for (const FeedLine& line : lines) {
        const Win1250Text text(line.raw.toStdString());
        LineClass cls = ClassifyLine(text);
        cls.kind = line.reading ? LineKind::Reading : LineKind::Report;
        if (!line.reading) cls.value.reset();
        AppendOp(ops, runs_->Line(LineEvent{text, cls, unit, line.ms, pnCOM2}));
    }
    QSqlDatabase db = db_->Database();
    QSqlError error;
    if (waga::journal::InWriteTransaction(db, error, [&](QSqlError& failure) {
            for (const JournalOp& op : ops) {
                if (!store_->Apply(op, op.row.seq, failure)) return false;
            }
            return true;
        })) {
        return true;
    }
    *runs_ = before;
    error_ = error.text();
    return false;
}
