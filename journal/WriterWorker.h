#pragma once
// The writer's half that lives on its thread (private to the journal library).

#include <QObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <memory>

#include "JournalFile.h"
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

  private:
    // The last text converted for a column that rarely changes (the unit, the port).
    struct CachedText {
        std::string utf8;
        QString text;
        const QString& For(const std::string& value) {
            if (value != utf8 || text.isNull()) {
                utf8 = value;
                text = QString::fromUtf8(value.data(), qsizetype(value.size()));
            }
            return text;
        }
    };

    bool OpenDb(QSqlError& error);
    void CloseDb();
    QString MoveAside();
    void RaiseFloor(std::int64_t floor);
    void Report(JournalFault fault, const QString& detail);
    void Fail(const QSqlError& error);
    bool Store(const std::vector<JournalOp>& ops, QSqlError& error);

    JournalWriter& owner_;
    QString connection_;
    bool open_ = false;
    bool retryPending_ = false;
    JournalFault reported_ = JournalFault::None;
    std::unique_ptr<QSqlQuery> insert_;
    std::unique_ptr<QSqlQuery> grow_;
    CachedText unit_;
    CachedText port_;
    QTimer* retention_ = nullptr;
};

}  // namespace waga::journal
