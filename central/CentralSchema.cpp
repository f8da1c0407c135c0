#include "CentralSchema.h"

#include <optional>
#include <vector>

#include "CentralTexts.h"

namespace central {

namespace {

// One value of a one-row query; nullopt with `cause` on an error.
std::optional<QByteArray> Single(PgLink& link, const char* sql, PgDeadline deadline,
                                 QString& cause) {
    std::vector<PgResult> results;
    if (link.Exec(sql, results, deadline) != PgWait::Done) {
        cause = QueryFailureCause(link.ErrorState(), link.Error());
        return std::nullopt;
    }
    if (results.size() != 1 || !results[0].Ok() || results[0].Rows() != 1) {
        cause = results.empty()
                    ? QStringLiteral("brak odpowiedzi serwera")
                    : QueryFailureCause(results.back().SqlState(), results.back().Message());
        return std::nullopt;
    }
    return results[0].Value(0, 0);
}

}  // namespace

bool EnsureCentralSchema(PgLink& link, PgDeadline deadline, QString& cause) {
    const auto there =
        Single(link, "SELECT to_regclass('schema_version') IS NOT NULL", deadline, cause);
    if (!there) return false;
    std::optional<QByteArray> text = QByteArray("0");
    if (*there == "t") {
        text =
            Single(link, "SELECT coalesce(max(version), 0) FROM schema_version", deadline, cause);
        if (!text) return false;
    }
    bool number = false;
    const int version = QString::fromUtf8(*text).toInt(&number);
    if (!number) {
        cause = QStringLiteral("serwer podał wersję schematu, która nie jest liczbą");
        return false;
    }
    if (version == kCentralSchemaVersion) return true;
    if (version == 0) {
        cause = QStringLiteral(
            "brak schematu bazy: administrator tworzy go plikami schema.sql i roles.sql "
            "(doc/central-server.md)");
    } else if (version < kCentralSchemaVersion) {
        cause = QStringLiteral(
                    "schemat bazy ma wersję %1, starszą niż zna program (%2): administrator "
                    "przenosi bazę plikiem migrate-%2.sql (doc/central-server.md)")
                    .arg(version)
                    .arg(kCentralSchemaVersion);
    } else {
        cause = QStringLiteral("schemat bazy ma wersję %1, nowszą niż zna program (%2)")
                    .arg(version)
                    .arg(kCentralSchemaVersion);
    }
    return false;
}

}  // namespace central
