#pragma once
// The writer's store of row operations in the lines table.

#include <QSqlDatabase>
#include <QSqlError>
#include <cstdint>
#include <memory>
#include <span>

#include "JournalRows.h"

namespace waga::journal {

// Stores row operations on one connection, with prepared statements: a row is inserted, or,
// when its seq is there already as the same line (kind, first time and bytes), its count and last
// time grow to the operation's. Storing an operation twice therefore changes nothing, and a seq
// held by another line is refused (never merged), with the seq in the error.
class RowStore {
  public:
    // An operation and the number its row is stored under.
    struct Numbered {
        const JournalOp* op;
        std::int64_t seq;
    };

    RowStore();
    ~RowStore();
    bool Prepare(const QSqlDatabase& db, QSqlError& error);
    bool Apply(const JournalOp& op, std::int64_t seq, QSqlError& error);
    // Each operation in order, as Apply would, several rows to a statement. After a refusal the
    // earlier rows may be stored: the caller's transaction is rolled back.
    bool ApplyAll(std::span<const Numbered> ops, QSqlError& error);
    void Clear();

  private:
    struct Statement;
    std::unique_ptr<Statement> statement_;
};

}  // namespace waga::journal
