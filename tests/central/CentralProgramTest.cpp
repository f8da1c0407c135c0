// The real program (build/bin/Project1, offscreen) uploading the journal in its working
// directory to a real server: killed with SIGKILL while uploading and started again, the central
// rows end equal to the journal's; closed while the server hangs, it ends within seconds and
// nothing it acknowledged is missing centrally.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <thread>
#include <utility>

#include "AddOnSettings.h"
#include "CentralServer.h"
#include "ProgramRun.h"
#include "StationRig.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

// The program in a workplace whose dodatki.ini uploads to `server` as stacja1.
void Configure(CentralServer& server, const waga::test::Workplace& place) {
    AddOnSettings settings;
    settings.central = server.SettingsFor("stacja1");
    std::string error;
    ASSERT_TRUE(SaveAddOnSettings(settings, error, place.Dir())) << error;
}

TEST(CentralProgram, KilledWhileUploadingThenStartedAgain) {
    CentralServer server("stacja1");
    ASSERT_TRUE(server.Ok()) << server.Log();
    waga::test::Workplace place;
    waga::test::ScopedEnv passwords("PGPASSFILE", server.PgPassPath());
    waga::test::ScopedEnv cap("WAGA_CENTRAL_RETRY_MAX_MS", "300");
    Configure(server, place);
    const QString journal = QString::fromStdString(place.File("dziennik.sqlite"));
    ASSERT_TRUE(WriteBacklog(journal, 60000));
    Feeder feeder(journal, 300, 60000);
    {
        auto first = waga::test::StartProgram(place);
        ASSERT_TRUE(waga::test::WaitUntil([&] { return AckedSeq(journal) > 3000; }, 30s))
            << first->Stderr();
        first->Signal(SIGKILL);
        EXPECT_EQ(first->Wait(), 128 + SIGKILL);
    }
    EXPECT_LT(AckedSeq(journal), 60000);
    auto second = waga::test::StartProgram(place);
    std::this_thread::sleep_for(1s);
    feeder.Stop();
    EXPECT_FALSE(feeder.Failed());
    ExpectEqualDigests(WaitForEqualRows(server, QStringLiteral("stacja1"), journal));
    second->Signal(SIGTERM);
    EXPECT_EQ(second->Wait(), 0) << second->Stderr();
}

// How the server hangs, and how it comes back.
struct Hang {
    const char* what;
    bool frozen;  // every server process stopped (SIGSTOP); else the table locked by a session
};

TEST(CentralProgram, ClosedWhileTheServerHangsEndsWithinSecondsAndLosesNothingAcknowledged) {
    for (const Hang& hang : {Hang{"the server's processes stopped", true},
                             Hang{"the table locked by another session", false}}) {
        SCOPED_TRACE(hang.what);
        CentralServer server("stacja1");
        ASSERT_TRUE(server.Ok()) << server.Log();
        waga::test::Workplace place;
        waga::test::ScopedEnv passwords("PGPASSFILE", server.PgPassPath());
        Configure(server, place);
        const QString journal = QString::fromStdString(place.File("dziennik.sqlite"));
        ASSERT_TRUE(WriteBacklog(journal, 20000));
        Feeder feeder(journal, 300, 20000);
        auto program = waga::test::StartProgram(place);
        ASSERT_TRUE(waga::test::WaitUntil([&] { return AckedSeq(journal) > 2000; }, 30s))
            << program->Stderr();
        std::unique_ptr<central::PgLink> locker;
        if (hang.frozen) {
            ASSERT_TRUE(server.Freeze());
        } else {
            locker = server.AdminLink();
            ASSERT_TRUE(locker);
            ASSERT_EQ(locker->Run("BEGIN; LOCK TABLE weighing_lines IN ACCESS EXCLUSIVE MODE",
                                  central::DeadlineIn(20s)),
                      central::PgWait::Done)
                << locker->Error().toStdString();
        }
        // The upload is now waiting for the server in the middle of a batch: its position
        // stops moving (the batch before may still be recorded as it starts to wait, later on a
        // busy machine). The bound only ends a run that fails.
        qint64 waiting = AckedSeq(journal);
        EXPECT_TRUE(waga::test::WaitUntil(
            [&] {
                std::this_thread::sleep_for(1000ms);
                const qint64 before = std::exchange(waiting, AckedSeq(journal));
                return before == waiting;
            },
            30s))
            << "the acknowledged position still moves: " << waiting;
        const auto asked = std::chrono::steady_clock::now();
        program->Signal(SIGTERM);
        const int status = program->Wait(20s);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - asked);
        std::printf("[ figures  ] %s: the program closed %lld ms after SIGTERM\n", hang.what,
                    static_cast<long long>(took.count()));
        EXPECT_EQ(status, 0) << program->Stderr();

        if (hang.frozen) {
            ASSERT_TRUE(server.Thaw());
        } else {
            ASSERT_EQ(locker->Run("ROLLBACK", central::DeadlineIn(20s)), central::PgWait::Done);
        }
        feeder.Stop();
        // Every row at or below the acknowledged position is there centrally, as it is in the
        // journal (the rows after it are still to send).
        waga::test::ChildProcess check({waga::test::BinPath("waga-central"), "--sprawdz"},
                                       place.Dir());
        EXPECT_EQ(check.Wait(60s), 0) << check.Stdout() << check.Stderr();
        EXPECT_GT(AckedSeq(journal), 2000);
    }
}

}  // namespace
