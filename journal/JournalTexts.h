#pragma once
// What a failure of the journal means for the operator, in one set of Polish texts: the writer's
// notice (after "Dziennik: " in the status bar's tooltip and on standard error), the close's
// causes, and what a reader (the weight service, the central upload, waga-journal) tells.

#include <QSqlError>
#include <QString>
#include <cstdint>

namespace waga::journal {

// Why the journal cannot be written or read.
enum class JournalFault : std::uint8_t {
    None,
    DiskFull,
    ReadOnly,
    Locked,
    Damaged,
    Conflict,
    Refused,  // one of its files is a link, a folder or no plain file (OwnFile.h)
    Other
};

// The native codes the journal gives its own refusals (QSqlError::nativeErrorCode).
inline constexpr char kConflictCode[] = "waga-seq-conflict";
inline constexpr char kRefusedCode[] = "waga-file-refused";

JournalFault ClassifySqlError(const QSqlError& error);
// The writer's notice for `fault`: `detail` is the file moved aside (Damaged), the seq
// (Conflict), the refusal (Refused) or the error's text (Other).
QString FaultText(JournalFault fault, const QString& detail);
// The writer's notice when the check at start (StartCheck.h) found the file damaged: what SQLite
// found, and what it means.
QString DamageFoundText(const QString& found);
// The same in a few words, for the close's lines on standard error.
QString ShortFaultText(const QSqlError& error);
// A reader's text: "dziennik: ", what failed (`doing`, when given), the cause in Polish and
// SQLite's own words after it.
QString JournalErrorText(const QSqlError& error, const QString& doing = {});

// One line "<program>: Dziennik: <text>" on standard error, for what happens where no window
// can show it (the close).
void TellOnStandardError(const QString& text);

}  // namespace waga::journal
