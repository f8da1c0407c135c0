// Whom the station trusts and what a station may do centrally.
// - An impostor on loopback (tests/central/impostor.py: TLS with a certificate of its choice,
//   AuthenticationOk at once, every statement accepted) against waga-central as a process: under
//   the default settings nothing is acknowledged, the cause is told in Polish on standard output
//   and standard error, and the impostor receives no statement (no row, no password); only the
//   explicit unsafe choice SSL=disable hands it the rows.
// - A station's rights on the real server (central/roles.sql), through the table and the view,
//   and against the schema's owner (waga_owner, which no station is).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>

#include "AddOnSettings.h"
#include "CentralServer.h"
#include "CentralTexts.h"
#include "CentralUploader.h"
#include "ProgramRun.h"
#include "StationRig.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;
using waga::test::WaitUntil;

std::string ImpostorScript() {
    const char* source = std::getenv("WAGA_SOURCE_DIR");
    return std::string(source != nullptr ? source : WAGA_DEFAULT_SOURCE_DIR) +
           "/tests/central/impostor.py";
}

// The certificates every case picks from, made once.
class Impostors : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        certificates_ = new waga::test::TempDir;
        waga::test::ChildProcess make(
            {"/usr/bin/python3", ImpostorScript(), "certs", certificates_->Path()}, "/");
        ASSERT_EQ(make.Wait(60s), 0) << make.Stderr();
    }
    static void TearDownTestSuite() {
        delete certificates_;
        certificates_ = nullptr;
    }
    static std::string Certificates(const std::string& name) { return certificates_->File(name); }

  private:
    static waga::test::TempDir* certificates_;
};

waga::test::TempDir* Impostors::certificates_ = nullptr;

struct ImpostorCase {
    const char* what;
    const char* certificate;  // the impostor's: self-signed, right, other-name or expired
    bool asksForPassword;     // asks for the password in clear before it lets the station in
    const char* ssl;          // the station's SSL setting; empty: the default
    bool trustsTestCa;        // CA = the CA of right, other-name and expired; else no CA at all
    const char* cause;        // in the Polish cause; empty: the impostor gets the rows
    bool tlsRefused;          // refused before anything (not even the user name) is sent
    bool pooler = false;      // Posrednik=1: no channel binding, the password must be asked for
};

TEST_F(Impostors, GetNothingAcknowledgedUnlessTheStationChoseNoTls) {
    const ImpostorCase cases[] = {
        {"self-signed certificate, default settings", "self-signed", false, "", true,
         "certyfikat serwera nie pochodzi od CA z pliku", true},
        {"no root certificate anywhere, default settings", "right", false, "", false,
         "brak pliku certyfikatu CA serwera", true},
        {"certificate from the CA for another name", "other-name", false, "", true,
         "certyfikat serwera jest wystawiony dla „inny.example”, nie dla „127.0.0.1”", true},
        {"expired certificate from the CA", "expired", false, "", true, "certyfikat serwera wygasł",
         true},
        {"certificate from the CA, no authentication", "right", false, "", true,
         "serwer przyjął połączenie bez sprawdzenia hasła", false},
        {"certificate from the CA, asks for the password in clear", "right", true, "", true,
         "serwer żąda hasła inaczej niż przez SCRAM z wiązaniem kanału: hasła nie wysłano", false},
        {"Posrednik=1, certificate from the CA, no authentication", "right", false, "", true,
         "serwer przyjął połączenie bez sprawdzenia hasła (Posrednik=1)", false, true},
        {"SSL=require chosen, self-signed, no authentication", "self-signed", false, "require",
         false, "serwer przyjął połączenie bez sprawdzenia hasła", false},
        {"SSL=disable chosen: the unsafe choice hands over the rows", "self-signed", false,
         "disable", false, "", false},
    };
    const std::string password = "haslo-stacji-Zx81";
    for (const ImpostorCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> serve{"/usr/bin/python3", ImpostorScript(), "serve",
                                       Certificates(std::string(c.certificate) + ".crt"),
                                       Certificates(std::string(c.certificate) + ".key")};
        if (c.asksForPassword) serve.push_back("--ask-password");
        waga::test::ChildProcess impostor(serve, "/");
        ASSERT_TRUE(
            WaitUntil([&] { return impostor.Stdout().find('\n') != std::string::npos; }, 20s))
            << impostor.Stderr();
        const int port = std::atoi(impostor.Stdout().c_str());
        ASSERT_GT(port, 0);

        waga::test::TempDir station;
        AddOnSettings settings;
        settings.central.enabled = true;
        settings.central.host = "127.0.0.1";
        settings.central.port = port;
        settings.central.database = "waga";
        settings.central.user = "stacja1";
        if (*c.ssl) settings.central.ssl = c.ssl;
        if (c.trustsTestCa) settings.central.ca = Certificates("ca.crt");
        settings.central.station = "stacja1";
        settings.central.pooler = c.pooler;
        std::string error;
        ASSERT_TRUE(SaveAddOnSettings(settings, error, station.Path())) << error;
        waga::test::WriteFile(station.File("pgpass"), "127.0.0.1:" + std::to_string(port) +
                                                          ":waga:stacja1:" + password + "\n");
        ::chmod(station.File("pgpass").c_str(), 0600);
        const std::string journal = station.File("dziennik.sqlite");
        ASSERT_TRUE(WriteBacklog(QString::fromStdString(journal), 5));

        // No ~/.postgresql/root.crt to fall back on: the home folder is the station's.
        waga::test::ScopedEnv home("HOME", station.Path());
        waga::test::ScopedEnv passwords("PGPASSFILE", station.File("pgpass"));
        waga::test::ScopedEnv cap("WAGA_CENTRAL_RETRY_MAX_MS", "300");
        waga::test::ChildProcess uploader({waga::test::BinPath("waga-central"), station.Path()},
                                          station.Path());
        const std::string expected =
            *c.cause ? "brak połączenia: " + std::string(c.cause) : "połączona, zaległe: 0";
        EXPECT_TRUE(
            WaitUntil([&] { return uploader.Stdout().find(expected) != std::string::npos; }, 30s))
            << uploader.Stdout() << uploader.Stderr();
        uploader.Signal(SIGTERM);
        EXPECT_EQ(uploader.Wait(), 0) << uploader.Stderr();
        impostor.Signal(SIGKILL);
        impostor.Wait();

        const std::string heard = impostor.Stdout();
        EXPECT_EQ(heard.find(password), std::string::npos) << heard;
        if (settings.central.ssl != "verify-full") {
            EXPECT_NE(uploader.Stderr().find("Niebezpieczne: SSL=" + settings.central.ssl),
                      std::string::npos)
                << uploader.Stderr();
        }
        if (!*c.cause) {  // the control: the impostor is able to take rows when let in
            EXPECT_NE(heard.find("weighing_lines"), std::string::npos) << heard;
            EXPECT_EQ(AckedSeq(QString::fromStdString(journal)), 5);
            continue;
        }
        EXPECT_NE(uploader.Stderr().find("waga-central: " + std::string(c.cause)),
                  std::string::npos)
            << uploader.Stderr();
        EXPECT_EQ(AckedSeq(QString::fromStdString(journal)), 0);
        EXPECT_EQ(heard.find("QUERY"), std::string::npos) << heard;
        EXPECT_EQ(heard.find("STARTUP") == std::string::npos, c.tlsRefused) << heard;
    }
}

// A station's rights, tried as stacja2 next to stacja1's uploaded rows.

struct RightsCase {
    const char* what;
    const char* statement;
    const char* result;    // the first value, or the rows changed ("rows 1"); empty: not checked
    const char* sqlState;  // of the server's refusal; empty: it succeeds
};

// Runs one case on `link`.
void Try(central::PgLink& link, const RightsCase& c) {
    SCOPED_TRACE(c.what);
    std::vector<central::PgResult> results;
    ASSERT_EQ(link.Exec(c.statement, results, central::DeadlineIn(20s)), central::PgWait::Done)
        << link.Error().toStdString();
    ASSERT_EQ(results.size(), 1u);
    const central::PgResult& result = results[0];
    if (*c.sqlState) {
        EXPECT_FALSE(result.Ok());
        EXPECT_EQ(result.SqlState().toStdString(), c.sqlState) << result.Message().toStdString();
        return;
    }
    ASSERT_TRUE(result.Ok()) << result.Message().toStdString();
    if (std::string(c.result).rfind("rows ", 0) == 0) {
        EXPECT_EQ("rows " + std::to_string(result.AffectedRows()), c.result);
    } else if (*c.result) {
        ASSERT_EQ(result.Rows(), 1);
        EXPECT_EQ(result.Text(0, 0).toStdString(), c.result);
    }
}

TEST(StationRights, AStationReadsAndChangesOnlyItsOwnRowsThroughTheTableAndTheView) {
    CentralServer server("stacja1,stacja2");
    ASSERT_TRUE(server.Ok()) << server.Log();
    waga::test::ScopedEnv passwords("PGPASSFILE", server.PgPassPath());
    waga::test::TempDir dir;
    const QString journal = QString::fromStdString(dir.File("dziennik.sqlite"));
    ASSERT_TRUE(WriteBacklog(journal, 3));
    {
        central::CentralUploader uploader;
        central::UploaderConfig config;
        config.settings = server.SettingsFor("stacja1");
        config.journalPath = journal;
        config.retryCapMs = 300;
        uploader.Apply(config);
        ExpectEqualDigests(WaitForEqualRows(server, QStringLiteral("stacja1"), journal));
    }

    const std::string before = server
                                   .Sql(
                                       "SELECT md5(string_agg(weighing_lines::text, ';' ORDER "
                                       "BY seq)) FROM weighing_lines")
                                   .value_or("?");
    const char* row = "(station, seq, kind, first_at, last_at, count, text, raw, unit, port)";
    const std::string insertOwn = std::string("INSERT INTO weighing_lines ") + row +
                                  " VALUES ('stacja2', 1, 'reading', now(), now(), 1, '7', '\\x37',"
                                  " 'kg', 'COM1')";
    const std::string insertOther = std::string("INSERT INTO weighing_lines ") + row +
                                    " VALUES ('stacja1', 1, 'reading', now(), now(), 1, '7',"
                                    " '\\x37', 'kg', 'COM1')";
    const std::string upsertOther =
        insertOther +
        " ON CONFLICT (station, seq, first_at) DO UPDATE SET count = 99,"
        " last_at = EXCLUDED.last_at";
    // 42501: insufficient privilege (a right, a row policy, not the owner); 23514: a row whose
    // count or last_at would go down; 25006: a read-only transaction.
    const RightsCase cases[] = {
        {"inserts its own row", insertOwn.c_str(), "rows 1", ""},
        {"reads its own rows only", "SELECT string_agg(DISTINCT station, ',') FROM weighing_lines",
         "stacja2", ""},
        {"another station's rows are not there",
         "SELECT count(*) FROM weighing_lines WHERE station = 'stacja1'", "0", ""},
        {"the view is not the stations'", "SELECT station FROM latest_weight", "", "42501"},
        {"inserts no row of another station", insertOther.c_str(), "", "42501"},
        {"the upsert merges nothing into another station's row", upsertOther.c_str(), "", "42501"},
        {"raises count and last_at of its own row",
         "UPDATE weighing_lines SET count = count + 1, last_at = now() WHERE seq = 1", "rows 1",
         ""},
        {"lowers no count and moves no last time back",
         "UPDATE weighing_lines SET count = -5, last_at = '1970-01-01'", "", "23514"},
        {"lowers no count", "UPDATE weighing_lines SET count = count - 1", "", "23514"},
        {"moves no last time back", "UPDATE weighing_lines SET last_at = last_at - interval '1 ms'",
         "", "23514"},
        {"changes nothing of another station",
         "UPDATE weighing_lines SET count = 99 WHERE station = 'stacja1'", "rows 0", ""},
        {"changes no content", "UPDATE weighing_lines SET text = 'x'", "", "42501"},
        {"hands no row to another station", "UPDATE weighing_lines SET station = 'stacja1'", "",
         "42501"},
        {"deletes nothing", "DELETE FROM weighing_lines", "", "42501"},
        {"turns no row-level security off", "ALTER TABLE weighing_lines DISABLE ROW LEVEL SECURITY",
         "", "42501"},
        {"drops no policy", "DROP POLICY station_reads_own ON weighing_lines", "", "42501"},
        {"becomes no owner", "SET ROLE waga_owner", "", "42501"},
        {"creates no table", "CREATE TABLE weighing_copy (x int)", "", "42501"},
        {"makes no partition", "SELECT waga_make_partition(now())", "", "42501"},
        {"may copy a batch into a table of its own session", "CREATE TEMP TABLE t AS SELECT 1 AS x",
         "", ""},
    };
    {
        const auto link = server.LinkAs("stacja2");
        ASSERT_TRUE(link);
        for (const RightsCase& c : cases) Try(*link, c);
    }
    EXPECT_EQ(server.Sql("SELECT md5(string_agg(weighing_lines::text, ';' ORDER BY seq)) FROM "
                         "weighing_lines WHERE station = 'stacja1'"),
              before);
    EXPECT_EQ(server.Sql("SELECT count FROM weighing_lines WHERE station = 'stacja2'"), "2");

    // Granted after all, the view still reads with the reader's rights: its own row only; the
    // ERP reads every station's.
    ASSERT_TRUE(server.Sql("GRANT SELECT ON latest_weight TO waga_stations"));
    {
        const auto station = server.LinkAs("stacja2");
        ASSERT_TRUE(station);
        Try(*station, {"the view shows only its own row",
                       "SELECT string_agg(station, ',') FROM latest_weight", "stacja2", ""});
        const auto erp = server.LinkAs("waga_erp");
        ASSERT_TRUE(erp);
        Try(*erp, {"the ERP reads every station",
                   "SELECT string_agg(station, ',' ORDER BY station) FROM latest_weight",
                   "stacja1,stacja2", ""});
        Try(*erp, {"the ERP writes nothing", insertOwn.c_str(), "", "25006"});
    }
}

}  // namespace
