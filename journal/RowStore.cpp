#include "RowStore.h"

#include <sqlite3.h>

#include <QSqlDriver>
#include <QVariant>
#include <cstring>
#include <string>

#include "JournalTexts.h"

namespace waga::journal {

// The upsert is run through SQLite's own prepared statements on the connection Qt opened: binding
// ten values a row through Qt's query costs more than SQLite's whole insert. Rows go kGroupRows to
// a statement, which takes a third off SQLite's time a row; the rest go one by one.
namespace {
constexpr int kGroupRows = 32;
constexpr int kColumns = 10;
}  // namespace

struct RowStore::Statement {
    sqlite3* db = nullptr;
    sqlite3_stmt* one = nullptr;
    sqlite3_stmt* group = nullptr;
    ~Statement() {
        sqlite3_finalize(one);
        sqlite3_finalize(group);
    }
};

namespace {
QSqlError SqliteError(sqlite3* db, const QString& what) {
    return QSqlError(what, QString::fromUtf8(sqlite3_errmsg(db)), QSqlError::StatementError,
                     QString::number(sqlite3_extended_errcode(db)));
}

std::string UpsertSql(int rows) {
    std::string sql =
        "INSERT INTO lines(seq, kind, first_ms, last_ms, count, text, raw, value, unit, port)"
        " VALUES";
    for (int i = 0; i < rows; ++i)
        sql += i == 0 ? "(?,?,?,?,?,?,?,?,?,?)" : ",(?,?,?,?,?,?,?,?,?,?)";
    sql +=
        " ON CONFLICT(seq) DO UPDATE SET"
        " last_ms = max(last_ms, excluded.last_ms), count = max(count, excluded.count)"
        " WHERE kind = excluded.kind AND first_ms = excluded.first_ms AND raw = excluded.raw";
    return sql;
}

// Binds the row as the statement's values from `first` on; the strings stay the row's.
void BindRow(sqlite3_stmt* q, int first, const JournalRow& r, std::int64_t seq) {
    const std::string_view kind = JournalKindName(r.kind);
    const auto text = [&](int index, const std::string& value) {
        sqlite3_bind_text(q, first + index, value.data(), static_cast<int>(value.size()),
                          SQLITE_STATIC);
    };
    sqlite3_bind_int64(q, first, seq);
    sqlite3_bind_text(q, first + 1, kind.data(), static_cast<int>(kind.size()), SQLITE_STATIC);
    sqlite3_bind_int64(q, first + 2, r.firstMs);
    sqlite3_bind_int64(q, first + 3, r.lastMs);
    sqlite3_bind_int64(q, first + 4, r.count);
    text(5, r.text);
    // Never NULL: an empty line's bytes are an empty blob.
    sqlite3_bind_blob(q, first + 6, r.raw.empty() ? "" : r.raw.data(),
                      static_cast<int>(r.raw.size()), SQLITE_STATIC);
    if (r.value) {
        sqlite3_bind_double(q, first + 7, *r.value);
    } else {
        sqlite3_bind_null(q, first + 7);
    }
    text(8, r.unit);
    text(9, r.port);
}

// Runs the bound statement for the rows `first` to `last`; the rows it changed, or -1 when it
// failed (`error` says why, naming them).
int Step(sqlite3* db, sqlite3_stmt* q, std::int64_t first, std::int64_t last, QSqlError& error) {
    const int step = sqlite3_step(q);
    const int changes = sqlite3_changes(db);
    if (step != SQLITE_DONE) {
        error = SqliteError(db, first == last ? QStringLiteral("seq %1").arg(first)
                                              : QStringLiteral("seq %1–%2").arg(first).arg(last));
    }
    sqlite3_reset(q);
    sqlite3_clear_bindings(q);  // nothing bound stays pointing at the rows' strings
    return step == SQLITE_DONE ? changes : -1;
}
}  // namespace

RowStore::RowStore() = default;
RowStore::~RowStore() = default;

bool RowStore::Prepare(const QSqlDatabase& db, QSqlError& error) {
    Clear();
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0 ||
        *static_cast<sqlite3* const*>(handle.constData()) == nullptr) {
        error = QSqlError(QStringLiteral("dziennik"),
                          QStringLiteral("połączenie nie jest otwartym plikiem SQLite"),
                          QSqlError::ConnectionError);
        return false;
    }
    auto statement = std::make_unique<Statement>();
    statement->db = *static_cast<sqlite3* const*>(handle.constData());
    for (auto [rows, target] : {std::pair{1, &statement->one}, {kGroupRows, &statement->group}}) {
        if (sqlite3_prepare_v3(statement->db, UpsertSql(rows).c_str(), -1,
                               SQLITE_PREPARE_PERSISTENT, target, nullptr) != SQLITE_OK) {
            error = SqliteError(statement->db, QStringLiteral("prepare"));
            return false;
        }
    }
    statement_ = std::move(statement);
    return true;
}

bool RowStore::Apply(const JournalOp& op, std::int64_t seq, QSqlError& error) {
    BindRow(statement_->one, 1, op.row, seq);
    const int changes = Step(statement_->db, statement_->one, seq, seq, error);
    if (changes < 0) return false;
    if (changes == 1) return true;
    error =
        QSqlError(QStringLiteral("seq %1").arg(seq), QStringLiteral("the seq holds another line"),
                  QSqlError::StatementError, QLatin1String(kConflictCode));
    return false;
}

bool RowStore::ApplyAll(std::span<const Numbered> ops, QSqlError& error) {
    std::size_t done = 0;
    for (; ops.size() - done >= kGroupRows; done += kGroupRows) {
        const auto group = ops.subspan(done, kGroupRows);
        for (int i = 0; i < kGroupRows; ++i) {
            BindRow(statement_->group, 1 + i * kColumns, group[i].op->row, group[i].seq);
        }
        const int changes =
            Step(statement_->db, statement_->group, group.front().seq, group.back().seq, error);
        if (changes < 0) return false;
        if (changes == kGroupRows) continue;
        // A seq of the group holds another line: one by one, its rows already in change nothing
        // and the refused one is named.
        for (const Numbered& n : group) {
            if (!Apply(*n.op, n.seq, error)) return false;
        }
    }
    for (const Numbered& n : ops.subspan(done)) {
        if (!Apply(*n.op, n.seq, error)) return false;
    }
    return true;
}

void RowStore::Clear() { statement_.reset(); }

}  // namespace waga::journal
