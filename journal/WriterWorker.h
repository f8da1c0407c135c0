#pragma once
// The writer's half that lives on its thread (private to the journal library).

#include <QElapsedTimer>
#include <QObject>
#include <QSqlError>
#include <QTimer>
#include <array>
#include <optional>

#include "JournalFile.h"
#include "JournalSeal.h"
#include "JournalWriter.h"

namespace waga::journal {

class WriterWorker : public QObject {
    Q_OBJECT
  public:
    explicit WriterWorker(JournalWriter& owner);
    ~WriterWorker() override;

    std::int64_t Open();
    void Drain();
    void Finish();
    void DeleteOld();
    // The check at start found the file damaged: told until the run ends.
    void Damaged(const QString& found);
    // The start's check of the seal found `text` (empty: intact).
    void TellChain(const QString& text) { SetCause(kChain, text); }
    // The station's key as the writer loaded it (Open).
    const StationKey& Key() const { return sealer_.Key(); }

  private:
    // What the notice tells, each kept until it clears or is replaced: a failed write, the
    // mark, news of the run (a file moved aside, numbers moved up), a row numbered out of range,
    // what the check at start found, the station's key and the start's check of the seal.
    enum Cause { kWrite, kMark, kNews, kStray, kCheck, kSeal, kChain, kCauses };

    bool OpenDb(QSqlError& error);
    void CloseDb();
    // Renames a damaged file (with its log) to <name>.uszkodzony-<time>; the new name.
    std::optional<QString> MoveAside(const QString& path, QString& error);
    void SetCause(Cause cause, const QString& text);
    void Fail(const QSqlError& error);
    bool Store(const std::vector<const std::vector<JournalOp>*>& batches, QSqlError& error);
    // The number a row handed out as `seq` is stored under.
    std::int64_t Stored(std::int64_t seq) const { return seq >= first_ ? seq + shift_ : seq; }
    // Moves the mark a block above `highest` when `highest` reached it.
    bool MarkAbove(std::int64_t highest, QString& error);
    void LoadUnsaved();
    // Stores the queue's front batch, with the ordinary batches queued after it, in one
    // transaction, and takes them off the queue.
    bool StoreFront(QSqlError& error);
    void KeepUnsaved(const QSqlError& cause);

    JournalWriter& owner_;
    JournalDb db_;
    RowStore store_;
    JournalSealer sealer_;
    std::vector<RowStore::Numbered> numbered_;  // kept between stores: no allocation a commit
    bool retryPending_ = false;
    QElapsedTimer lastCommit_;
    std::array<QString, kCauses> causes_;
    QString shown_;
    QTimer* retention_ = nullptr;
    std::int64_t first_ = 0;  // the run's first seq (0 until Start)
    std::int64_t shift_ = 0;  // added to the run's numbers when the file held higher ones
    bool verified_ = false;   // the file's highest seq was read
    std::optional<std::int64_t> fileHighest_;
    std::int64_t mark_ = 0;  // the mark as last written; stored rows stay below it
};

}  // namespace waga::journal
