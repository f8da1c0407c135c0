#include "JournalSeal.h"

#include <sqlite3.h>

#include <QSqlDriver>
#include <QVariant>
#include <cstring>
#include <string>

#include "JournalFile.h"

namespace waga::journal {

namespace {
constexpr const char* kTables[] = {
    "CREATE TABLE IF NOT EXISTS seals(seq INTEGER PRIMARY KEY, prev_seq INTEGER NOT NULL,"
    " link BLOB NOT NULL)",
    "CREATE TABLE IF NOT EXISTS seal_head(id INTEGER PRIMARY KEY CHECK(id = 1),"
    " version INTEGER NOT NULL, public_key BLOB NOT NULL, base_seq INTEGER NOT NULL,"
    " base_prev_seq INTEGER NOT NULL, base_prev BLOB NOT NULL, head_seq INTEGER NOT NULL,"
    " head_link BLOB NOT NULL, unsealed INTEGER NOT NULL, signed_ms INTEGER NOT NULL,"
    " signature BLOB NOT NULL)",
};

QSqlError Failure(sqlite3* db, const char* what) {
    return QSqlError(QStringLiteral("pieczęć dziennika (%1)").arg(QLatin1String(what)),
                     QString::fromUtf8(sqlite3_errmsg(db)), QSqlError::StatementError,
                     QString::number(sqlite3_extended_errcode(db)));
}

struct Resetter {
    sqlite3_stmt* s;
    ~Resetter() {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
};

bool DigestColumn(sqlite3_stmt* s, int column, seal::Digest& out) {
    if (sqlite3_column_type(s, column) != SQLITE_BLOB ||
        sqlite3_column_bytes(s, column) != int(out.size())) {
        return false;
    }
    std::memcpy(out.data(), sqlite3_column_blob(s, column), out.size());
    return true;
}

void BindDigest(sqlite3_stmt* s, int index, const seal::Digest& d) {
    sqlite3_bind_blob(s, index, d.data(), int(d.size()), SQLITE_TRANSIENT);
}
}  // namespace

// A prepared statement reset after each use.
class SealStatement {
  public:
    SealStatement() = default;
    ~SealStatement() { sqlite3_finalize(s_); }
    SealStatement(const SealStatement&) = delete;
    SealStatement& operator=(const SealStatement&) = delete;
    bool Prepare(sqlite3* db, const char* sql) {
        return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s_, nullptr) ==
               SQLITE_OK;
    }
    sqlite3_stmt* operator*() const { return s_; }

  private:
    sqlite3_stmt* s_ = nullptr;
};

sqlite3* SqliteHandle(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0) return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

void ReadSealFields(sqlite3_stmt* s, int first, seal::Field (&fields)[seal::kColumns]) {
    for (int i = 0; i < seal::kColumns; ++i) {
        seal::Field& f = fields[i];
        const int column = first + i;
        f.bytes = {};
        switch (sqlite3_column_type(s, column)) {
            case SQLITE_INTEGER:
                f.type = seal::Field::Type::Integer;
                f.integer = sqlite3_column_int64(s, column);
                break;
            case SQLITE_FLOAT:
                f.type = seal::Field::Type::Real;
                f.real = sqlite3_column_double(s, column);
                break;
            case SQLITE_TEXT: {
                f.type = seal::Field::Type::Text;
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
                f.bytes = std::string_view(text ? text : "",
                                           std::size_t(sqlite3_column_bytes(s, column)));
                break;
            }
            case SQLITE_BLOB: {
                f.type = seal::Field::Type::Blob;
                const auto* blob = static_cast<const char*>(sqlite3_column_blob(s, column));
                f.bytes = std::string_view(blob ? blob : "",
                                           std::size_t(sqlite3_column_bytes(s, column)));
                break;
            }
            default:
                f.type = seal::Field::Type::Null;
                break;
        }
    }
}

struct JournalSealer::Statements {
    sqlite3* db = nullptr;
    SealStatement head, setHead, previous, rows, put;
    std::string scratch;
};

JournalSealer::JournalSealer() = default;
JournalSealer::~JournalSealer() = default;

void JournalSealer::LoadKey(const QString& path, QString& fault, QString& news) {
    bool created = false;
    QString error;
    news.clear();
    if (!key_.LoadOrCreate(path, created, error, fault)) {
        fault = error + QStringLiteral(" Wiersze są zapisywane bez pieczęci.");
        return;
    }
    if (created) {
        news = QStringLiteral("Utworzono nowy klucz stacji %1 (odcisk %2).")
                   .arg(path, FingerprintText(key_.Fingerprint()));
    }
}

void JournalSealer::Clear() { q_.reset(); }

bool JournalSealer::Prepare(const QSqlDatabase& database, QSqlError& error, QString& notice) {
    Clear();
    sqlite3* db = SqliteHandle(database);
    if (db == nullptr) {
        error = QSqlError(QStringLiteral("dziennik"),
                          QStringLiteral("połączenie nie jest otwartym plikiem SQLite"),
                          QSqlError::ConnectionError);
        return false;
    }
    for (const char* sql : kTables) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            error = Failure(db, "tabele");
            return false;
        }
    }
    auto q = std::make_unique<Statements>();
    q->db = db;
    const bool prepared =
        q->head.Prepare(db,
                        "SELECT public_key, base_seq, base_prev_seq, base_prev, head_seq,"
                        " head_link, unsealed FROM seal_head WHERE id = 1") &&
        q->setHead.Prepare(db,
                           "INSERT OR REPLACE INTO seal_head(id, version, public_key, base_seq,"
                           " base_prev_seq, base_prev, head_seq, head_link, unsealed, signed_ms,"
                           " signature) VALUES(1, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)") &&
        q->previous.Prepare(db,
                            "SELECT seq, link FROM seals WHERE seq < ? AND seq >= ?"
                            " ORDER BY seq DESC LIMIT 1") &&
        q->rows.Prepare(db, (std::string("SELECT ") + seal::kColumnList +
                             " FROM lines WHERE seq >= ? AND seq <= ? ORDER BY seq")
                                .c_str()) &&
        q->put.Prepare(db, "INSERT OR REPLACE INTO seals(seq, prev_seq, link) VALUES(?, ?, ?)");
    if (!prepared) {
        error = Failure(db, "prepare");
        return false;
    }
    q_ = std::move(q);
    std::optional<seal::Head> head;
    if (!ReadHead(head, error)) return false;
    notice.clear();
    if (!key_.IsValid()) return true;
    if (head && head->fingerprint != key_.Fingerprint()) {
        notice = QStringLiteral(
                     "Pieczęć dziennika podpisał inny klucz (odcisk %1); od teraz "
                     "podpisuje ją klucz tej stacji (odcisk %2).")
                     .arg(FingerprintText(head->fingerprint), FingerprintText(key_.Fingerprint()));
    }
    if (head) return true;
    // Sealing begins: an empty chain above every row the file holds.
    QSqlDatabase handle = database;
    return InWriteTransaction(handle, error, [&](QSqlError& failure) {
        seal::Head first;
        std::int64_t highest = 0;
        if (!Count("SELECT count(*) FROM lines WHERE seq < ?", INT64_MAX, first.unsealed,
                   failure) ||
            !Count("SELECT coalesce(max(seq), 0) FROM lines WHERE seq < ?", INT64_MAX, highest,
                   failure)) {
            return false;
        }
        first.baseSeq = highest + 1;
        first.headSeq = highest;
        return WriteHead(first, failure);
    });
}

bool JournalSealer::Count(const char* sql, std::int64_t bound, std::int64_t& count,
                          QSqlError& error) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(q_->db, sql, -1, &s, nullptr) != SQLITE_OK) {
        error = Failure(q_->db, "count");
        return false;
    }
    sqlite3_bind_int64(s, 1, bound);
    const bool ok = sqlite3_step(s) == SQLITE_ROW;
    if (ok) count = sqlite3_column_int64(s, 0);
    if (!ok) error = Failure(q_->db, "count");
    sqlite3_finalize(s);
    return ok;
}

bool JournalSealer::ReadHead(std::optional<seal::Head>& head, QSqlError& error) {
    head.reset();
    sqlite3_stmt* s = *q_->head;
    Resetter reset{s};
    const int step = sqlite3_step(s);
    if (step == SQLITE_DONE) return true;
    seal::Head h;
    seal::PublicKey key{};
    if (step != SQLITE_ROW || sqlite3_column_bytes(s, 0) != int(key.size())) {
        error = Failure(q_->db, "seal_head");
        return false;
    }
    std::memcpy(key.data(), sqlite3_column_blob(s, 0), key.size());
    h.fingerprint = seal::Fingerprint(key);
    h.baseSeq = sqlite3_column_int64(s, 1);
    h.basePrevSeq = sqlite3_column_int64(s, 2);
    h.headSeq = sqlite3_column_int64(s, 4);
    h.unsealed = sqlite3_column_int64(s, 6);
    if (!DigestColumn(s, 3, h.basePrevious) || !DigestColumn(s, 5, h.headLink)) {
        error = QSqlError(QStringLiteral("pieczęć dziennika"),
                          QStringLiteral("nagłówek pieczęci jest uszkodzony"),
                          QSqlError::StatementError);
        return false;
    }
    head = h;
    return true;
}

bool JournalSealer::WriteHead(seal::Head& head, QSqlError& error) {
    head.fingerprint = key_.Fingerprint();
    head.signedMs = UtcNowUs() / 1000;
    const seal::Signature signature = key_.Sign(seal::HeadMessage(head));
    sqlite3_stmt* s = *q_->setHead;
    Resetter reset{s};
    sqlite3_bind_int(s, 1, seal::kVersion);
    sqlite3_bind_blob(s, 2, key_.Public().data(), int(key_.Public().size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 3, head.baseSeq);
    sqlite3_bind_int64(s, 4, head.basePrevSeq);
    BindDigest(s, 5, head.basePrevious);
    sqlite3_bind_int64(s, 6, head.headSeq);
    BindDigest(s, 7, head.headLink);
    sqlite3_bind_int64(s, 8, head.unsealed);
    sqlite3_bind_int64(s, 9, head.signedMs);
    sqlite3_bind_blob(s, 10, signature.data(), int(signature.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(s) == SQLITE_DONE) return true;
    error = Failure(q_->db, "seal_head");
    return false;
}

bool JournalSealer::Relink(seal::Head& head, std::int64_t lowest, std::int64_t highest,
                           QSqlError& error) {
    std::int64_t prevSeq = head.basePrevSeq;
    seal::Digest prev = head.basePrevious;
    {
        sqlite3_stmt* s = *q_->previous;
        Resetter reset{s};
        sqlite3_bind_int64(s, 1, lowest);
        sqlite3_bind_int64(s, 2, head.baseSeq);
        const int step = sqlite3_step(s);
        if (step == SQLITE_ROW) {
            prevSeq = sqlite3_column_int64(s, 0);
            if (!DigestColumn(s, 1, prev)) {
                // A damaged link below: the chain goes on from it as it is found.
                prev = seal::Sha256(
                    std::string_view(static_cast<const char*>(sqlite3_column_blob(s, 1)),
                                     std::size_t(sqlite3_column_bytes(s, 1))));
            }
        } else if (step != SQLITE_DONE) {
            error = Failure(q_->db, "seals");
            return false;
        }
    }
    sqlite3_stmt* rows = *q_->rows;
    sqlite3_stmt* put = *q_->put;
    Resetter resetRows{rows};
    sqlite3_bind_int64(rows, 1, lowest);
    sqlite3_bind_int64(rows, 2, highest);
    seal::Field fields[seal::kColumns];
    int step;
    bool walked = false;
    while ((step = sqlite3_step(rows)) == SQLITE_ROW) {
        walked = true;
        const std::int64_t seq = sqlite3_column_int64(rows, 0);
        ReadSealFields(rows, 0, fields);
        const seal::Digest link = seal::Link(prev, prevSeq, fields, q_->scratch);
        Resetter resetPut{put};
        sqlite3_bind_int64(put, 1, seq);
        sqlite3_bind_int64(put, 2, prevSeq);
        BindDigest(put, 3, link);
        if (sqlite3_step(put) != SQLITE_DONE) {
            error = Failure(q_->db, "seals");
            return false;
        }
        prevSeq = seq;
        prev = link;
    }
    if (step != SQLITE_DONE) {
        error = Failure(q_->db, "lines");
        return false;
    }
    // The walk ends at the chain's newest row: it is the head (also when the newest rows went).
    if (walked) {
        head.headSeq = prevSeq;
        head.headLink = prev;
    }
    return true;
}

bool JournalSealer::AfterStore(std::int64_t lowest, std::int64_t highest, QSqlError& error) {
    if (!key_.IsValid() || !q_) return true;
    std::optional<seal::Head> found;
    if (!ReadHead(found, error)) return false;
    seal::Head head = found.value_or(seal::Head{});
    if (!found || head.headSeq < head.baseSeq) {
        // The chain's first row.
        if (!found &&
            !Count("SELECT count(*) FROM lines WHERE seq < ?", lowest, head.unsealed, error)) {
            return false;
        }
        head.baseSeq = lowest;
    } else if (lowest < head.baseSeq) {
        // A row below the chain (kept at a close and stored by a later start): the chain
        // starts afresh from it.
        head.baseSeq = lowest;
        head.basePrevSeq = 0;
        head.basePrevious = {};
        if (!Count("SELECT count(*) FROM lines WHERE seq < ?", lowest, head.unsealed, error)) {
            return false;
        }
    }
    // A row stored below the head relinks the rows after it up to the head.
    if (!Relink(head, lowest, std::max(highest, head.headSeq), error)) return false;
    return WriteHead(head, error);
}

bool JournalSealer::AfterDelete(QSqlError& error) {
    if (!key_.IsValid() || !q_) return true;
    std::optional<seal::Head> found;
    if (!ReadHead(found, error)) return false;
    if (!found) return true;
    seal::Head head = *found;
    if (head.headSeq >= head.baseSeq) {
        std::int64_t kept = 0, sealed = 0, first = 0;
        if (!Count("SELECT coalesce(min(seq), 0) FROM lines WHERE seq >= ?", head.baseSeq, first,
                   error)) {
            return false;
        }
        if (first == 0 || first > head.headSeq) {
            // Every sealed row went: the next row follows the last one.
            head.basePrevSeq = head.headSeq;
            head.basePrevious = head.headLink;
            head.baseSeq = head.headSeq + 1;
            if (sqlite3_exec(q_->db, "DELETE FROM seals", nullptr, nullptr, nullptr) != SQLITE_OK) {
                error = Failure(q_->db, "seals");
                return false;
            }
        } else if (first > head.baseSeq) {
            // The oldest rows went: the base is the oldest kept row, as it follows the last
            // deleted one.
            sqlite3_stmt* s = nullptr;
            sqlite3_prepare_v2(q_->db,
                               "SELECT b.prev_seq, p.link FROM seals b JOIN seals p"
                               " ON p.seq = b.prev_seq WHERE b.seq = ?",
                               -1, &s, nullptr);
            sqlite3_bind_int64(s, 1, first);
            const bool linked = s != nullptr && sqlite3_step(s) == SQLITE_ROW &&
                                DigestColumn(s, 1, head.basePrevious);
            if (linked) head.basePrevSeq = sqlite3_column_int64(s, 0);
            sqlite3_finalize(s);
            head.baseSeq = first;
            if (!linked) {
                head.basePrevSeq = 0;
                head.basePrevious = {};
            }
            sqlite3_stmt* d = nullptr;
            sqlite3_prepare_v2(q_->db, "DELETE FROM seals WHERE seq < ?", -1, &d, nullptr);
            sqlite3_bind_int64(d, 1, first);
            const bool deleted = d != nullptr && sqlite3_step(d) == SQLITE_DONE;
            sqlite3_finalize(d);
            if (!deleted) {
                error = Failure(q_->db, "seals");
                return false;
            }
            if (!linked && !Relink(head, first, head.headSeq, error)) return false;
        }
        // Rows deleted inside the chain (a clock set back makes older times later): the seals
        // of the gone rows go and the chain is relinked from its base.
        if (head.headSeq >= head.baseSeq && (!Count("SELECT count(*) FROM lines WHERE seq >= ?"
                                                    " AND seq <= (SELECT head_seq FROM seal_head)",
                                                    head.baseSeq, kept, error) ||
                                             !Count("SELECT count(*) FROM seals WHERE seq >= ?"
                                                    " AND seq <= (SELECT head_seq FROM seal_head)",
                                                    head.baseSeq, sealed, error))) {
            return false;
        }
        if (kept != sealed) {
            if (sqlite3_exec(q_->db, "DELETE FROM seals WHERE seq NOT IN (SELECT seq FROM lines)",
                             nullptr, nullptr, nullptr) != SQLITE_OK) {
                error = Failure(q_->db, "seals");
                return false;
            }
            if (!Relink(head, head.baseSeq, head.headSeq, error)) return false;
        }
    }
    if (!Count("SELECT count(*) FROM lines WHERE seq < ?", head.baseSeq, head.unsealed, error)) {
        return false;
    }
    return WriteHead(head, error);
}

}  // namespace waga::journal
