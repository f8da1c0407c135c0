// The journal in the built program (build/bin/Project1) with the simulator or a pseudo-terminal
// behind COM2: the journal holds every line sent, in order, byte for byte, with times inside
// the run, as waga-journal exports it; and with each fault of the journal (a file that is not a
// database, a file locked by another process, a folder the journal may not write) the day's
// recording file is still exactly what was sent and the cause is told once.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <thread>

#include "LinePipeline.h"
#include "ProgramRun.h"
#include "TestSupport.h"

using namespace std::chrono_literals;
using waga::test::BinPath;
using waga::test::ChildProcess;
using waga::test::LinesOf;
using waga::test::ReadFile;
using waga::test::WaitUntil;
using waga::test::Workplace;

namespace {

// The journal as waga-journal exports it: each row's bytes repeated `count` times, and the
// rows' times.
struct Exported {
    std::vector<std::string> lines;
    std::vector<std::int64_t> times;
    int exitCode = -1;
    std::string csv;
};

Exported Export(const std::string& dir) {
    Exported out;
    ChildProcess json({BinPath("waga-journal"), "export", "--format", "json"}, dir);
    out.exitCode = json.Wait();
    for (const QJsonValue& value :
         QJsonDocument::fromJson(QByteArray::fromStdString(json.Stdout())).array()) {
        const QJsonObject row = value.toObject();
        const QByteArray bytes =
            QByteArray::fromBase64(row[QStringLiteral("bytes")].toString().toLatin1());
        for (int i = 0; i < row[QStringLiteral("count")].toInt(); ++i) {
            out.lines.push_back(bytes.toStdString());
        }
        for (const char* key : {"first", "last"}) {
            out.times.push_back(
                QDateTime::fromString(row[QLatin1String(key)].toString(), Qt::ISODateWithMs)
                    .toMSecsSinceEpoch());
        }
    }
    ChildProcess csv({BinPath("waga-journal"), "export"}, dir);
    if (csv.Wait() == 0) out.csv = csv.Stdout();
    return out;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(JournalProgram, ASimulatorRunIsInTheJournalLineForLineAndInTheDayFile) {
    Workplace place;
    place.Write("konfig.ini", "Zapisuj_display=1\r\nPredkosc_transmisji=115200\r\n");
    place.Pty().CloseSlave();  // the simulator brings its own terminal behind COM2
    std::filesystem::remove(place.File("COM2"));
    waga::test::TempDir logDir;
    ChildProcess sim({BinPath("scale-sim"), "--link", place.File("COM2"), "--mixed", "--rate",
                      "300", "--count", "600", "--report-every", "0.2", "--seed", "5",
                      "--wait-open", "--log", logDir.File("sent"), "--quiet"},
                     place.Dir());
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(place.File("COM2")); }));
    const std::int64_t startMs = UtcNowMs();
    auto program = waga::test::StartProgram(place);
    ASSERT_EQ(sim.Wait(30s), 0) << sim.Stderr();
    const std::string sent = ReadFile(logDir.File("sent"));
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(place.DayFile()).size() >= sent.size(); }));
    program->Signal(SIGTERM);
    ASSERT_EQ(program->Wait(), 0) << program->Stderr();
    const std::int64_t endMs = UtcNowMs();

    EXPECT_EQ(ReadFile(place.DayFile()), sent);
    const Exported journal = Export(place.Dir());
    ASSERT_EQ(journal.exitCode, 0);
    EXPECT_EQ(journal.lines.size(), LinesOf(sent).size());
    EXPECT_TRUE(journal.lines == LinesOf(sent)) << "the journal differs from what was sent";
    for (std::int64_t t : journal.times) {
        EXPECT_GE(t, startMs);
        EXPECT_LE(t, endMs);
    }
    // The CSV: the byte-order mark, the header, and at least one row per line run.
    EXPECT_EQ(journal.csv.rfind("\xEF\xBB\xBFOd;Do;Liczba;Rodzaj;", 0), 0u);
    EXPECT_EQ(Count(journal.csv, "\r\n") - 1, journal.times.size() / 2);
}

// Lines with every byte a line can hold, readings among them.
std::string Stream() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) {
        if (b == '\r' || b == '\n') continue;
        bytes += "12,5\r\n12,5\r\n";
        bytes += std::string("raport ") + char(b) + "\r\n";
    }
    return bytes;
}

struct FaultRow {
    const char* name;
    const char* told;  // part of the notice on standard error
    bool asNobody;
    std::function<void(Workplace&)> before;
};

// Another process keeps the journal's write lock while it runs.
std::unique_ptr<ChildProcess> locker;

const FaultRow kFaults[] = {
    {"NotADatabase", "Dziennik: Plik dziennika był uszkodzony", false,
     [](Workplace& place) { place.Write("dziennik.sqlite", std::string(3000, 'x')); }},
    {"LockedByAnotherProcess", "Dziennik: Plik dziennika jest zablokowany", false,
     [](Workplace& place) {
         locker = std::make_unique<ChildProcess>(
             std::vector<std::string>{"/usr/bin/python3", "-c",
                                      "import sqlite3,sys,time\n"
                                      "c=sqlite3.connect('dziennik.sqlite',isolation_level=None)\n"
                                      "c.execute('PRAGMA journal_mode=WAL')\n"
                                      "c.execute('CREATE TABLE IF NOT EXISTS t(x)')\n"
                                      "c.execute('BEGIN EXCLUSIVE')\n"
                                      "c.execute('INSERT INTO t VALUES(1)')\n"
                                      "open('locked','w').close()\n"
                                      "time.sleep(120)\n"},
             place.Dir());
         ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(place.File("locked")); }));
     }},
    {"FolderNotWritable", "Dziennik: Nie można zapisywać", true,
     [](Workplace& place) {
         // The day's file exists and may be appended to; the folder takes no new file.
         place.Write(std::filesystem::path(place.DayFile()).filename().string(), "");
         ASSERT_EQ(::chown(place.DayFile().c_str(), waga::test::kNobodyId, waga::test::kNobodyId),
                   0);
         ASSERT_EQ(::chown(place.Dir().c_str(), 0, 0), 0);
         ASSERT_EQ(::chmod(place.Dir().c_str(), 0755), 0);
     }},
};

void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.name; }

class JournalProgramFault : public testing::TestWithParam<FaultRow> {};

TEST_P(JournalProgramFault, TheDayFileStaysExactAndTheCauseIsToldOnce) {
    const FaultRow& row = GetParam();
    if (row.asNobody && ::geteuid() != 0) GTEST_SKIP() << "needs root to hand the folder over";
    Workplace place(row.asNobody ? waga::test::kNobodyId : 0);
    place.Write("konfig.ini", "Zapisuj_display=1\r\n");
    if (row.asNobody) {
        ASSERT_EQ(
            ::chown(place.File("konfig.ini").c_str(), waga::test::kNobodyId, waga::test::kNobodyId),
            0);
    }
    row.before(place);
    auto program = waga::test::StartProgram(place, {.display = {}, .asNobody = row.asNobody});
    // The port drops what waited before it opened: a probe line until one is recorded.
    ASSERT_TRUE(WaitUntil(
        [&] {
            place.Pty().Write("0\r\n");
            return !ReadFile(place.DayFile()).empty();
        },
        20s))
        << program->Stderr();
    std::this_thread::sleep_for(300ms);
    const std::string sent = ReadFile(place.DayFile()) + Stream();
    ASSERT_TRUE(place.Pty().Write(Stream()));
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(place.DayFile()).size() >= sent.size(); }, 20s))
        << program->Stderr() << ReadFile(place.DayFile()).size() << " of " << sent.size();
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(), 0);
    if (locker) {
        locker->Signal(SIGKILL);
        locker->Wait();
        locker.reset();
    }
    EXPECT_EQ(ReadFile(place.DayFile()), sent);
    EXPECT_EQ(Count(program->Stderr(), row.told), 1u) << program->Stderr();
    if (std::string(row.name) == "NotADatabase") {
        // Moved aside as it was, and a new journal holds every line.
        int aside = 0;
        for (const auto& entry : std::filesystem::directory_iterator(place.Dir())) {
            if (entry.path().filename().string().starts_with("dziennik.sqlite.uszkodzony-")) {
                ++aside;
                EXPECT_EQ(ReadFile(entry.path().string()), std::string(3000, 'x'));
            }
        }
        EXPECT_EQ(aside, 1);
        EXPECT_TRUE(Export(place.Dir()).lines == LinesOf(sent));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, JournalProgramFault, testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
