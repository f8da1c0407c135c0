#pragma once
// The journal's seal on the writer's side (its thread and connection): the seals and
// seal_head tables, the links of the rows a commit stored and the signed head (SealFormat.h).
//
// The chain runs over the rows of lines in seq order from the head's base to its head seq; each
// row of it has a row in seals (seq, the seq of the row before it in the chain, its link). A
// commit relinks the rows from the lowest seq it stored up to the highest (a grown row is
// relinked where it stands, and the rows after it with it) and signs a new head, one row in
// seal_head that replaces the last. Rows below the base were stored before sealing began, or
// while it could not be done: they are unsealed, and the head counts them. The retention's
// deletion of the oldest rows moves the base up and signs a head naming what the oldest kept
// row follows.

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "SealFormat.h"
#include "StationKey.h"

struct sqlite3;
struct sqlite3_stmt;

namespace waga::journal {

// The SQLite handle under Qt's connection; nullptr when it is not an open SQLite file.
sqlite3* SqliteHandle(const QSqlDatabase& db);
// The statement's columns from `first` on as the link's fields (valid until the next step).
void ReadSealFields(sqlite3_stmt* statement, int first, seal::Field (&fields)[seal::kColumns]);

class JournalSealer {
  public:
    JournalSealer();
    ~JournalSealer();

    // Reads the station's key at `path`, or makes it when there is none. A key that cannot be
    // read or made (rows are then stored unsealed) or that others may read is in `fault`; a new
    // key in `news`.
    void LoadKey(const QString& path, QString& fault, QString& news);
    bool HasKey() const { return key_.IsValid(); }
    const StationKey& Key() const { return key_; }

    // Creates the tables when missing and, with a key and no head yet, signs the head of an
    // empty chain above the rows the file holds (which stay unsealed). `notice` tells a head
    // signed with another key.
    bool Prepare(const QSqlDatabase& db, QSqlError& error, QString& notice);
    void Clear();

    // In the transaction that stored rows `lowest` to `highest`: their links and a new head.
    bool AfterStore(std::int64_t lowest, std::int64_t highest, QSqlError& error);
    // In the transaction that deleted old rows: the base moved up and a new head.
    bool AfterDelete(QSqlError& error);

  private:
    struct Statements;
    bool ReadHead(std::optional<seal::Head>& head, QSqlError& error);
    bool WriteHead(seal::Head& head, QSqlError& error);
    bool Relink(seal::Head& head, std::int64_t lowest, std::int64_t highest, QSqlError& error);
    bool Count(const char* sql, std::int64_t bound, std::int64_t& count, QSqlError& error);

    StationKey key_;
    std::unique_ptr<Statements> q_;
};

}  // namespace waga::journal
