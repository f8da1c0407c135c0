// The upload through PgBouncer in transaction mode (scripts/central-db pooler), the way a large
// firm runs it: every station's batches on whichever server connection is free.
#include <gtest/gtest.h>

#include <thread>

#include "AddOnSettings.h"
#include "CentralServer.h"
#include "CentralUploader.h"
#include "ProgramRun.h"
#include "StationRig.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

// Two stations and one server connection between them: their batches take turns on the same
// server session, so nothing of one may stay there for the next. The rows arrive as the
// journals hold them (runs growing between batches included), seen by the administrator and by
// waga-central --sprawdz through the pooler; the server never sees a station's own login.
TEST(CentralPooler, TwoStationsShareOneServerConnectionRowForRow) {
    CentralServer server("stacja1,stacja2");
    ASSERT_TRUE(server.Ok()) << server.Log();
    ASSERT_TRUE(server.StartPooler(1)) << server.Log();
    waga::test::ScopedEnv passwords("PGPASSFILE", server.PgPassPath());
    const std::string names[] = {"stacja1", "stacja2"};
    waga::test::TempDir folders[2];
    std::unique_ptr<Feeder> feeders[2];
    central::CentralUploader uploaders[2];
    for (int i = 0; i < 2; ++i) {
        const QString journal = QString::fromStdString(folders[i].File("dziennik.sqlite"));
        feeders[i] = std::make_unique<Feeder>(journal, 200, 1000 * i);
        central::UploaderConfig config;
        config.settings = server.PoolerSettingsFor(names[i]);
        config.settings.gatherMs = 50;  // many small transactions, interleaved
        config.journalPath = journal;
        config.retryCapMs = 300;
        config.pollMs = 200;
        uploaders[i].Apply(config);
        AddOnSettings settings;
        settings.central = config.settings;
        std::string error;
        ASSERT_TRUE(SaveAddOnSettings(settings, error, folders[i].Path())) << error;
    }
    // Both stations' batches have gone through the pooler, then the journals go on growing a
    // while (runs growing between batches).
    ASSERT_TRUE(waga::test::WaitUntil(
        [&] { return uploaders[0].Status().ackedSeq > 0 && uploaders[1].Status().ackedSeq > 0; },
        60s));
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(server.Sql("SELECT count(*) FILTER (WHERE usename = 'waga_pooler') || ' ' ||"
                         " count(*) FILTER (WHERE usename LIKE 'stacja%') FROM pg_stat_activity"),
              "1 0");
    for (auto& feeder : feeders) {
        feeder->Stop();
        EXPECT_FALSE(feeder->Failed());
    }
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(names[i]);
        const QString station = QString::fromStdString(names[i]);
        ExpectEqualDigests(WaitForEqualRows(
            server, station, QString::fromStdString(folders[i].File("dziennik.sqlite"))));
        waga::test::ChildProcess check({waga::test::BinPath("waga-central"), "--sprawdz"},
                                       folders[i].Path());
        EXPECT_EQ(check.Wait(60s), 0) << check.Stdout() << check.Stderr();
        EXPECT_NE(check.Stdout().find("zgodne"), std::string::npos) << check.Stdout();
    }
}

}  // namespace
