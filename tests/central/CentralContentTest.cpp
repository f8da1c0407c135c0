// What the central upload makes of its inputs: the journal's content (any text, any bytes, NULLs
// and kinds it does not know) through a real server, and the small decisions (the pause, the
// texts, the password file) as tables.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cmath>
#include <limits>

#include "CentralSchema.h"
#include "CentralServer.h"
#include "CentralTexts.h"
#include "CentralUploader.h"
#include "PgPassFile.h"
#include "StationRig.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

// Station "stacja1" uploading `journal` to `server`, with a short retry pause.
void StartUploader(central::CentralUploader& uploader, CentralServer& server,
                   const QString& journal, const std::string& station = "stacja1") {
    central::UploaderConfig config;
    config.settings = server.SettingsFor(station);
    config.journalPath = journal;
    config.retryCapMs = 300;
    uploader.Apply(config);
}

struct JournalRowCase {
    const char* name;
    const char* kind;
    QByteArray raw;
    QString text;
};

// Rows written straight into the journal file, as a damaged or hostile file could hold them.
bool InsertRow(QSqlDatabase& db, qint64 seq, const QVariant& kind, const QVariant& text,
               const QVariant& raw, const QVariant& value = {}) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral(
        "INSERT INTO lines(seq, kind, first_ms, last_ms, count, text, raw, value, unit, port)"
        " VALUES(?, ?, 1700000000000, 1700000000001, 1, ?, ?, ?, 'kg', 'COM2')"));
    q.addBindValue(seq);
    q.addBindValue(kind);
    q.addBindValue(text);
    q.addBindValue(raw);
    q.addBindValue(value);
    return q.exec();
}

TEST(CentralContent, AnyTextAndBytesArriveUnchanged) {
    CentralServer server("stacja1");
    ASSERT_TRUE(server.Ok()) << server.Log();
    qputenv("PGPASSFILE", QByteArray::fromStdString(server.PgPassPath()));
    waga::test::TempDir dir;
    const QString journal = QString::fromStdString(dir.File("dziennik.sqlite"));
    ASSERT_TRUE(WriteBacklog(journal, 1));  // the journal's schema

    const QByteArray megabyte(1024 * 1024, 'M');
    const JournalRowCase rows[] = {
        {"quotes and backslashes", "report", "a'b\"c\\d\\\\'", QStringLiteral("a'b\"c\\d\\\\'")},
        {"array syntax", "report", "{1,2},NULL,\"x\"", QStringLiteral("{1,2},NULL,\"x\"")},
        {"Polish letters", "report", "\xb3\xb9\xea", QStringLiteral("łąę")},
        {"byte 0 in the line", "reading",
         QByteArray("12\0"
                    "34",
                    5),
         QStringLiteral("12")},
        {"every byte value", "report",
         [] {
             QByteArray all;
             for (int b = 0; b < 256; ++b) all.append(static_cast<char>(b));
             return all;
         }(),
         QStringLiteral("x")},
        {"a line of 1 MiB", "report", megabyte, QString::fromLatin1(megabyte)},
        {"gap row, no bytes", "gap", QByteArray("", 0), QStringLiteral("kolejka pełna: 12 linii")},
        {"text with NUL", "report", "n", QString(QChar(u'a')) + QChar(u'\0') + QChar(u'b')},
    };
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("w"));
        db.setDatabaseName(journal);
        ASSERT_TRUE(db.open());
        qint64 seq = 10;
        for (const auto& row : rows) {
            ASSERT_TRUE(InsertRow(db, seq++, QString::fromLatin1(row.kind), row.text, row.raw))
                << row.name;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("w"));

    central::CentralUploader uploader;
    StartUploader(uploader, server, journal);
    const DigestPair digests = WaitForEqualRows(server, QStringLiteral("stacja1"), journal);
    ASSERT_TRUE(digests.journal && digests.central);
    EXPECT_EQ(*digests.central, *digests.journal);
    qint64 seq = 10;
    for (const auto& row : rows) {
        QString expected = row.text;
        expected.remove(QChar(u'\0'));  // text in PostgreSQL holds no NUL; the bytes keep them
        EXPECT_EQ(
            server.Sql("SELECT md5(text) FROM weighing_lines WHERE seq = " + std::to_string(seq++)),
            QCryptographicHash::hash(expected.toUtf8(), QCryptographicHash::Md5)
                .toHex()
                .toStdString())
            << row.name;
    }
}

// A reading's central value keeps the decimals the scale showed: a firm invoices by the scale's
// resolution. Its text is the number; one that is not plain (an exponent) goes as its value.
TEST(CentralContent, AReadingsValueKeepsTheDecimalsItWasShownWith) {
    struct Case {
        const char* text;  // as the journal holds it: the shown line
        double value;      // the journal's value of it
        const char* central;
    };
    const Case cases[] = {
        {" 17.70", 17.7, "17.70"},
        {"100.00", 100, "100.00"},
        {" 0.00", 0, "0.00"},
        {"-0,50", -0.5, "-0.50"},
        {"+48 123 456", 48123456, "48123456"},
        {".020", 0.02, "0.020"},
        {"1.50E3", 1500, "1500"},
    };
    CentralServer server("stacja1");
    ASSERT_TRUE(server.Ok()) << server.Log();
    qputenv("PGPASSFILE", QByteArray::fromStdString(server.PgPassPath()));
    waga::test::TempDir dir;
    const QString journal = QString::fromStdString(dir.File("dziennik.sqlite"));
    ASSERT_TRUE(WriteBacklog(journal, 1));  // the journal's schema
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("d"));
        db.setDatabaseName(journal);
        ASSERT_TRUE(db.open());
        qint64 seq = 10;
        for (const Case& c : cases) {
            ASSERT_TRUE(InsertRow(db, seq++, QStringLiteral("reading"), QString::fromUtf8(c.text),
                                  QByteArray(c.text), c.value))
                << c.text;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("d"));

    central::CentralUploader uploader;
    StartUploader(uploader, server, journal);
    ExpectEqualDigests(WaitForEqualRows(server, QStringLiteral("stacja1"), journal));
    qint64 seq = 10;
    for (const Case& c : cases) {
        EXPECT_EQ(server.Sql("SELECT value::text FROM weighing_lines WHERE seq = " +
                             std::to_string(seq++)),
                  c.central)
            << c.text;
    }
}

// A row the journal module cannot make sense of is neither sent changed nor skipped (skipping
// would lose it centrally for good): the upload stops before it and says which row and why.
TEST(CentralContent, AJournalRowThatMakesNoSenseStopsTheUploadAndSaysWhy) {
    struct Case {
        const char* station;
        const char* row2;  // seq 2, between two good rows
        const char* cause;
    };
    const Case cases[] = {
        {"stacja1", "(2, 'junk', NULL, 'x', NULL, NULL, NULL, 'abc', NULL, NULL)",
         "wiersz 2: nieznany rodzaj"},
        // Times PostgreSQL cannot hold: refused for ever, or wrapped around in the COPY.
        {"stacja2",
         "(2, 'reading', 9223372036854775000, 9223372036854775000, 1, '8', X'38', 8, 'kg', 'COM1')",
         "wiersz 2: czas spoza zakresu bazy centralnej"},
        {"stacja3",
         "(2, 'reading', -9000000000000000, -9000000000000000, 1, '8', X'38', 8, 'kg', 'COM1')",
         "wiersz 2: czas spoza zakresu bazy centralnej"},
    };
    CentralServer server("stacja1,stacja2,stacja3");
    ASSERT_TRUE(server.Ok()) << server.Log();
    qputenv("PGPASSFILE", QByteArray::fromStdString(server.PgPassPath()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.station);
        waga::test::TempDir dir;
        const QString journal = QString::fromStdString(dir.File("dziennik.sqlite"));
        ASSERT_TRUE(WriteBacklog(journal, 1));
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("w"));
            db.setDatabaseName(journal);
            ASSERT_TRUE(db.open());
            QSqlQuery q(db);
            // The file's NOT NULL constraints are gone in a hand-edited copy: make one without
            // them.
            ASSERT_TRUE(q.exec(QStringLiteral("ALTER TABLE lines RENAME TO old_lines")));
            ASSERT_TRUE(q.exec(QStringLiteral(
                "CREATE TABLE lines(seq INTEGER PRIMARY KEY, kind, first_ms, last_ms, count, text,"
                " raw, value, unit, port)")));
            ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO lines SELECT * FROM old_lines")));
            ASSERT_TRUE(
                q.exec(QStringLiteral("INSERT INTO lines VALUES") + QString::fromUtf8(c.row2) +
                       QStringLiteral(", (3, 'reading', 6, 6, 1, '7', X'37', 7, 'kg', 'COM1')")))
                << q.lastError().text().toStdString();
            q = QSqlQuery();
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("w"));
        central::CentralUploader uploader;
        StartUploader(uploader, server, journal, c.station);
        ASSERT_TRUE(waga::test::WaitUntil(
            [&] { return uploader.Status().cause.contains(QString::fromUtf8(c.cause)); }, 20s))
            << uploader.Status().cause.toStdString();
        EXPECT_EQ(uploader.Status().ackedSeq, 1);
        EXPECT_TRUE(uploader.Status().held);  // not tried again and again: the file must be mended
        EXPECT_EQ(server.Sql("SELECT string_agg(seq || ' ' || kind || ' ' || count, ',' ORDER BY"
                             " seq) FROM weighing_lines WHERE station = '" +
                             std::string(c.station) + "'"),
                  "1 reading 1");
    }
}

TEST(CentralDecisions, RetryPauseGrowsFromOneSecondToTheCap) {
    struct Case {
        int previous, cap, expected;
    } cases[] = {
        {0, 30000, 1000},     {1000, 30000, 2000},   {2000, 30000, 4000},
        {8000, 30000, 16000}, {16000, 30000, 30000}, {30000, 30000, 30000},
        {0, 300, 300},        {300, 300, 300},       {-5, 30000, 1000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(central::NextRetryPauseMs(c.previous, c.cap), c.expected)
            << c.previous << " / " << c.cap;
    }
}

TEST(CentralDecisions, GatheringFollowsTheServersAnswerWithinOneToTwoPeriods) {
    struct Case {
        int gatherMs, lastAnswerMs, expected;
    } cases[] = {
        {500, 0, 500},    {500, 20, 500},    {500, 125, 500},        {500, 200, 800},
        {500, 250, 1000}, {500, 600, 1000},  {500, 60000, 1000},     {500, -3, 500},
        {50, 20, 80},     {60000, 5, 60000}, {60000, 90000, 120000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(central::GatherIntervalMs(c.gatherMs, c.lastAnswerMs), c.expected)
            << c.gatherMs << " / " << c.lastAnswerMs;
    }
}

TEST(CentralDecisions, StateTexts) {
    struct Case {
        central::CentralStatus status;
        const char* expected;
    } cases[] = {
        {{true, true, {}, 0, 0, 0}, "połączona, zaległe: 0"},
        {{true, false, QStringLiteral("Connection refused"), 1234, 0, 0},
         "brak połączenia: Connection refused; zaległe: 1234"},
        {{false, false, {}, 5, 0, 0}, "wyłączona"},
        {{true, true, QStringLiteral("dziennik: x"), 3, 0, 0},
         "połączona, ale wysyłanie stoi: dziennik: x; zaległe: 3"},
        {{true, false, QStringLiteral("wiersz 7 ..."), 9, 0, 0, true},
         "wstrzymana: wiersz 7 ...; zaległe: 9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(central::CentralStateText(c.status), QString::fromUtf8(c.expected));
    }
    EXPECT_EQ(central::LastUploadText(0), QStringLiteral("ostatnie wysłanie: jeszcze nie"));
}

TEST(CentralDecisions, CausesAreShortAndPolish) {
    struct Case {
        const char* message;
        const char* expected;
    } cases[] = {
        {"connection to server at \"127.0.0.1\", port 5 failed: Connection refused\n\tIs the "
         "server running on that host and accepting TCP/IP connections?",
         "serwer odmawia połączenia (nie działa albo zły port)"},
        {"connection to server at \"h\", port 1 failed: FATAL:  password authentication failed "
         "for user \"s\"",
         "złe hasło użytkownika „s” (popraw je w oknie Baza centralna)"},
        {"FATAL:  no pg_hba.conf entry for host \"10.0.0.7\", user \"brama\", database \"waga\", "
         "no encryption",
         "serwer nie przyjmuje od 10.0.0.7 połączeń użytkownika „brama” z bazą „waga” bez "
         "szyfrowania (pg_hba.conf)"},
        {"brak schematu bazy, a jego utworzenie się nie udało: ERROR:  permission denied for "
         "schema public",
         "brak schematu bazy, a jego utworzenie się nie udało: brak uprawnień do schematu public"},
        {"server certificate for \"a\" (and 2 other names) does not match host name \"%2\"",
         "certyfikat serwera jest wystawiony dla „a”, nie dla „%2”: to może nie być właściwy "
         "serwer"},
        {"ERROR:  value too long for type character varying(3)",
         "value too long for type character varying(3)"},
        {"", "nieznana przyczyna"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(central::ShortCause(QString::fromUtf8(c.message)), QString::fromUtf8(c.expected));
    }
}

TEST(CentralDecisions, PasswordFileEntries) {
    EXPECT_EQ(central::PgPassLine(QStringLiteral("db.firma"), 5432, QStringLiteral("waga"),
                                  QStringLiteral("brama"), QStringLiteral("a:b\\c")),
              QStringLiteral("db.firma:5432:waga:brama:a\\:b\\\\c"));
    struct Case {
        const char* existing;
        const char* expected;
    } cases[] = {
        {"", "h:1:d:u:new\n"},
        {"h:1:d:u:old\n", "h:1:d:u:new\n"},
        {"# comment\nh:1:d:other:x\n", "# comment\nh:1:d:other:x\nh:1:d:u:new\n"},
        {"h:1:d:u:old\nh:2:d:u:y", "h:1:d:u:new\nh:2:d:u:y\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            central::WithPgPassEntry(QString::fromUtf8(c.existing), QStringLiteral("h:1:d:u:new")),
            QString::fromUtf8(c.expected))
            << c.existing;
    }
    waga::test::TempDir dir;
    const QString path = QString::fromStdString(dir.File("pgpass"));
    QString error;
    ASSERT_TRUE(central::StorePgPassEntry(path, QStringLiteral("h"), 1, QStringLiteral("d"),
                                          QStringLiteral("u"), QStringLiteral("p"), error));
    struct stat info {};
    ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(waga::test::ReadFile(path.toStdString()), "h:1:d:u:p\n");
}

}  // namespace
