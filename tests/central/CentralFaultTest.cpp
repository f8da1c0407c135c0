// The central upload against a real PostgreSQL started by the test (scripts/central-db), a
// journal written meanwhile by a stand-in writer, and the real uploader (in this process, or
// waga-central as a process where it is killed). Every fault ends with the central rows equal to
// the journal's: the same count and the same digest over (seq, kind, bytes, count, first and
// last time); the primary key (station, seq) makes a doubled key impossible, and equal counts
// show that nothing is missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <filesystem>
#include <functional>
#include <thread>

#include "AddOnSettings.h"
#include "CentralServer.h"
#include "CentralUploader.h"
#include "JournalFeed.h"
#include "JournalFile.h"
#include "StationRig.h"
#include "TcpGate.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;
using waga::test::WaitUntil;

class CentralFault : public ::testing::Test {
  protected:
    explicit CentralFault(const std::vector<std::string>& made = {})
        : server_("stacja1,stacja2", made) {}

    void SetUp() override {
        ASSERT_TRUE(server_.Ok()) << server_.Log();
        qputenv("PGPASSFILE", QByteArray::fromStdString(server_.PgPassPath()));
        // The server's CA where an operator's folder may be: blanks, quotes, a backslash, a ';'
        // and Polish letters reach libpq as they are.
        const std::string folder = station_.File("CA o'Brien; Łódź \\ x");
        ASSERT_TRUE(std::filesystem::create_directory(folder));
        caPath_ = folder + "/ca.crt";
        waga::test::WriteFile(caPath_, waga::test::ReadFile(server_.CaPath()));
    }

    QString Journal(const waga::test::TempDir& dir) const {
        return QString::fromStdString(dir.File("dziennik.sqlite"));
    }

    central::UploaderConfig Config(const std::string& station, const waga::test::TempDir& dir,
                                   int port = 0) const {
        central::UploaderConfig config;
        config.settings = server_.SettingsFor(station, port);
        config.settings.ca = caPath_;
        config.journalPath = Journal(dir);
        config.retryCapMs = 300;
        return config;
    }

    CentralServer server_;
    waga::test::TempDir station_;
    std::string caPath_;
};

TEST_F(CentralFault, ServerStoppedMidStreamThenStartedAgain) {
    Feeder feeder(Journal(station_), 300);
    central::CentralUploader uploader;
    central::UploaderConfig config = Config("stacja1", station_);
    config.retryCapMs = central::kMaxRetryPauseMs;  // pauses of seconds between attempts
    uploader.Apply(config);
    ASSERT_TRUE(WaitUntil([&] { return uploader.Status().ackedSeq > 50; }, 20s));

    ASSERT_TRUE(server_.Stop()) << server_.Log();
    ASSERT_TRUE(WaitUntil([&] { return !uploader.Status().connected; }, 10s));
    // The backlog follows the journal between attempts too (the writer wakes the uploader).
    const auto wakeFor = [&, wake = uploader.Waker()](std::chrono::milliseconds time) {
        for (auto end = std::chrono::steady_clock::now() + time;
             std::chrono::steady_clock::now() < end;) {
            wake();
            std::this_thread::sleep_for(100ms);
        }
    };
    wakeFor(std::max<std::chrono::milliseconds>(OutageDuration(), 3s));
    const central::CentralStatus away = uploader.Status();
    // The journal gets 300 rows more, at whatever pace the feeder keeps (it slows down on a busy
    // machine), and the backlog grows past them: it was counted no later than `rowsAway`. The
    // bounds only end a run that fails.
    const auto journalRows = [&] {
        const auto digest = JournalDigest(Journal(station_));
        return digest ? digest->rows : qint64(-1);
    };
    const qint64 rowsAway = journalRows();
    ASSERT_GT(rowsAway, 0);
    const auto wokenUntil = [&, wake = uploader.Waker()](const std::function<bool()>& condition) {
        return WaitUntil(
            [&] {
                wake();
                std::this_thread::sleep_for(100ms);
                return condition();
            },
            60s);
    };
    qint64 rows = 0;
    ASSERT_TRUE(wokenUntil([&] {
        rows = journalRows();
        return rows < 0 || rows > rowsAway + 300;
    }));
    ASSERT_GT(rows, rowsAway + 300) << "the feeder wrote " << feeder.Lines() << " lines";
    EXPECT_TRUE(wokenUntil([&] { return uploader.Status().backlog > away.backlog + 300; }))
        << "backlog " << away.backlog << " -> " << uploader.Status().backlog << ", journal rows "
        << rowsAway << " -> " << journalRows();
    EXPECT_GT(away.backlog, 0);
    EXPECT_TRUE(central::CentralStateText(away).startsWith(QStringLiteral("brak połączenia: ")))
        << central::CentralStateText(away).toStdString();

    ASSERT_TRUE(server_.Start()) << server_.Log();
    std::this_thread::sleep_for(1s);
    feeder.Stop();
    ASSERT_FALSE(feeder.Failed());
    ExpectEqualDigests(WaitForEqualRows(server_, QStringLiteral("stacja1"), Journal(station_)));
    EXPECT_TRUE(WaitUntil([&] { return uploader.Status().backlog == 0; }, 10s));
    EXPECT_EQ(central::CentralStateText(uploader.Status()),
              QStringLiteral("połączona, zaległe: 0"));
}

TEST_F(CentralFault, ServerKilledInTheMiddleOfABatch) {
    ASSERT_TRUE(WriteBacklog(Journal(station_), 60000));
    Feeder feeder(Journal(station_), 300, 60000);
    central::CentralUploader uploader;
    uploader.Apply(Config("stacja1", station_));
    // Full batches follow each other without a pause while the backlog drains.
    ASSERT_TRUE(WaitUntil([&] { return uploader.Status().ackedSeq > 5000; }, 30s));
    ASSERT_TRUE(server_.Kill());
    ASSERT_TRUE(WaitUntil([&] { return !uploader.Status().connected; }, 20s));
    ASSERT_TRUE(server_.Start()) << server_.Log();  // crash recovery
    feeder.Stop();
    ExpectEqualDigests(WaitForEqualRows(server_, QStringLiteral("stacja1"), Journal(station_)));
}

TEST_F(CentralFault, UploaderProcessKilledWhileUploadingThenStartedAgain) {
    AddOnSettings settings;
    settings.central = server_.SettingsFor("stacja1");
    std::string error;
    ASSERT_TRUE(SaveAddOnSettings(settings, error, station_.Path())) << error;
    ASSERT_TRUE(WriteBacklog(Journal(station_), 40000));
    Feeder feeder(Journal(station_), 300, 40000);
    qputenv("WAGA_CENTRAL_RETRY_MAX_MS", "300");
    const std::vector<std::string> argv{waga::test::BinPath("waga-central"), station_.Path()};
    auto acked = [&] { return AckedSeq(Journal(station_)); };
    {
        waga::test::ChildProcess first(argv, station_.Path());
        ASSERT_TRUE(WaitUntil([&] { return acked() > 3000; }, 30s)) << first.Stdout();
        first.Signal(SIGKILL);
        EXPECT_EQ(first.Wait(), 128 + SIGKILL);
    }
    const qint64 resumedFrom = acked();
    EXPECT_LT(resumedFrom, 40000);
    waga::test::ChildProcess second(argv, station_.Path());
    std::this_thread::sleep_for(1s);
    feeder.Stop();
    ExpectEqualDigests(WaitForEqualRows(server_, QStringLiteral("stacja1"), Journal(station_)));
    second.Signal(SIGTERM);
    EXPECT_EQ(second.Wait(), 0) << second.Stderr();
    // The second run went on from the position the first had recorded.
    EXPECT_NE(second.Stdout().find("połączona"), std::string::npos) << second.Stdout();
}

TEST_F(CentralFault, WrongPasswordThenCorrectedWithoutRestart) {
    const QString right = QString::fromStdString(server_.PgPassPath());
    const QString file = QString::fromStdString(station_.File("pgpass"));
    QFile source(right);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray correct = source.readAll();
    QByteArray wrong = correct;
    const qsizetype at = wrong.indexOf(":stacja1:") + 9;
    wrong.insert(at, "zle");
    auto write = [&](const QByteArray& content) {
        waga::test::WriteFile(file.toStdString() + ".new", content.toStdString());
        QFile::setPermissions(file + ".new", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        return std::rename((file + ".new").toLocal8Bit().constData(),
                           file.toLocal8Bit().constData()) == 0;
    };
    ASSERT_TRUE(write(wrong));
    qputenv("PGPASSFILE", file.toLocal8Bit());
    ASSERT_TRUE(WriteBacklog(Journal(station_), 2000));
    central::CentralUploader uploader;
    uploader.Apply(Config("stacja1", station_));
    ASSERT_TRUE(WaitUntil(
        [&] {
            return uploader.Status().cause ==
                   QStringLiteral(
                       "złe hasło użytkownika „stacja1” (popraw je w oknie Baza centralna)");
        },
        20s))
        << uploader.Status().cause.toStdString();
    ASSERT_TRUE(WaitUntil([&] { return uploader.Status().backlog == 2000; }, 10s));
    EXPECT_TRUE(
        central::CentralStateText(uploader.Status()).endsWith(QStringLiteral("; zaległe: 2000")));

    ASSERT_TRUE(write(correct));
    ExpectEqualDigests(WaitForEqualRows(server_, QStringLiteral("stacja1"), Journal(station_)));
}

TEST_F(CentralFault, TwoStationsWithTheSameSeqsAreKeptApart) {
    waga::test::TempDir other;
    ASSERT_TRUE(WriteBacklog(Journal(station_), 3000, 0));
    ASSERT_TRUE(WriteBacklog(Journal(other), 3000, 500000));  // seq 1..3000 on both
    Feeder first(Journal(station_), 200, 1);
    Feeder second(Journal(other), 200, 2);
    central::CentralUploader one;
    central::CentralUploader two;
    one.Apply(Config("stacja1", station_));
    two.Apply(Config("stacja2", other));
    std::this_thread::sleep_for(2s);
    first.Stop();
    second.Stop();
    const DigestPair a = WaitForEqualRows(server_, QStringLiteral("stacja1"), Journal(station_));
    const DigestPair b = WaitForEqualRows(server_, QStringLiteral("stacja2"), Journal(other));
    ExpectEqualDigests(a);
    ExpectEqualDigests(b);
    ASSERT_TRUE(a.central && b.central);
    EXPECT_NE(a.central->md5, b.central->md5);
    EXPECT_EQ(server_.Sql("SELECT count(*) FROM weighing_lines"),
              std::to_string(a.central->rows + b.central->rows));
    EXPECT_EQ(server_.Sql("SELECT count(*) FROM weighing_lines WHERE seq <= 3000"), "6000");
}

TEST_F(CentralFault, AStationRoleCannotWriteAnotherStationsRows) {
    ASSERT_TRUE(WriteBacklog(Journal(station_), 10));
    central::UploaderConfig config = Config("stacja1", station_);
    config.settings.station = "stacja2";  // the role stacja1 posing as stacja2
    central::CentralUploader uploader;
    uploader.Apply(config);
    ASSERT_TRUE(WaitUntil(
        [&] {
            return uploader.Status().cause.startsWith(
                QStringLiteral("serwer nie przyjął wierszy innej stacji"));
        },
        20s))
        << uploader.Status().cause.toStdString();
    EXPECT_EQ(server_.Sql("SELECT count(*) FROM weighing_lines"), "0");
}

TEST_F(CentralFault, NetworkRefusingConnectionsForAWhile) {
    TcpGate gate(server_.Port());
    ASSERT_GT(gate.Port(), 0);
    // The password file names the gate's port too.
    std::string passwords = waga::test::ReadFile(server_.PgPassPath());
    const std::string serverPort = ":" + std::to_string(server_.Port()) + ":";
    passwords += passwords.substr(0, passwords.find('\n') + 1)
                     .replace(passwords.find(serverPort), serverPort.size(),
                              ":" + std::to_string(gate.Port()) + ":");
    waga::test::WriteFile(station_.File("pgpass"), passwords);
    ::chmod(station_.File("pgpass").c_str(), 0600);
    qputenv("PGPASSFILE", QByteArray::fromStdString(station_.File("pgpass")));
    Feeder feeder(Journal(station_), 300);
    central::CentralUploader uploader;
    uploader.Apply(Config("stacja1", station_, gate.Port()));
    ASSERT_TRUE(WaitUntil([&] { return uploader.Status().ackedSeq > 50; }, 20s))
        << central::CentralStateText(uploader.Status()).toStdString() << " "
        << uploader.Status().ackedSeq;
    gate.Close();  // open connections are reset, new ones refused
    ASSERT_TRUE(WaitUntil(
        [&] { return uploader.Status().cause.startsWith(QStringLiteral("serwer odmawia")); }, 20s))
        << uploader.Status().cause.toStdString();
    std::this_thread::sleep_for(OutageDuration());
    EXPECT_FALSE(uploader.Status().connected);
    gate.Open();
    std::this_thread::sleep_for(1s);
    feeder.Stop();
    ExpectEqualDigests(WaitForEqualRows(server_, QStringLiteral("stacja1"), Journal(station_)));
}

TEST_F(CentralFault, AGrowingRunIsUpdatedAndNeverLowered) {
    JournalFeed feed(Journal(station_));
    ASSERT_TRUE(feed.IsOpen());
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    ASSERT_TRUE(feed.AppendChunk({{true, "12,5", t0}}));
    central::CentralUploader uploader;
    uploader.Apply(Config("stacja1", station_));
    ASSERT_TRUE(
        WaitUntil([&] { return server_.Sql("SELECT count FROM weighing_lines") == "1"; }, 20s));
    for (int i = 1; i <= 20; ++i) ASSERT_TRUE(feed.AppendChunk({{true, "12,5", t0 + i}}));
    ExpectEqualDigests(WaitForEqualRows(server_, QStringLiteral("stacja1"), Journal(station_)));
    EXPECT_EQ(server_.Sql("SELECT count FROM weighing_lines"), "21");

    // A stale copy of the journal (taken before the run grew, its position forgotten) sends the
    // row again with its old count and time: nothing changes centrally.
    const QString stale = QString::fromStdString(station_.File("kopia.sqlite"));
    QString error;
    ASSERT_TRUE(waga::journal::BackupJournal(Journal(station_), stale, error))
        << error.toStdString();
    {
        waga::journal::JournalDb copy;
        ASSERT_TRUE(copy.Open(stale, waga::journal::JournalAccess::Writer));
        QSqlQuery q(copy.Database());
        ASSERT_TRUE(q.exec(QStringLiteral("UPDATE lines SET count = 1, last_ms = first_ms")));
        ASSERT_TRUE(q.exec(QStringLiteral("DELETE FROM upload_state")));
    }
    central::UploaderConfig config = Config("stacja1", station_);
    config.journalPath = stale;
    central::CentralUploader staleUploader;
    staleUploader.Apply(config);
    ASSERT_TRUE(WaitUntil([&] { return AckedSeq(stale) == feed.LastSeq(); }, 20s));
    EXPECT_FALSE(staleUploader.Status().held) << staleUploader.Status().cause.toStdString();
    EXPECT_EQ(server_.Sql("SELECT count FROM weighing_lines"), "21");
    ExpectEqualDigests(WaitForEqualRows(server_, QStringLiteral("stacja1"), Journal(station_), 1s));
}

// The schema as the station finds it: made by the administrator, missing, of the version before,
// or newer than the program. A station uploads only to the schema of its version, says why
// otherwise, and goes on once the administrator has made or moved it; it never creates or
// changes the schema itself, so whatever it finds belongs to waga_owner.
struct SchemaCase {
    const char* name;
    std::vector<std::string> made;    // scripts/central-db start's options
    const char* before;               // SQL the administrator runs first
    const char* cause;                // what the station says; empty: it uploads at once
    std::vector<std::string> remedy;  // central/*.sql the administrator runs then
    const char* remedySql;            // or this
};

void PrintTo(const SchemaCase& c, std::ostream* os) { *os << c.name; }

class CentralSchemaRun : public CentralFault, public ::testing::WithParamInterface<SchemaCase> {
  protected:
    CentralSchemaRun() : CentralFault(GetParam().made) {}
};

TEST_P(CentralSchemaRun, AStationUploadsOnlyToItsSchemaVersionAndSaysWhyNot) {
    const SchemaCase& c = GetParam();
    if (*c.before) {
        ASSERT_TRUE(server_.Sql(c.before)) << server_.Log();
    }
    ASSERT_TRUE(WriteBacklog(Journal(station_), 500));
    {
        central::CentralUploader earlier;
        earlier.Apply(Config("stacja1", station_));
        if (*c.cause) {
            ASSERT_TRUE(WaitUntil(
                [&] { return earlier.Status().cause.contains(QString::fromUtf8(c.cause)); }, 20s))
                << earlier.Status().cause.toStdString();
            EXPECT_EQ(earlier.Status().ackedSeq, 0);
            // It made nothing meanwhile.
            EXPECT_EQ(server_.Sql("SELECT count(*) FROM pg_class WHERE relowner IN (SELECT member"
                                  " FROM pg_auth_members WHERE roleid = 'waga_stations'::regrole)"),
                      "0");
            ASSERT_TRUE(c.remedy.empty() ? server_.Sql(c.remedySql).has_value()
                                         : server_.RunCentralSql(c.remedy))
                << server_.Log();
        }
        ExpectEqualDigests(WaitForEqualRows(server_, QStringLiteral("stacja1"), Journal(station_)));
    }
    ASSERT_TRUE(WriteBacklog(Journal(station_), 500, 9000));
    central::CentralUploader later;
    later.Apply(Config("stacja1", station_));
    ExpectEqualDigests(WaitForEqualRows(server_, QStringLiteral("stacja1"), Journal(station_)));
    EXPECT_EQ(server_.Sql("SELECT string_agg(version::text, ',') FROM schema_version"), "2");
    EXPECT_EQ(server_.Sql("SELECT station || ' ' || text FROM latest_weight"), "stacja1 9499");
    // The schema is waga_owner's, whichever way it came, and the station cannot take it over.
    EXPECT_EQ(server_.Sql("SELECT string_agg(DISTINCT pg_get_userbyid(relowner), ',') FROM"
                          " pg_class WHERE relnamespace = 'public'::regnamespace"),
              "waga_owner");
    const auto link = server_.LinkAs("stacja1");
    ASSERT_TRUE(link);
    std::vector<central::PgResult> results;
    ASSERT_EQ(link->Exec("ALTER TABLE weighing_lines DISABLE ROW LEVEL SECURITY", results,
                         central::DeadlineIn(20s)),
              central::PgWait::Done);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].SqlState().toStdString(), "42501");
}

INSTANTIATE_TEST_SUITE_P(
    Schemas, CentralSchemaRun,
    ::testing::Values(SchemaCase{"MadeByTheAdministrator", {}, "", "", {}, ""},
                      SchemaCase{"Missing",
                                 {"--empty"},
                                 "",
                                 "brak schematu bazy: administrator tworzy go",
                                 {"schema.sql", "roles.sql"},
                                 ""},
                      SchemaCase{
                          "OfTheVersionBefore",
                          {"--schema", CentralServer::SourcePath("tests/central/schema-v1.sql")},
                          "",
                          "schemat bazy ma wersję 1, starszą niż zna program (2): administrator "
                          "przenosi bazę plikiem migrate-2.sql",
                          {"migrate-2.sql"},
                          ""},
                      SchemaCase{"Newer",
                                 {},
                                 "UPDATE schema_version SET version = 3",
                                 "schemat bazy ma wersję 3, nowszą niż zna program (2)",
                                 {},
                                 "UPDATE schema_version SET version = 2"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
