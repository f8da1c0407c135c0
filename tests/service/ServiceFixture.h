#pragma once
// The weight service as the program runs it, in a test: a real LinePipeline fed with bytes, the
// journal's sink numbering the lines (without storage), a stand-in journal that commits its rows
// to a real dziennik.sqlite when the test says so (as the journal's writer thread would), and
// the service with its server on its own thread, listening on a free loopback port.

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>
#include <memory>
#include <string>
#include <vector>

#include "JournalRows.h"
#include "JournalSink.h"
#include "LinePipeline.h"
#include "TestSupport.h"
#include "WeightService.h"

namespace waga::test {

// Keeps the rows the numbering gave, and hands each line on to the service's sink.
class StandInJournal final : public INumberedLineSink {
  public:
    explicit StandInJournal(std::string path) : path_(std::move(path)) {}
    ~StandInJournal() override {
        if (QSqlDatabase::contains(name_)) {
            { QSqlDatabase::database(name_).close(); }
            QSqlDatabase::removeDatabase(name_);
        }
    }
    void CreateFile() {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name_);
        db.setDatabaseName(QString::fromStdString(path_));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("PRAGMA journal_mode=WAL"));
        ASSERT_TRUE(q.exec("CREATE TABLE schema_version(version INTEGER NOT NULL)"));
        ASSERT_TRUE(q.exec("INSERT INTO schema_version VALUES(1)"));
        ASSERT_TRUE(q.exec(
            "CREATE TABLE lines(seq INTEGER PRIMARY KEY, kind TEXT NOT NULL, first_ms INTEGER NOT "
            "NULL, last_ms INTEGER NOT NULL, count INTEGER NOT NULL, text TEXT NOT NULL, raw BLOB "
            "NOT NULL, value REAL, unit TEXT NOT NULL, port TEXT NOT NULL)"));
    }
    // Writes the rows not yet in the file (and the grown last row) in one transaction.
    void Commit() {
        QSqlDatabase db = QSqlDatabase::database(name_);
        db.transaction();
        for (const Row& row : rows_) {
            QSqlQuery q(db);
            q.prepare("INSERT OR REPLACE INTO lines VALUES(?,?,?,?,?,?,?,?,?,?)");
            for (const QVariant& v :
                 {QVariant(row.seq), QVariant(row.kind), QVariant(row.firstMs),
                  QVariant(row.lastMs), QVariant(row.count), QVariant(row.text), QVariant(row.raw),
                  row.value, QVariant(row.unit), QVariant(QStringLiteral("COM2"))}) {
                q.addBindValue(v);
            }
            ASSERT_TRUE(q.exec());
        }
        db.commit();
        if (!rows_.empty()) rows_.erase(rows_.begin(), rows_.end() - 1);  // the last may grow
    }
    void Execute(const QString& sql) {
        QSqlQuery q(QSqlDatabase::database(name_));
        ASSERT_TRUE(q.exec(sql)) << sql.toStdString();
    }

    void SetNext(INumberedLineSink* next) { next_ = next; }

    void OnNumberedLine(const LineEvent& event, std::int64_t seq, bool grew) override {
        if (grew && !rows_.empty() && rows_.back().seq == seq) {
            ++rows_.back().count;
            rows_.back().lastMs = event.receivedUtcMs;
        } else {
            Row row;
            row.seq = seq;
            row.kind = event.cls.kind == LineKind::Reading ? "reading" : "report";
            row.firstMs = row.lastMs = event.receivedUtcMs;
            const std::string utf8 = Win1250ToUtf8(event.line.Shown());
            row.text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
            row.raw = QByteArray::fromStdString(event.line.Bytes());
            if (event.cls.value) row.value = *event.cls.value;
            row.unit = QString::fromLatin1(QByteArray::fromStdString(event.unit.Bytes()));
            rows_.push_back(row);
        }
        if (next_) next_->OnNumberedLine(event, seq, grew);
    }
    void OnNumberedPortState(const PortStateEvent& event, std::int64_t seq) override {
        if (next_) next_->OnNumberedPortState(event, seq);
    }

  private:
    struct Row {
        qint64 seq = 0;
        QString kind;
        qint64 firstMs = 0, lastMs = 0, count = 1;
        QString text;
        QByteArray raw;
        QVariant value;
        QString unit;
    };
    std::string path_;
    QString name_ = QStringLiteral("stand-in-journal");
    std::vector<Row> rows_;
    INumberedLineSink* next_ = nullptr;
};

class ServiceFixture : public ::testing::Test {
  protected:
    void SetUp() override { journal_.CreateFile(); }

    void StartService(ServiceSettings settings = {}, WeightServerOptions options = {}) {
        if (!numbering_) {
            // The journal's rule without storage: from 1 as a new journal, or, as the station
            // with the journal off, from the clock.
            numbering_ = journalOff_ ? std::make_unique<waga::journal::JournalSink>()
                                     : std::make_unique<waga::journal::JournalSink>(1);
            pipeline_.Subscribe(numbering_.get());
        }
        numbering_->SetNumberedSink(nullptr);
        service_.reset();
        service_ = std::make_unique<WeightService>(
            QString::fromStdString(dir_.File("dziennik.sqlite")), options);
        journal_.SetNext(&service_->Sink());
        numbering_->SetNumberedSink(journalOff_ ? static_cast<INumberedLineSink*>(&service_->Sink())
                                                : &journal_);
        pipeline_.SetUnit(Win1250Text("kg"));
        settings.enabled = true;
        if (settings.port == 8765) settings.port = 0;  // a free port
        service_->Apply(settings);
        ASSERT_TRUE(RunEventsUntil(
            [this] { return service_->CurrentState() != WeightService::State::Starting; }));
        if (service_->CurrentState() == WeightService::State::Running) {
            port_ = static_cast<quint16>(QUrl(service_->Url()).port());
        }
    }
    void Feed(const std::string& bytes) {
        pipeline_.Receive(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    // Lets the server's thread take what the pipeline handed over.
    void Settle() { RunEvents(std::chrono::milliseconds(50)); }

    TempDir dir_;
    StandInJournal journal_{dir_.File("dziennik.sqlite")};
    bool journalOff_ = false;   // the journal is switched off: lines numbered from the clock
    std::int64_t clockMs_ = 0;  // 0: the system clock; otherwise the arrival time of lines
    LinePipeline pipeline_{[this] { return clockMs_ != 0 ? clockMs_ : UtcNowMs(); }};
    std::unique_ptr<waga::journal::JournalSink> numbering_;
    std::unique_ptr<WeightService> service_;
    quint16 port_ = 0;
};

}  // namespace waga::test
