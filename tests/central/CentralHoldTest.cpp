// What the upload refuses to do, and that it says so: a seq the central database holds for
// another line (nothing of the batch stored, the upload held, both lines told, the central rows
// unchanged), waga-central --sprawdz finding each kind of difference, and the journal's faults
// told while the server is fine, then cleared.
#include <gtest/gtest.h>

#include <QSqlError>
#include <QSqlQuery>
#include <cstdio>
#include <functional>
#include <thread>

#include "AddOnSettings.h"
#include "CentralCheck.h"
#include "CentralServer.h"
#include "CentralTexts.h"
#include "CentralUploader.h"
#include "JournalFile.h"
#include "ProgramRun.h"
#include "StationRig.h"
#include "TestSupport.h"
#include "UploadBatch.h"

namespace {

using namespace std::chrono_literals;
using waga::test::WaitUntil;

central::UploaderConfig ConfigFor(CentralServer& server, const std::string& station,
                                  const QString& journal) {
    central::UploaderConfig config;
    config.settings = server.SettingsFor(station);
    config.journalPath = journal;
    config.retryCapMs = 300;
    config.pollMs = 200;
    return config;
}

// waga-central in `folder` with `arguments`; its output, its status.
struct Outcome {
    int status;
    std::string out;
    std::string err;
};
Outcome WagaCentral(const std::string& folder, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), waga::test::BinPath("waga-central"));
    waga::test::ChildProcess child(arguments, folder);
    const int status = child.Wait(60s);
    return {status, child.Stdout(), child.Stderr()};
}

void SaveSettings(const CentralSettings& central, const std::string& folder) {
    AddOnSettings settings;
    settings.central = central;
    std::string error;
    ASSERT_TRUE(SaveAddOnSettings(settings, error, folder)) << error;
}

TEST(CentralHold, ASeqTheServerHoldsForAnotherLineStoresNothingOfItsBatchAndHoldsTheUpload) {
    CentralServer server("stacja1,stacja2");
    ASSERT_TRUE(server.Ok()) << server.Log();
    waga::test::ScopedEnv passwords("PGPASSFILE", server.PgPassPath());
    waga::test::ScopedEnv cap("WAGA_CENTRAL_RETRY_MAX_MS", "300");
    // The station's first journal, uploaded: seq 1..20, readings 0..19.
    waga::test::TempDir first;
    const QString firstJournal = QString::fromStdString(first.File("dziennik.sqlite"));
    ASSERT_TRUE(WriteBacklog(firstJournal, 20, 0));
    SaveSettings(server.SettingsFor("stacja1"), first.Path());
    ASSERT_EQ(WagaCentral(first.Path(), {"--until-empty"}).status, 0);
    // An administrator removes seq 1..10 centrally; the station's journal is replaced by one
    // whose seq 1..20 are other lines (readings 500..519). Its batch holds new seqs (1..10)
    // and seqs held by other lines (11..20).
    ASSERT_TRUE(server.Sql("DELETE FROM weighing_lines WHERE seq <= 10"));
    waga::test::TempDir second;
    const QString secondJournal = QString::fromStdString(second.File("dziennik.sqlite"));
    ASSERT_TRUE(WriteBacklog(secondJournal, 20, 500));
    SaveSettings(server.SettingsFor("stacja1"), second.Path());
    const auto before = server.Digest(QStringLiteral("stacja1"));
    ASSERT_TRUE(before && before->rows == 10);

    const Outcome held = WagaCentral(second.Path(), {"--until-empty"});
    EXPECT_EQ(held.status, 3) << held.out << held.err;
    const std::string told =
        "waga-central: wiersz 11 jest w bazie centralnej jako inna linia (w "
        "dzienniku: reading „510” z ";
    EXPECT_NE(held.err.find(told), std::string::npos) << held.err;
    EXPECT_NE(held.err.find("; w bazie: reading „10” z "), std::string::npos) << held.err;
    EXPECT_NE(held.out.find("stan: wstrzymana: wiersz 11 "), std::string::npos) << held.out;
    EXPECT_EQ(server.Digest(QStringLiteral("stacja1")), before);
    EXPECT_EQ(AckedSeq(secondJournal), 0);  // the rows stay to be sent

    // The check names each kind of difference and fails; the first journal's rows 1..10 were
    // acknowledged and are gone centrally.
    const Outcome secondCheck = WagaCentral(second.Path(), {"--sprawdz"});
    EXPECT_EQ(secondCheck.status, 1) << secondCheck.out << secondCheck.err;
    EXPECT_NE(secondCheck.out.find("inna treść w bazie centralnej: 10 wierszy: 11–20"),
              std::string::npos)
        << secondCheck.out;
    EXPECT_NE(secondCheck.out.find("jeszcze nie wysłane (po pozycji wysłania 0): 10 wierszy"),
              std::string::npos)
        << secondCheck.out;
    const Outcome firstCheck = WagaCentral(first.Path(), {"--sprawdz"});
    EXPECT_EQ(firstCheck.status, 1) << firstCheck.out << firstCheck.err;
    EXPECT_NE(firstCheck.out.find("brak w bazie centralnej (choć wysłane): 10 wierszy: 1–10"),
              std::string::npos)
        << firstCheck.out;

    // In the program the upload stays held (the window says why) until the settings are saved
    // again: under the station's right name it goes on.
    central::CentralUploader uploader;
    uploader.Apply(ConfigFor(server, "stacja1", secondJournal));
    ASSERT_TRUE(WaitUntil([&] { return uploader.Status().held; }, 20s));
    EXPECT_TRUE(central::CentralStateText(uploader.Status())
                    .startsWith(QStringLiteral("wstrzymana: wiersz 11 jest w bazie centralnej")))
        << central::CentralStateText(uploader.Status()).toStdString();
    EXPECT_EQ(uploader.Status().backlog, 20);
    EXPECT_EQ(server.Digest(QStringLiteral("stacja1")), before);
    // While held, the journal is still looked after: the file replaced by one that is no
    // database is told beside the held row, and cleared when it is back.
    const std::string journalFile = secondJournal.toStdString();
    ASSERT_EQ(std::rename(journalFile.c_str(), (journalFile + ".kopia").c_str()), 0);
    waga::test::WriteFile(journalFile, std::string(4096, 'x'));
    EXPECT_TRUE(WaitUntil(
        [&] {
            return uploader.Status().held && uploader.Status().cause.contains(QStringLiteral(
                                                 "; dziennik: plik dziennika jest uszkodzony"));
        },
        20s))
        << uploader.Status().cause.toStdString();
    ASSERT_EQ(std::rename((journalFile + ".kopia").c_str(), journalFile.c_str()), 0);
    EXPECT_TRUE(WaitUntil([&] { return !uploader.Status().cause.contains("dziennik:"); }, 20s))
        << uploader.Status().cause.toStdString();
    EXPECT_TRUE(uploader.Status().held);
    uploader.Apply(ConfigFor(server, "stacja2", secondJournal));
    ExpectEqualDigests(WaitForEqualRows(server, QStringLiteral("stacja2"), secondJournal));
    EXPECT_FALSE(uploader.Status().held);
    SaveSettings(server.SettingsFor("stacja2"), second.Path());
    const Outcome agreed = WagaCentral(second.Path(), {"--sprawdz"});
    EXPECT_EQ(agreed.status, 0) << agreed.out << agreed.err;
    EXPECT_NE(agreed.out.find("zgodnych 20"), std::string::npos) << agreed.out;
}

// A journal fault while the server is fine: told in the state, the upload waits and tries
// again, and goes on (the cause cleared) when the fault is mended.
struct JournalFaultCase {
    const char* what;
    std::function<void(const QString& journal)> breakIt;  // once 5 rows are sent
    const char* cause;                                    // the start of the state's text
    std::function<void(const QString& journal)> mendIt;   // then 8 rows are there to send
};

void OnJournal(const QString& journal, const char* sql) {
    waga::journal::JournalDb db;
    ASSERT_TRUE(db.Open(journal, waga::journal::JournalAccess::Writer));
    QSqlQuery q(db.Database());
    ASSERT_TRUE(q.exec(QString::fromUtf8(sql))) << q.lastError().text().toStdString();
}

TEST(CentralHold, JournalFaultsAreToldWhileTheyLastAndTheUploadGoesOnAfter) {
    CentralServer server("stacja1");
    ASSERT_TRUE(server.Ok()) << server.Log();
    waga::test::ScopedEnv passwords("PGPASSFILE", server.PgPassPath());
    const JournalFaultCase cases[] = {
        {"the position cannot be saved",
         [](const QString& journal) {
             OnJournal(journal,
                       "CREATE TRIGGER no_position BEFORE UPDATE ON upload_state BEGIN"
                       " SELECT RAISE(ABORT, 'zablokowane'); END");
             ASSERT_TRUE(WriteBacklog(journal, 3, 100));
         },
         "połączona, ale wysyłanie stoi: dziennik: nie zapisano pozycji wysłania: zablokowane",
         [](const QString& journal) { OnJournal(journal, "DROP TRIGGER no_position"); }},
        {"the file is no database (replaced by another program)",
         [](const QString& journal) {
             QString error;
             ASSERT_TRUE(waga::journal::BackupJournal(journal, journal + ".kopia", error))
                 << error.toStdString();
             const std::string path = journal.toStdString();
             waga::test::WriteFile(path + ".obcy", std::string(4096, 'x'));
             ASSERT_EQ(std::rename((path + ".obcy").c_str(), path.c_str()), 0);
         },
         "połączona, ale wysyłanie stoi: dziennik: plik dziennika jest uszkodzony",
         [](const QString& journal) {  // the file back, with rows written meanwhile
             ASSERT_TRUE(WriteBacklog(journal + ".kopia", 3, 100));
             ASSERT_EQ(std::rename((journal + ".kopia").toLocal8Bit().constData(),
                                   journal.toLocal8Bit().constData()),
                       0);
         }},
    };
    for (const JournalFaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(server.Sql("DELETE FROM weighing_lines"));  // each case a new station
        waga::test::TempDir dir;
        const QString journal = QString::fromStdString(dir.File("dziennik.sqlite"));
        ASSERT_TRUE(WriteBacklog(journal, 5));
        central::CentralUploader uploader;
        uploader.Apply(ConfigFor(server, "stacja1", journal));
        ASSERT_TRUE(WaitUntil([&] { return AckedSeq(journal) == 5; }, 20s));
        c.breakIt(journal);
        ASSERT_TRUE(WaitUntil(
            [&] {
                return central::CentralStateText(uploader.Status())
                    .startsWith(QString::fromUtf8(c.cause));
            },
            20s))
            << central::CentralStateText(uploader.Status()).toStdString();
        c.mendIt(journal);
        ExpectEqualDigests(WaitForEqualRows(server, QStringLiteral("stacja1"), journal));
        EXPECT_TRUE(WaitUntil([&] { return AckedSeq(journal) == 8; }, 10s));
        EXPECT_TRUE(WaitUntil([&] { return uploader.Status().cause.isEmpty(); }, 10s))
            << uploader.Status().cause.toStdString();
    }
}

// Numbers outside the journal's range, put there with the sqlite3 shell: the upload never
// says nothing waits while such a row is unsent; it holds at the row, or refuses the position,
// and says why by number.
TEST(CentralHold, NumbersOutOfRangeNeverShowAnEmptyBacklog) {
    CentralServer server("stacja1");
    ASSERT_TRUE(server.Ok()) << server.Log();
    waga::test::ScopedEnv passwords("PGPASSFILE", server.PgPassPath());
    const struct {
        const char* what;
        const char* sql;
        const char* told;  // part of the state's text
        qint64 backlog;    // -1: not counted (the position is refused), so never shown as 0
    } cases[] = {
        {"a row numbered 2^63-1",
         "UPDATE lines SET seq = 9223372036854775807 WHERE seq = (SELECT max(seq) FROM lines)",
         "wstrzymana: dziennik: wiersz 9223372036854775807: numer 9223372036854775807 spoza "
         "zakresu",
         1},
        {"a row numbered below 1",
         "UPDATE lines SET seq = -5 WHERE seq = (SELECT min(seq) FROM lines)",
         "wstrzymana: dziennik: wiersz -5: numer -5 spoza zakresu", 1},
        {"a position past every row",
         "INSERT INTO upload_state VALUES('central', 9223372036854775807, 1, 0, 0)",
         "dziennik: upload_state: pozycja wysłania 9223372036854775807 spoza zakresu", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(server.Sql("DELETE FROM weighing_lines"));
        waga::test::TempDir dir;
        const QString journal = QString::fromStdString(dir.File("dziennik.sqlite"));
        ASSERT_TRUE(WriteBacklog(journal, 5));
        waga::test::ChildProcess shell({"/usr/bin/sqlite3", journal.toStdString(), c.sql},
                                       dir.Path());
        ASSERT_EQ(shell.Wait(), 0) << shell.Stderr();
        central::CentralUploader uploader;
        uploader.Apply(ConfigFor(server, "stacja1", journal));
        EXPECT_TRUE(WaitUntil(
            [&] { return central::CentralStateText(uploader.Status()).contains(c.told); }, 20s))
            << central::CentralStateText(uploader.Status()).toStdString();
        const central::CentralStatus status = uploader.Status();
        if (c.backlog >= 0) {
            EXPECT_EQ(status.backlog, c.backlog);
        }
        EXPECT_FALSE(status.backlogCounted && status.backlog == 0);
    }
}

// Saving the settings while the server hangs: the window's thread never waits for it; the new
// settings' upload goes on once the server answers again.
TEST(CentralHold, SavingTheSettingsWhileTheServerHangsReturnsAtOnce) {
    CentralServer server("stacja1");
    ASSERT_TRUE(server.Ok()) << server.Log();
    waga::test::ScopedEnv passwords("PGPASSFILE", server.PgPassPath());
    waga::test::TempDir dir;
    const QString journal = QString::fromStdString(dir.File("dziennik.sqlite"));
    ASSERT_TRUE(WriteBacklog(journal, 20000));
    Feeder feeder(journal, 300, 20000);
    const auto timed = [](const char* what, const std::function<void()>& step) {
        const auto start = std::chrono::steady_clock::now();
        step();
        std::printf("[ figures  ] %s with the server stopped: %lld ms\n", what,
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count()));
    };
    auto uploader = std::make_unique<central::CentralUploader>();
    uploader->Apply(ConfigFor(server, "stacja1", journal));
    ASSERT_TRUE(WaitUntil([&] { return AckedSeq(journal) > 2000; }, 30s));
    ASSERT_TRUE(server.Freeze());
    std::this_thread::sleep_for(1s);
    timed("settings saved", [&] { uploader->Apply(ConfigFor(server, "stacja1", journal)); });
    timed("saved again", [&] { uploader->Apply(ConfigFor(server, "stacja1", journal)); });
    ASSERT_TRUE(server.Thaw());
    feeder.Stop();
    ExpectEqualDigests(WaitForEqualRows(server, QStringLiteral("stacja1"), journal));

    ASSERT_TRUE(WriteBacklog(journal, 20000, 50000));
    std::this_thread::sleep_for(200ms);  // a batch on its way
    ASSERT_TRUE(server.Freeze());
    std::this_thread::sleep_for(500ms);
    timed("turned off", [&] {
        central::UploaderConfig off = ConfigFor(server, "stacja1", journal);
        off.settings.enabled = false;
        uploader->Apply(off);
    });
    EXPECT_EQ(central::CentralStateText(uploader->Status()), QStringLiteral("wyłączona"));
    timed("the uploader taken down", [&] { uploader.reset(); });
    ASSERT_TRUE(server.Thaw());
}

// waga-central --sprawdz against a server that stops answering in the middle of its query (the
// query waits on a lock the administrator holds, then every server process stops): it gives up
// as the upload does, kAnswerWait after the query went, and says why.
TEST(CentralHold, TheCheckGivesUpOnAServerThatStopsAnsweringMidQuery) {
    CentralServer server("stacja1");
    ASSERT_TRUE(server.Ok()) << server.Log();
    waga::test::ScopedEnv passwords("PGPASSFILE", server.PgPassPath());
    waga::test::TempDir folder;
    ASSERT_TRUE(WriteBacklog(QString::fromStdString(folder.File("dziennik.sqlite")), 50));
    SaveSettings(server.SettingsFor("stacja1"), folder.Path());
    ASSERT_EQ(WagaCentral(folder.Path(), {"--until-empty"}).status, 0);
    const auto admin = server.AdminLink();
    ASSERT_TRUE(admin);
    ASSERT_EQ(admin->Run("BEGIN", central::DeadlineIn(20s)), central::PgWait::Done);
    ASSERT_EQ(
        admin->Run("LOCK TABLE weighing_lines IN ACCESS EXCLUSIVE MODE", central::DeadlineIn(20s)),
        central::PgWait::Done);

    waga::test::ChildProcess check({waga::test::BinPath("waga-central"), "--sprawdz"},
                                   folder.Path());
    ASSERT_TRUE(WaitUntil(
        [&] {
            return server.Sql(
                       "SELECT count(*) FROM pg_stat_activity WHERE application_name ="
                       " 'waga' AND wait_event_type = 'Lock'") == "1";
        },
        20s));
    ASSERT_TRUE(server.Freeze());
    const auto frozen = std::chrono::steady_clock::now();
    const int status = check.Wait(90s);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - frozen);
    ASSERT_TRUE(server.Thaw());
    std::printf(
        "[ figures  ] --sprawdz gave up %lld ms after the server stopped (the wait for an"
        " answer: %lld ms)\n",
        static_cast<long long>(waited.count()),
        static_cast<long long>(central::kAnswerWait.count()));
    EXPECT_EQ(status, 2) << check.Stdout() << check.Stderr();
    EXPECT_LE(waited, central::kAnswerWait + 3s);
    EXPECT_NE(check.Stderr().find("waga-central: "), std::string::npos) << check.Stderr();
}

// The comparison's rule, on rows made up for it: which differences count.
TEST(CentralHold, TheCheckCountsWhatDiffersAndNotWhatIsStillToSendOrDeletedAfterItsDays) {
    using central::RowDigest;
    // `run`: the digest without the count and last time (the row's own md5 unless given).
    const auto row = [](qint64 seq, const char* md5, qint64 count = 1, const char* run = nullptr) {
        return RowDigest{seq, count, 1000 + seq, QByteArray(md5), QByteArray(run ? run : md5)};
    };
    const auto source = [](std::vector<RowDigest> rows) {
        return [rows](qint64 after, std::vector<RowDigest>& piece, QString&) {
            for (const RowDigest& r : rows) {
                if (r.seq > after && piece.size() < 2) piece.push_back(r);  // pieces of two
            }
            return true;
        };
    };
    // Journal: 5..13 (rows below 5 deleted after their kept days); acknowledged up to 10, whose
    // run grew since (count 3, was 2 when stored). 12 was sent after the position was read and
    // grew since; the server holds 13 further along its run than the journal: a difference.
    const std::vector<RowDigest> journal = {
        row(5, "a"),          row(6, "b"),  row(7, "c"),           row(8, "d"),
        row(10, "f", 3, "r"), row(11, "g"), row(12, "h2", 2, "s"), row(13, "k", 1, "t")};
    const std::vector<RowDigest> central = {
        row(2, "x"), row(3, "y"),          row(5, "a"),          row(7, "Z"),
        row(9, "e"), row(10, "F", 2, "r"), row(12, "h", 1, "s"), row(13, "K", 4, "t")};
    QString error;
    const auto result = central::CompareRows(source(journal), source(central),
                                             central::AckedPosition{10, 2, 1010}, error);
    ASSERT_TRUE(result) << error.toStdString();
    EXPECT_EQ(result->journalRows, 8);
    EXPECT_EQ(result->centralRows, 8);
    EXPECT_EQ(result->same, 1);                                        // 5
    EXPECT_EQ(result->olderThanJournal, 2);                            // 2, 3
    EXPECT_EQ(result->missingCentrally, (std::vector<qint64>{6, 8}));  // acknowledged
    EXPECT_EQ(result->different, (std::vector<qint64>{7, 13}));        // other content
    EXPECT_EQ(result->notInJournal, (std::vector<qint64>{9}));         // within its range
    EXPECT_EQ(result->notSentYet, 3);                                  // 10, 12 (grown), 11
    EXPECT_TRUE(result->HasDifferences());
    // A side that cannot be read is an error, not an empty side.
    const auto broken = central::CompareRows(
        source(journal),
        [](qint64, std::vector<RowDigest>&, QString& failure) {
            failure = QStringLiteral("brak połączenia");
            return false;
        },
        central::AckedPosition{}, error);
    EXPECT_FALSE(broken);
    EXPECT_EQ(error, QStringLiteral("brak połączenia"));
}

// The tool's arguments: help on standard output with status 0, a mistake or unusable settings
// told on standard error with its status.
TEST(CentralTool, Arguments) {
    waga::test::TempDir folder;
    struct Row {
        std::vector<std::string> arguments;
        int status;
        const char* out;
        const char* err;
    };
    const Row rows[] = {
        {{"--help"}, 0, "--sprawdz      porównaj dziennik", ""},
        {{"-h"}, 0, "Kod wyjścia 1", ""},
        {{"--kolor"}, 2, "", "waga-central: nieznana opcja --kolor\nużycie: waga-central"},
        {{}, 1, "", "[BazaCentralna] Wlaczona=0 w "},
        {{"--sprawdz"}, 2, "", "[BazaCentralna] Wlaczona=0 w "},
    };
    for (const Row& row : rows) {
        const Outcome outcome = WagaCentral(folder.Path(), row.arguments);
        const std::string shown = row.arguments.empty() ? "(none)" : row.arguments.front();
        EXPECT_EQ(outcome.status, row.status) << shown << "\n" << outcome.err;
        EXPECT_NE(outcome.out.find(row.out), std::string::npos) << shown << "\n" << outcome.out;
        EXPECT_NE(outcome.err.find(row.err), std::string::npos) << shown << "\n" << outcome.err;
        if (!*row.out) {
            EXPECT_EQ(outcome.out, "") << shown;
        }
        if (!*row.err) {
            EXPECT_EQ(outcome.err, "") << shown;
        }
    }
}

}  // namespace
