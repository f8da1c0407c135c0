// The built program, offscreen, as a separate process: closed from outside by each signal, its
// settings carried across a restart, the simulator's lines in the day's file, and a konfig.ini
// it may not replace.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "ProgramRun.h"
#include "SettingsFormat.h"

using namespace std::chrono_literals;
using namespace waga::test;

namespace {

using waga::test::ChildProcess;
using waga::test::WaitUntil;

const std::string kDefaultKonfig =
    "Numer_portu=2\r\nPredkosc_transmisji=2400\r\nZapis_do_pliku=1\r\nZapisuj_display=0\r\n"
    "Wyswietlaj_display=0\r\nMaksym_ilosc_lini=300\r\nKasuj_poczatek=1\r\nJednostka=kg\r\n";

struct SignalRow {
    const char* name;
    int signal;
};

TEST(ClosedFromOutside, EachSignalClosesLikeTheCloseButton) {
    const SignalRow rows[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}};
    for (const SignalRow& row : rows) {
        SCOPED_TRACE(row.name);
        Workplace place;
        ASSERT_EQ(RunAndClose(place, row.signal), 0);
        // No konfig.ini at start: the close writes exactly the eight default lines.
        EXPECT_EQ(place.Read("konfig.ini"), kDefaultKonfig);
        EXPECT_EQ(place.Read(std::filesystem::path(place.DayFile()).filename()), "");
    }
}

// The program keeps its settings in konfig.ini only: a run writes nothing into the user's home
// (Qt's own settings of the save dialog included, whose shared lock once held a closing copy)
// but the station's key that seals the journal, made at the first start, for its user alone.
TEST(ClosedFromOutside, WritesNothingIntoTheHomeDirectory) {
    Workplace place;
    waga::test::TempDir home;
    int status = -1;
    {
        // Put back as they were after the run, an unset HOME included.
        ScopedEnv homeEnv("HOME", home.Path());
        ScopedEnv configEnv("XDG_CONFIG_HOME", home.File(".config"));
        status = RunAndClose(place, SIGTERM);
    }
    EXPECT_EQ(status, 0);
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home.Path()))
        written.push_back(entry.path().string());
    std::sort(written.begin(), written.end());
    const std::string key = home.File(".config/waga/klucz-stacji");
    EXPECT_EQ(written,
              (std::vector<std::string>{home.File(".config"), home.File(".config/waga"), key}));
    struct stat st {};
    ASSERT_EQ(::lstat(key.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Restart, SettingsSurvive) {
    Workplace place;
    const SettingsWrite settings = {pnCOM2, br9600,          true, true, true, Win1250Text("500"),
                                    false,  Win1250Text("t")};
    // The same settings in another order, with a line the reader ignores.
    place.Write("konfig.ini",
                "Jednostka=t\r\nKasuj_poczatek=0\r\nMaksym_ilosc_lini=500\r\nnieznany=1\r\n"
                "Wyswietlaj_display=1\r\nZapisuj_display=1\r\nZapis_do_pliku=1\r\n"
                "Predkosc_transmisji=9600\r\nNumer_portu=2\r\n");

    ASSERT_EQ(RunAndClose(place, SIGTERM), 0);
    const std::string afterFirst = place.Read("konfig.ini");
    EXPECT_EQ(afterFirst, FormatSettings(settings));
    ASSERT_EQ(RunAndClose(place, SIGTERM), 0);
    EXPECT_EQ(place.Read("konfig.ini"), afterFirst);
}

// Readings are recorded too (Zapisuj_display=1), so every line the simulator sends, readings,
// reports and lines of arbitrary bytes alike, must be in the day's file, byte for byte.
TEST(Recording, SimulatorLinesLandInTheDayFile) {
    Workplace place;
    place.Write("konfig.ini", "Zapisuj_display=1\r\nPredkosc_transmisji=115200\r\n");
    place.Pty().CloseSlave();  // the simulator brings its own terminal behind COM2
    std::filesystem::remove(place.File("COM2"));
    waga::test::TempDir logDir;
    const std::string log = logDir.File("sent");
    ChildProcess sim({waga::test::BinPath("scale-sim"), "--link", place.File("COM2"), "--mixed",
                      "--rate", "200", "--count", "150", "--report-every", "0.2", "--seed", "7",
                      "--wait-open", "--log", log, "--quiet"},
                     place.Dir());
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(place.File("COM2")); }));

    auto program = StartProgram(place);
    ASSERT_EQ(sim.Wait(std::chrono::seconds(30)), 0) << sim.Stderr();
    const std::string sent = waga::test::ReadFile(log);
    ASSERT_FALSE(sent.empty());
    EXPECT_TRUE(
        WaitUntil([&] { return waga::test::ReadFile(place.DayFile()).size() >= sent.size(); }));
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(), 0);
    EXPECT_EQ(waga::test::ReadFile(place.DayFile()), sent);
}

// The program as an unprivileged user: a konfig.ini it may not replace stays as it was, one it
// may replace gets the program's settings.
TEST(ReadOnlyKonfig, StaysAsItWasAtClose) {
    struct Row {
        const char* name;
        uid_t owner;
        mode_t mode;
        bool replaced;
    };
    const Row rows[] = {{"owned by root, read-only", 0, 0444, false},
                        {"owned by the user, read-only", waga::test::kNobodyId, 0444, false},
                        {"owned by the user, writable", waga::test::kNobodyId, 0644, true}};
    const std::string handWritten = "Jednostka=g\r\nNumer_portu=2\r\n";
    const std::string saved = FormatSettings(
        {pnCOM2, br2400, true, false, false, Win1250Text("300"), true, Win1250Text("g")});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Workplace place(waga::test::kNobodyId);
        place.Write("konfig.ini", handWritten);
        ASSERT_EQ(::chown(place.File("konfig.ini").c_str(), row.owner, row.owner), 0);
        ASSERT_EQ(::chmod(place.File("konfig.ini").c_str(), row.mode), 0);

        ASSERT_EQ(RunAndClose(place, SIGTERM, {.display = {}, .asNobody = true}), 0);

        EXPECT_EQ(place.Read("konfig.ini"), row.replaced ? saved : handWritten);
        struct stat after {};
        ASSERT_EQ(::stat(place.File("konfig.ini").c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 0777, row.mode);
        int leftovers = 0;
        for (const auto& entry : std::filesystem::directory_iterator(place.Dir()))
            leftovers += entry.path().filename().string().starts_with("konfig.ini.") ? 1 : 0;
        EXPECT_EQ(leftovers, 0);
    }
}

}  // namespace

// The terminal goes away while the program records (the simulator killed mid-stream, then a
// simulator that closes its terminal when done), and each time a new terminal is linked as COM2:
// recording resumes by itself, nothing sent after it resumes is lost and no fragment from before
// is joined to a line. A SIGTERM while it is still retrying closes the program cleanly.
TEST(Reconnect, RecordingResumesByItselfWhenANewTerminalIsLinked) {
    Workplace place;
    place.Write("konfig.ini", "Zapisuj_display=1\r\nPredkosc_transmisji=115200\r\n");
    place.Pty().CloseSlave();  // each simulator brings its own terminal behind COM2
    std::filesystem::remove(place.File("COM2"));
    waga::test::TempDir logDir;
    auto startSim = [&](int round, const std::vector<std::string>& extra) {
        std::vector<std::string> argv = {BinPath("scale-sim"),
                                         "--link",
                                         place.File("COM2"),
                                         "--mixed",
                                         "--rate",
                                         "300",
                                         "--wait-open",
                                         "--seed",
                                         std::to_string(round),
                                         "--log",
                                         logDir.File("sent" + std::to_string(round)),
                                         "--quiet"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto sim = std::make_unique<ChildProcess>(argv, place.Dir());
        EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(place.File("COM2")); }));
        return sim;
    };
    auto recorded = [&] { return ReadFile(place.DayFile()); };

    auto sim = startSim(1, {});
    auto program = StartProgram(place);
    ASSERT_TRUE(WaitUntil([&] { return recorded().size() > 2000; })) << program->Stderr();
    sim->Signal(SIGKILL);  // the terminal goes mid-stream
    ASSERT_EQ(sim->Wait(), 128 + SIGKILL);

    for (int round = 2; round <= 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // What was recorded from the terminal that went: whole lines only.
        ASSERT_TRUE(WaitUntil([&] {
            const std::string now = recorded();
            return now.size() >= 2 && now.compare(now.size() - 2, 2, "\r\n") == 0;
        }));
        const std::string before = recorded();
        const auto linked = std::chrono::steady_clock::now();
        sim = startSim(round, {"--count", "200"});
        ASSERT_TRUE(WaitUntil([&] { return recorded().size() > before.size(); }, 3s));
        std::printf("recording resumed %lld ms after the new terminal was linked\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - linked)
                                               .count()));
        ASSERT_EQ(sim->Wait(std::chrono::seconds(30)), 0) << sim->Stderr();
        const std::string sent = ReadFile(logDir.File("sent" + std::to_string(round)));
        // The program purges the terminal's queues as it opens the port; the simulator waits a
        // moment after the port is taken before it sends, but a program held up longer than that
        // (a busy machine) purges the first lines. What is guaranteed: from the first byte
        // recorded on, nothing is lost, and what was purged were whole lines (the simulator
        // writes a line at a time), so no fragment starts the recording.
        ASSERT_TRUE(WaitUntil([&] {
            const std::string now = recorded();
            return now.size() > before.size() && sent.ends_with(now.substr(before.size()));
        })) << "the recording since the new terminal is not the end of what was sent";
        const std::string now = recorded();
        ASSERT_EQ(now.substr(0, before.size()), before);
        const std::size_t purged = sent.size() - (now.size() - before.size());
        EXPECT_TRUE(purged == 0 || sent[purged - 1] == '\n') << "a fragment began the recording";
        std::printf("purged at the open: %zu of the %zu bytes sent\n", purged, sent.size());
    }

    // The last simulator closed its terminal: the program says so once and keeps retrying; told
    // to close then, it closes cleanly.
    std::filesystem::remove(place.File("COM2"));
    ASSERT_TRUE(
        WaitUntil([&] { return program->Stderr().find("przerwane") != std::string::npos; }));
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(), 0) << program->Stderr();
    EXPECT_NE(place.Read("konfig.ini").find("Predkosc_transmisji=115200\r\n"), std::string::npos);
}
