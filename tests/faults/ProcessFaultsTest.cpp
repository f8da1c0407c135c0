// Faults around the program's start and close, with the built program as a separate process:
// konfig.ini read-only at close (the program as an unprivileged user), the program killed while
// it writes konfig.ini, and two copies started at the same moment.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "ProgramRun.h"
#include "SettingsFormat.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using waga::test::ChildProcess;
using waga::test::GuardDir;
using waga::test::PtyLink;
using waga::test::ReadFile;
using waga::test::StartProgram;
using waga::test::WaitUntil;
using waga::test::WriteFile;
using waga::test::XServer;

namespace {

const SettingsWrite kSettings = {pnCOM2, br9600,          true, true, false, Win1250Text("500"),
                                 false,  Win1250Text("g")};

// The same settings as kSettings in another key order: the program reads them alike, and its
// own save writes them in table order, so the two files tell apart "kept" and "rewritten".
std::string ShuffledKonfig() {
    const std::string canonical = FormatSettings(kSettings);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < canonical.size();) {
        const std::size_t end = canonical.find("\r\n", at) + 2;
        lines.push_back(canonical.substr(at, end - at));
        at = end;
    }
    std::string shuffled;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) shuffled += *it;
    return shuffled;
}

std::string DayFile(const std::string& dir) { return waga::test::DayFileIn(dir); }

int LeftoverTemporaries(const std::string& dir) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().rfind("konfig.ini.tmp", 0) == 0) {
            ++count;
            fs::remove(entry.path());
        }
    }
    return count;
}

TEST(ProcessFaults, KonfigReadOnlyAtClose) {
    struct Row {
        const char* name;
        uid_t owner;
        mode_t mode;
        bool rewritten;
    };
    const Row rows[] = {
        {"writable by the program's user", waga::test::kNobodyId, 0644, true},
        {"read-only, owned by root", 0, 0444, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PtyLink pty("COM2");
        const std::string dir = pty.Dir();
        ASSERT_EQ(::chown(dir.c_str(), waga::test::kNobodyId, waga::test::kNobodyId), 0);
        ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0666), 0);
        const std::string konfig = dir + "/konfig.ini";
        WriteFile(konfig, ShuffledKonfig());
        ASSERT_EQ(::chown(konfig.c_str(), row.owner, row.owner), 0);
        ASSERT_EQ(::chmod(konfig.c_str(), row.mode), 0);
        GuardDir guard(waga::test::kNobodyId);

        auto program = StartProgram(dir, {.asNobody = true});
        ASSERT_TRUE(WaitUntil([&] { return fs::exists(DayFile(dir)); }))
            << "the program made no recording file: " << program->Stderr();
        const std::string lines = " 12.50\r\nRAPORT nr 1\r\n";
        ASSERT_TRUE(pty.Write(lines));
        ASSERT_TRUE(WaitUntil([&] { return ReadFile(DayFile(dir)) == lines; }));
        program->Signal(SIGTERM);

        EXPECT_EQ(program->Wait(), 0) << program->Stderr();
        EXPECT_EQ(ReadFile(konfig), row.rewritten ? FormatSettings(kSettings) : ShuffledKonfig());
        struct stat after {};
        ASSERT_EQ(::stat(konfig.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, row.mode);
        EXPECT_EQ(after.st_uid, row.owner);
        EXPECT_EQ(LeftoverTemporaries(dir), 0);
        EXPECT_EQ(ReadFile(DayFile(dir)), lines);
    }
}

ino_t Inode(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// Closed with SIGTERM and killed a moment later, at delays spread around the moment a clean
// close replaces konfig.ini: the file is always either the old one or the new one, never a part.
TEST(ProcessFaults, KilledWhileWritingKonfig) {
    PtyLink pty("COM2");
    const std::string dir = pty.Dir();
    const std::string konfig = dir + "/konfig.ini";
    GuardDir guard;
    auto startReady = [&] {
        WriteFile(konfig, ShuffledKonfig());
        fs::remove(DayFile(dir));
        auto program = StartProgram(dir);
        EXPECT_TRUE(WaitUntil([&] { return fs::exists(DayFile(dir)); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into the message loop
        return program;
    };

    // A clean close first: when the new file takes the old one's place (the rename gives the name
    // a new inode), and what it holds.
    auto program = startReady();
    const ino_t oldInode = Inode(konfig);
    const auto closing = std::chrono::steady_clock::now();
    program->Signal(SIGTERM);
    while (Inode(konfig) == oldInode &&
           std::chrono::steady_clock::now() - closing < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    const auto replacedAfter = std::chrono::steady_clock::now() - closing;
    ASSERT_EQ(program->Wait(), 0);
    ASSERT_EQ(ReadFile(konfig), FormatSettings(kSettings));

    constexpr int kRuns = 24;
    int kept = 0, rewritten = 0, temporaries = 0;
    for (int run = 0; run < kRuns; ++run) {
        program = startReady();
        program->Signal(SIGTERM);
        std::this_thread::sleep_for(replacedAfter * 2 * run / kRuns);
        program->Signal(SIGKILL);
        program->Wait();
        const std::string now = ReadFile(konfig);
        kept += now == ShuffledKonfig();
        rewritten += now == FormatSettings(kSettings);
        EXPECT_TRUE(now == ShuffledKonfig() || now == FormatSettings(kSettings))
            << "run " << run << ": konfig.ini holds " << now.size() << " bytes of neither version";
        temporaries += LeftoverTemporaries(dir);
    }
    std::printf(
        "konfig.ini replaced %lld us after SIGTERM; %d kills: old file %d, new file %d, "
        "a temporary file left by %d\n",
        static_cast<long long>(
            std::chrono::duration_cast<std::chrono::microseconds>(replacedAfter).count()),
        kRuns, kept, rewritten, temporaries);
}

TEST(ProcessFaults, TwoCopiesStartedAtOnce) {
    XServer x;
    ASSERT_TRUE(x.Ready()) << "Xvfb did not start";
    PtyLink pty("COM2");
    const std::string dir = pty.Dir();
    const std::string konfig = dir + "/konfig.ini";
    GuardDir guard;
    const std::string title = "Program do komunikacji z wagą.";

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        WriteFile(konfig, ShuffledKonfig());
        auto a = StartProgram(dir, {.display = x.Display()});
        auto b = StartProgram(dir, {.display = x.Display()});

        std::vector<std::string> boxes;
        ASSERT_TRUE(WaitUntil([&] { return !(boxes = x.Windows("Błąd")).empty(); },
                              std::chrono::seconds(20)))
            << a->Stderr() << b->Stderr();
        ASSERT_TRUE(WaitUntil([&] { return !x.Windows(title).empty(); }));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(x.Windows(title).size(), 1u);
        const int boxPid = x.WindowPid(boxes[0]);
        ASSERT_TRUE(boxPid == a->Pid() || boxPid == b->Pid());
        ChildProcess& second = boxPid == a->Pid() ? *a : *b;
        ChildProcess& first = boxPid == a->Pid() ? *b : *a;

        // "OK" on the box: the second copy ends by itself, without writing konfig.ini.
        x.PressKey(boxes[0], "Return");
        EXPECT_EQ(second.Wait(std::chrono::seconds(10)), 0) << second.Stderr();
        EXPECT_TRUE(first.Running());
        EXPECT_EQ(ReadFile(konfig), ShuffledKonfig());

        first.Signal(SIGTERM);
        EXPECT_EQ(first.Wait(), 0) << first.Stderr();
        EXPECT_EQ(ReadFile(konfig), FormatSettings(kSettings));
    }
}

}  // namespace
