#pragma once
// The journal's tables (lines, upload_state, schema_version) and the one mapping between a row of
// lines and a JournalRow.

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <cstdint>

#include "JournalRows.h"

class QSqlQuery;

namespace waga::journal {

// Creates the tables when missing, in one write transaction.
bool CreateJournalTables(QSqlDatabase& db, QSqlError& error);

// The columns a query selects, in this order, for RowFromQuery: the whole row, or what a plot
// needs (the times, the count and the value; the kind is the query's condition).
enum class RowColumns : std::uint8_t { All, Span };
QString ColumnList(RowColumns columns);
// Makes `row` of the query's current row. A row that does not make sense (a seq outside
// 1..kMaxSeq, a kind the journal does not know, NULL or a value of another type where the table
// has none, a count below one, a value that is not a finite number) is not changed into one that
// does: false, with `problem` in Polish naming the row and the column. For Span, `row.kind` is
// left as the caller set it.
bool RowFromQuery(const QSqlQuery& query, RowColumns columns, JournalRow& row, QString& problem);

}  // namespace waga::journal
