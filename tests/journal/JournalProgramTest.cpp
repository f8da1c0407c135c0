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
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "LinePipeline.h"
#include "ProgramRun.h"
#include "TestSupport.h"

using namespace std::chrono_literals;
using waga::test::BinPath;
using waga::test::ChildProcess;
using waga::test::kMainTitle;
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

// The X server goes away under the program at the line limit (a session ended without closing
// it, a display that crashed): Qt ends the program without a close. The journal still holds
// every line the program took, as the day file does, and the run's folder of Qt's settings is
// gone from its TMPDIR.
TEST(JournalProgram, AnXServerThatGoesAwayCostsTheJournalNoLine) {
    waga::test::XServer x;
    ASSERT_TRUE(x.Ready()) << "Xvfb did not start";
    Workplace place;
    place.Write("konfig.ini", "Zapisuj_display=1\r\nPredkosc_transmisji=115200\r\n");
    place.Pty().CloseSlave();
    std::filesystem::remove(place.File("COM2"));
    ChildProcess sim(
        {BinPath("scale-sim"), "--link", place.File("COM2"), "--baud", "115200", "--rate", "0",
         "--digits", "--cr-only", "--duration", "30", "--wait-open", "--quiet"},
        place.Dir());
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(place.File("COM2")); }));
    auto program = waga::test::StartProgram(place, {.display = x.Display()});
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(place.DayFile()).size() > 20000; }, 20s))
        << program->Stderr();
    x.Kill();
    EXPECT_EQ(program->Wait(), 1) << program->Stderr();
    sim.Signal(SIGTERM);

    const std::vector<std::string> recorded = LinesOf(ReadFile(place.DayFile()));
    const Exported journal = Export(place.Dir());
    ASSERT_EQ(journal.exitCode, 0);
    EXPECT_EQ(journal.lines.size(), recorded.size());
    EXPECT_TRUE(journal.lines == recorded) << "the journal differs from the day file";
    for (const auto& entry : std::filesystem::directory_iterator(program->TempFolder()))
        EXPECT_FALSE(entry.path().filename().string().starts_with("Project1-")) << entry.path();
}

// Lines with every byte a line can hold, readings among them.
std::string Repeated(const std::string& text, std::size_t times) {
    std::string all;
    for (std::size_t i = 0; i < times; ++i) all += text;
    return all;
}

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

// A shell command in the working folder, as the user would tamper with it.
void Shell(Workplace& place, const std::string& command) {
    ChildProcess shell({"/bin/sh", "-c", command}, place.Dir());
    ASSERT_EQ(shell.Wait(), 0) << command << ": " << shell.Stderr();
}

// The journal's table as the writer makes it, through the sqlite3 shell.
const std::string kLinesTable =
    "CREATE TABLE lines(seq INTEGER PRIMARY KEY, kind TEXT NOT NULL, first_ms INTEGER NOT NULL,"
    " last_ms INTEGER NOT NULL, count INTEGER NOT NULL, text TEXT NOT NULL, raw BLOB NOT NULL,"
    " value REAL, unit TEXT NOT NULL, port TEXT NOT NULL);";

// A file of someone else's that a link planted in the folder points at; it must stay as it is.
const char kPlanted[] = "printf 'cudzy plik\\n' > cudzy.txt && ln -s cudzy.txt ";

std::function<void(Workplace&)> PlantLink(const std::string& name) {
    return [name](Workplace& place) { Shell(place, kPlanted + name); };
}

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
    // The mark and the rows near the top of 64 bits: refused by number, never counted on.
    {"SeqMarkAtTheLimit", "Dziennik: Plik dziennik.seq zawiera numer 9223372036854775807 spoza",
     false, [](Workplace& place) { Shell(place, "printf 9223372036854775807 > dziennik.seq"); }},
    {"RowAtTheLimit", "Dziennik: Plik dziennika zawiera wiersz o numerze 9223372036854775807",
     false,
     [](Workplace& place) {
         Shell(place, "sqlite3 dziennik.sqlite \"" + kLinesTable +
                          " INSERT INTO lines VALUES(9223372036854775807, 'report', 0, 0, 1,"
                          " 'x', x'78', NULL, '', 'COM2')\"");
     }},
    // A link planted for each of the journal's own files: refused by name, its target kept.
    {"LinkedJournal", "Dziennik: dziennik.sqlite jest dowiązaniem symbolicznym", false,
     PlantLink("dziennik.sqlite")},
    {"LinkedWriteAheadLog", "Dziennik: dziennik.sqlite-wal jest dowiązaniem symbolicznym", false,
     PlantLink("dziennik.sqlite-wal")},
    {"LinkedSharedMemory", "Dziennik: dziennik.sqlite-shm jest dowiązaniem symbolicznym", false,
     PlantLink("dziennik.sqlite-shm")},
    {"LinkedRollbackJournal", "Dziennik: dziennik.sqlite-journal jest dowiązaniem symbolicznym",
     false, PlantLink("dziennik.sqlite-journal")},
    {"LinkedSeqMark", "Dziennik: dziennik.seq jest dowiązaniem symbolicznym", false,
     PlantLink("dziennik.seq")},
    {"LinkedUnsavedRows", "Dziennik: dziennik.niezapisane jest dowiązaniem symbolicznym", false,
     PlantLink("dziennik.niezapisane")},
    {"FolderNamedLikeTheJournal", "Dziennik: W miejscu pliku dziennik.sqlite jest folder", false,
     [](Workplace& place) { Shell(place, "mkdir dziennik.sqlite"); }},
    // 4 KiB of old rows flipped to all ones in the middle of the file (the index, made last,
    // stays whole): the writer never reads them, the check at start finds them.
    {"DamagedInTheMiddle", "Dziennik: Sprawdzenie przy starcie: plik dziennika jest uszkodzony",
     false,
     [](Workplace& place) {
         Shell(place,
               "sqlite3 dziennik.sqlite \"" + kLinesTable +
                   " WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000)"
                   " INSERT INTO lines SELECT i, 'report', strftime('%s', 'now') * 1000,"
                   " strftime('%s', 'now') * 1000, 1, printf('%.1000c', 'x'), x'78', NULL, '',"
                   " 'COM2' FROM n; CREATE INDEX lines_first_ms ON lines(first_ms)\" &&"
                   " head -c 4096 /dev/zero | tr '\\000' '\\377' | dd of=dziennik.sqlite bs=4096"
                   " seek=300 count=1 conv=notrunc status=none");
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
    // Probes still on their way are recorded before the stream: once the file ends with it, the
    // file holds them all, and nothing else came before it.
    ASSERT_TRUE(place.Pty().Write(Stream()));
    std::string sent;
    ASSERT_TRUE(WaitUntil(
        [&] {
            sent = ReadFile(place.DayFile());
            return sent.ends_with(Stream());
        },
        20s))
        << program->Stderr() << sent.size() << " bytes";
    const std::size_t probes = (sent.size() - Stream().size()) / 3;
    EXPECT_EQ(sent.substr(0, sent.size() - Stream().size()), Repeated("0\r\n", probes));
    if (locker) {
        // The lock goes while the program runs: the cause clears, and is told so, and the
        // waiting lines are stored.
        locker->Signal(SIGKILL);
        locker->Wait();
        locker.reset();
        EXPECT_TRUE(WaitUntil(
            [&] { return Count(program->Stderr(), "Dziennik: działa ponownie") == 1; }, 20s))
            << program->Stderr();
    }
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(), 0);
    EXPECT_EQ(ReadFile(place.DayFile()), sent);
    EXPECT_EQ(Count(program->Stderr(), row.told), 1u) << program->Stderr();
    if (std::filesystem::exists(place.File("cudzy.txt"))) {
        EXPECT_EQ(ReadFile(place.File("cudzy.txt")), "cudzy plik\n");
    }
    // The journal's own files are the owner's alone, whatever the umask.
    for (const char* name :
         {"dziennik.sqlite", "dziennik.sqlite-wal", "dziennik.sqlite-shm", "dziennik.seq"}) {
        struct stat info {};
        if (::lstat(place.File(name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
        }
    }
    if (std::string(row.name) == "LockedByAnotherProcess") {
        EXPECT_TRUE(Export(place.Dir()).lines == LinesOf(sent));
    }
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

// ---- Outside readers ----
// On Linux a close() of any descriptor of a file drops every POSIX lock the process holds on it,
// SQLite's included; then another process's reader or writer acts as if the program were not
// there (deletes the write-ahead log, writes at the same time). Nothing in the program may open
// the journal's files but SQLite, also while the save dialog lists the working folder.

// The program in `place` on an X display, with the save dialog open on the working folder
// ("Plik", then "Zmień nazwę..."; konfig.ini keeps recording off, so no question comes first).
struct ProgramWithDialog {
    ProgramWithDialog(Workplace& place, std::vector<std::string> wrapper = {}) {
        place.Write("konfig.ini", "Zapis_do_pliku=0\r\n");
        program = waga::test::StartProgram(place, {.display = x.Display(), .wrapper = wrapper});
        const std::string window = x.WaitForWindow(kMainTitle, 0);
        if (window.empty()) return;
        pid = x.WindowPid(window);
        // Where the layout puts the "Plik" tab and the button, in the window's client area.
        x.Click(window, 639, 29);
        x.Click(window, 731, 68);
        WaitUntil([&] {
            for (const std::string& id : x.WindowsOf(pid)) {
                if (id != window) dialog = id;
            }
            return !dialog.empty();
        });
    }
    // The port drops what waited before it opened: probe lines until one is in the journal.
    // What the journal holds then, as received bytes.
    std::string Probe(Workplace& place) {
        std::vector<std::string> lines;
        WaitUntil(
            [&] {
                place.Pty().Write("0\r\n");
                std::this_thread::sleep_for(200ms);
                lines = Export(place.Dir()).lines;
                return !lines.empty();
            },
            20s);
        // Probes still on their way are stored before this line: once it is in, so are they.
        if (lines.empty() || !place.Pty().Write("1\r\n")) return {};
        WaitUntil(
            [&] {
                lines = Export(place.Dir()).lines;
                return !lines.empty() && lines.back() == "1";
            },
            20s);
        if (lines.empty() || lines.back() != "1") return {};
        std::string bytes;
        for (const std::string& line : lines) bytes += line + "\r\n";
        return bytes;
    }
    // Closes the dialog, then the program with SIGTERM; its exit status.
    int Close() {
        if (!dialog.empty()) x.PressKey(dialog, "Escape");
        if (pid > 0) ::kill(pid, SIGTERM);
        return program->Wait();
    }
    waga::test::XServer x;
    std::unique_ptr<ChildProcess> program;
    pid_t pid = -1;
    std::string dialog;
};

// Distinct readings and a report: every line a row of its own.
std::string Lines(int round, int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) {
        bytes += " " + std::to_string(round) + "." + std::to_string(100 + i) + "\r\n";
        if (i % 10 == 9) bytes += "RAPORT " + std::to_string(round * 1000 + i) + "\r\n";
    }
    return bytes;
}

// The opens of the journal's files in an `strace -f -k` trace: how many came from SQLite and
// the others (no libsqlite3 frame in the open's stack), each with its call.
struct Opens {
    int sqlite = 0;
    std::vector<std::string> others;
};

Opens OpensIn(const std::string& trace) {
    Opens opens;
    std::istringstream lines(trace);
    std::string call;
    bool fromSqlite = false;
    const auto finish = [&] {
        if (call.empty()) return;
        if (fromSqlite) {
            ++opens.sqlite;
        } else {
            opens.others.push_back(call);
        }
        call.clear();
    };
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(" > ", 0) == 0) {
            fromSqlite = fromSqlite || line.find("libsqlite3") != std::string::npos;
            continue;
        }
        finish();
        // A completed open (its stack follows); "<unfinished ...>" comes back as "resumed>".
        const bool open =
            line.find("open") != std::string::npos || line.find("creat") != std::string::npos;
        if (open && line.find("<unfinished") == std::string::npos &&
            line.find(" = -1 ") == std::string::npos && line.find(" = ") != std::string::npos) {
            call = line;
            fromSqlite = false;
        }
    }
    finish();
    return opens;
}

TEST(JournalOutsideReaders, TheSaveDialogOnTheWorkingFolderOpensNoJournalFile) {
    Workplace place;
    const std::string dir = std::filesystem::canonical(place.Dir()).string();
    waga::test::TempDir traceDir;
    const std::string trace = traceDir.File("opens");
    // The leak checker of a sanitizer build cannot work under ptrace: off for this run only.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string noLeakCheck =
        "ASAN_OPTIONS=" + (asan != nullptr && *asan ? std::string(asan) + ":" : "") +
        "detect_leaks=0";
    std::vector<std::string> strace = {
        noLeakCheck, "/usr/bin/strace", "-f", "-qq", "-k", "-e", "trace=open,openat,openat2,creat",
        "-e",        "signal=none",     "-o", trace};
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        strace.insert(strace.end(), {"-P", dir + "/dziennik.sqlite" + suffix});
    }
    ProgramWithDialog run(place, strace);
    ASSERT_FALSE(run.dialog.empty()) << run.program->Stderr();
    std::string sent = run.Probe(place);
    ASSERT_FALSE(sent.empty()) << run.program->Stderr();
    // Lines for two seconds while the dialog is open: the journal's files change under its eyes.
    for (int round = 0; round < 20; ++round) {
        const std::string lines = Lines(round, 20);
        ASSERT_TRUE(place.Pty().Write(lines));
        sent += lines;
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(WaitUntil([&] { return Export(place.Dir()).lines == LinesOf(sent); }, 20s))
        << run.program->Stderr();
    EXPECT_EQ(run.Close(), 0) << run.program->Stderr();
    const Opens opens = OpensIn(ReadFile(trace));
    std::printf("opens of the journal's files: %d by SQLite, %zu others\n", opens.sqlite,
                opens.others.size());
    EXPECT_GT(opens.sqlite, 0);  // the trace does see the journal's files
    std::string others;
    for (const std::string& call : opens.others) others += call + "\n";
    EXPECT_TRUE(opens.others.empty()) << opens.others.size() << " other opens:\n" << others;
}

// Five times while lines arrive: waga-journal export, the sqlite3 shell, Python's sqlite3 and
// waga-journal backup read the journal. The program's files stay in place, each export holds
// every line sent before it, and the last one, after the close, every line sent.
TEST(JournalOutsideReaders, ReadersDuringWritingNeitherBreakNorMissAnything) {
    Workplace place;
    ProgramWithDialog run(place);
    ASSERT_FALSE(run.dialog.empty()) << run.program->Stderr();
    const std::string fds = "/proc/" + std::to_string(run.pid) + "/fd";
    std::string sent = run.Probe(place);
    ASSERT_FALSE(sent.empty()) << run.program->Stderr();
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::thread feeder([&] {
        for (int round = 0; !stop; ++round) {
            const std::string lines = Lines(round, 10);
            if (!place.Pty().Write(lines)) return;
            {
                std::lock_guard lock(mutex);
                sent += lines;
            }
            std::this_thread::sleep_for(50ms);
        }
    });
    const auto sentSoFar = [&] {
        std::lock_guard lock(mutex);
        return LinesOf(sent);
    };
    for (int reader = 0; reader < 5; ++reader) {
        SCOPED_TRACE("reader " + std::to_string(reader));
        std::this_thread::sleep_for(300ms);
        const std::vector<std::string> before = sentSoFar();
        Exported exported;
        ASSERT_TRUE(WaitUntil(
            [&] {
                exported = Export(place.Dir());
                return exported.exitCode == 0 && exported.lines.size() >= before.size();
            },
            20s))
            << exported.lines.size() << " of " << before.size();
        EXPECT_TRUE(std::equal(before.begin(), before.end(), exported.lines.begin()));
        ChildProcess shell({"/usr/bin/sqlite3", "dziennik.sqlite",
                            "SELECT count(*) FROM lines; PRAGMA quick_check;"},
                           place.Dir());
        EXPECT_EQ(shell.Wait(), 0) << shell.Stderr();
        EXPECT_NE(shell.Stdout().find("\nok\n"), std::string::npos) << shell.Stdout();
        ChildProcess python({"/usr/bin/python3", "-c",
                             "import sqlite3\n"
                             "c=sqlite3.connect('dziennik.sqlite')\n"
                             "print(c.execute('SELECT sum(count) FROM lines').fetchone()[0])\n"
                             "c.close()\n"},
                            place.Dir());
        EXPECT_EQ(python.Wait(), 0) << python.Stderr();
        EXPECT_GE(std::atol(python.Stdout().c_str()), static_cast<long>(before.size()));
        ChildProcess backup({BinPath("waga-journal"), "backup", "kopia.sqlite"}, place.Dir());
        EXPECT_EQ(backup.Wait(), 0) << backup.Stderr();
        int journalFiles = 0;
        for (const auto& fd : std::filesystem::directory_iterator(fds)) {
            std::error_code error;
            const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
            if (target.find("dziennik.sqlite") == std::string::npos) continue;
            ++journalFiles;
            EXPECT_EQ(target.find("(deleted)"), std::string::npos) << target;
        }
        EXPECT_GE(journalFiles, 3);  // the file, its log and its shared memory, in place
    }
    stop = true;
    feeder.join();
    const std::vector<std::string> all = sentSoFar();
    ASSERT_TRUE(WaitUntil([&] { return Export(place.Dir()).lines.size() >= all.size(); }, 20s));
    EXPECT_EQ(run.Close(), 0) << run.program->Stderr();
    const Exported last = Export(place.Dir());
    EXPECT_EQ(last.exitCode, 0);
    EXPECT_TRUE(last.lines == all) << last.lines.size() << " of " << all.size();
}

}  // namespace
