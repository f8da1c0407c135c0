// The central schema's own behaviour on a real server: a database made by the schema of
// version 1 moved by central/migrate-2.sql, every row kept.
#include <gtest/gtest.h>

#include "CentralServer.h"
#include "CentralUploader.h"
#include "StationRig.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

// Every column but the value, of every row, with the count: what a migration must keep.
constexpr const char* kRowsSum =
    "SELECT count(*) || ' ' || md5(string_agg(concat_ws('|', station, seq, kind, first_at,"
    " last_at, count, text, raw, unit, port), ';' ORDER BY station, seq)) FROM weighing_lines";

TEST(CentralSchema, TheMigrationFromVersion1KeepsEveryRowAndGivesReadingsTheirDecimals) {
    CentralServer server("stacja1,stacja2",
                         {"--schema", CentralServer::SourcePath("tests/central/schema-v1.sql")});
    ASSERT_TRUE(server.Ok()) << server.Log();
    // Rows as version 1 stored them (a value as the double's shortest text), over months: two
    // years back, last month, this month, and 1970 (a clock far off); 5,000 more by the hour.
    ASSERT_TRUE(server.Sql(
        "INSERT INTO weighing_lines (station, seq, kind, first_at, last_at, count, text, raw,"
        " value, unit, port) SELECT 'stacja2', seq, kind, at, at + interval '2 s', count, text,"
        " convert_to(text, 'UTF8'), value, 'kg', 'COM1' FROM (VALUES"
        " (1, 'reading', now() - interval '2 years', 3, ' 17.70', 17.7),"
        " (2, 'reading', now() - interval '1 month', 1, '100.00', 100),"
        " (3, 'report', timestamptz '1970-01-02 00:00+00', 1, 'Suma: 5', NULL),"
        " (4, 'gap', now(), 12, 'kolejka pełna: 12 linii', NULL),"
        " (5, 'reading', now(), 1, '1.50E3', 1500),"
        " (6, 'reading', now(), 1, '+48 123 456', 48123456)) AS r (seq, kind, at, count, text,"
        " value);"
        " INSERT INTO weighing_lines (station, seq, kind, first_at, last_at, count, text, raw,"
        " value, unit, port) SELECT 'stacja2', 100 + g, 'reading', now() - g * interval '1 h',"
        " now() - g * interval '1 h', 1, (g % 1000) || '.50', convert_to((g % 1000) || '.50',"
        " 'UTF8'), (g % 1000) + 0.5, 'kg', 'COM2' FROM generate_series(1, 5000) AS g"))
        << server.Log();
    const auto before = server.Sql(kRowsSum);
    ASSERT_TRUE(before && before->rfind("5006 ", 0) == 0) << before.value_or("?");

    for (int run = 0; run < 2; ++run) {  // a second run changes nothing
        SCOPED_TRACE(run);
        ASSERT_TRUE(server.RunCentralSql({"migrate-2.sql"})) << server.Log();
        EXPECT_EQ(server.Sql(kRowsSum), before);
        EXPECT_EQ(server.Sql("SELECT string_agg(version::text, ',') FROM schema_version"), "2");
    }
    const struct {
        const char* what;
        const char* sql;
        const char* expected;
    } cases[] = {
        {"a reading gets its decimals", "SELECT value::text FROM weighing_lines WHERE seq = 1",
         "17.70"},
        {"100.00 stays 100.00", "SELECT value::text FROM weighing_lines WHERE seq = 2", "100.00"},
        {"an exponent keeps the value", "SELECT value::text FROM weighing_lines WHERE seq = 5",
         "1500"},
        {"spaces between digits", "SELECT value::text FROM weighing_lines WHERE seq = 6",
         "48123456"},
        {"a report has none",
         "SELECT coalesce(value::text, 'null') FROM weighing_lines WHERE"
         " seq = 3",
         "null"},
        {"every reading of the hours",
         "SELECT count(*) FROM weighing_lines WHERE seq > 100 AND value::text LIKE '%.50'", "5000"},
        {"each row in the partition of its month, 1970's in the default one",
         "SELECT count(*) FROM weighing_lines WHERE tableoid::regclass::text <> CASE WHEN seq = 3"
         " THEN 'weighing_lines_default' ELSE 'weighing_lines_' || to_char(first_at AT TIME ZONE"
         " 'UTC', 'YYYY_MM') END",
         "0"},
        {"the months ahead are made",
         "SELECT count(*) FROM pg_class WHERE relname ="
         " 'weighing_lines_' || to_char((now() + interval '3 months')"
         " AT TIME ZONE 'UTC', 'YYYY_MM')",
         "1"},
        {"everything is waga_owner's",
         "SELECT string_agg(DISTINCT pg_get_userbyid(relowner), ',') FROM pg_class WHERE"
         " relnamespace = 'public'::regnamespace",
         "waga_owner"},
        {"a month made later", "SELECT waga_make_partition('1970-01-15')",
         "weighing_lines_1970_01"},
        {"takes its rows from the default partition",
         "SELECT tableoid::regclass FROM weighing_lines WHERE seq = 3", "weighing_lines_1970_01"},
    };
    for (const auto& c : cases) EXPECT_EQ(server.Sql(c.sql), c.expected) << c.what;
    EXPECT_EQ(server.Sql(kRowsSum), before);

    // The stations go on: each sees its own rows, and uploads.
    waga::test::ScopedEnv passwords("PGPASSFILE", server.PgPassPath());
    const auto station2 = server.LinkAs("stacja2");
    ASSERT_TRUE(station2);
    std::vector<central::PgResult> results;
    ASSERT_EQ(
        station2->Exec("SELECT count(*) FROM weighing_lines", results, central::DeadlineIn(20s)),
        central::PgWait::Done);
    ASSERT_TRUE(results.size() == 1 && results[0].Ok() && results[0].Rows() == 1);
    EXPECT_EQ(results[0].Text(0, 0), QStringLiteral("5006"));
    waga::test::TempDir dir;
    const QString journal = QString::fromStdString(dir.File("dziennik.sqlite"));
    ASSERT_TRUE(WriteBacklog(journal, 300));
    central::CentralUploader uploader;
    central::UploaderConfig config;
    config.settings = server.SettingsFor("stacja1");
    config.journalPath = journal;
    config.retryCapMs = 300;
    uploader.Apply(config);
    ExpectEqualDigests(WaitForEqualRows(server, QStringLiteral("stacja1"), journal));
}

}  // namespace
