#include "StartCheck.h"

#include <sqlite3.h>

#include <QSqlDriver>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <cstring>

#include "JournalConnection.h"
#include "JournalTexts.h"

namespace waga::journal {

namespace {
constexpr int kFindingsTold = 3;
}

StartCheck::StartCheck(QString path, std::function<void(const QString& found)> damaged)
    : thread_(
          [this, path = std::move(path), damaged = std::move(damaged)] { Run(path, damaged); }) {}

StartCheck::~StartCheck() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (running_) sqlite3_interrupt(running_);
    }
    thread_.join();
}

void StartCheck::Run(const QString& path, const std::function<void(const QString&)>& damaged) {
    QStringList findings;
    bool interrupted = false;
    {
        JournalDb db;
        if (!db.Open(path, JournalAccess::Reader)) {
            // A file that is not a database fails here, as it does for the writer, which tells it.
            return;
        }
        const QVariant handle = db.Database().driver()->handle();
        sqlite3* connection = nullptr;
        if (handle.isValid() && std::strcmp(handle.typeName(), "sqlite3*") == 0) {
            connection = *static_cast<sqlite3* const*>(handle.constData());
        }
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            running_ = connection;
        }
        {
            QSqlQuery query(db.Database());
            query.setForwardOnly(true);
            if (query.exec(QStringLiteral("PRAGMA quick_check(%1)").arg(kFindingsTold))) {
                while (query.next()) {
                    const QString row = query.value(0).toString();
                    // "*** in database main ***" only heads the findings.
                    if (row != QLatin1String("ok") && !row.startsWith(QLatin1String("***"))) {
                        findings << row;
                    }
                }
            }
            const QSqlError error = query.lastError();
            if (error.isValid()) {
                interrupted = error.nativeErrorCode().toInt() == SQLITE_INTERRUPT ||
                              error.databaseText().contains(QLatin1String("interrupt"));
                if (ClassifySqlError(error) == JournalFault::Damaged) {
                    findings << error.databaseText();
                }
            }
        }
        std::lock_guard lock(mutex_);
        running_ = nullptr;
        interrupted = interrupted || stopping_;
    }
    if (interrupted || findings.isEmpty()) return;
    damaged(findings.mid(0, kFindingsTold).join(QStringLiteral("; ")));
}

}  // namespace waga::journal
