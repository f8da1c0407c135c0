// A line that arrives just before the terminal goes away (a hang-up discards whatever the reader
// has not read yet): the program, reading light traffic at once, has it in the day's file; the
// simulator, stopped by a signal, waits until the program has taken its last bytes.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "ProgramRun.h"
#include "SimPort.h"

using namespace std::chrono_literals;
using namespace waga::test;

namespace {

// The program has taken what was written: the day's file shows it and the terminal's queue for
// the reader is empty. The queue alone cannot tell: the kernel hands written bytes on to it a
// moment after the write (first empty looks came 22 µs after a write), and on a busy machine that
// moment can outlast any number of empty looks, so bytes not yet handed on passed for taken and
// the hang-up then discarded them. `seenAt` gets the time of the look that found it taken.
bool TakenByTheReader(const SimPort& terminal, const std::string& dayFile,
                      const std::string& recorded, std::chrono::steady_clock::time_point& seenAt) {
    return WaitUntil(
        [&] {
            if (terminal.QueuedForReader() != 0 || ReadFile(dayFile) != recorded) return false;
            seenAt = std::chrono::steady_clock::now();
            return true;
        },
        5s);
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

bool WriteAll(int fd, const std::string& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// Twenty terminals one after another behind COM2, each the program reconnects to by itself: a
// line, 20 ms later the last line, and the terminal closed as soon as the program has taken it
// (the queue on the terminal's side empty). Both lines of every terminal are in the file.
TEST(LastLineBeforeALoss, IsRecordedTwentyTimesInARow) {
    Workplace place;
    place.Write("konfig.ini", "Zapisuj_display=1\r\n");
    place.Pty().CloseSlave();
    std::filesystem::remove(place.File("COM2"));
    auto program = StartProgram(place);
    std::string expected;
    std::string timings;
    for (int run = 1; run <= 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        SimPort terminal;
        std::string error;
        ASSERT_TRUE(terminal.Create(place.File("COM2"), error)) << error;
        // The open purges what waited: the lines go once the program says the port opened (it
        // tells each open on standard error once the open, purge included, is done). Its lock
        // on the terminal alone comes before the purge, however busy the machine.
        ASSERT_TRUE(WaitUntil([&] { return Count(program->Stderr(), "rozpoczęte.") == run; }))
            << program->Stderr();
        const std::string pre = "PRE-" + std::to_string(run) + "\r\n";
        const std::string last = "LAST-" + std::to_string(run) + "\r\n";
        ASSERT_TRUE(WriteAll(terminal.MasterFd(), pre));
        std::this_thread::sleep_for(20ms);
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(WriteAll(terminal.MasterFd(), last));
        expected += pre + last;
        auto taken = sent;
        ASSERT_TRUE(TakenByTheReader(terminal, place.DayFile(), expected, taken))
            << ReadFile(place.DayFile());
        timings += " " + std::to_string((taken - sent) / 1us);
        terminal.Destroy();
        // The program lets the lost terminal go before the next one is made: a new terminal may
        // get the same number, and a lock still held on the old one would pass for the new one.
        ASSERT_TRUE(WaitUntil([&] { return !terminal.HeldByReader(); }));
    }
    std::printf("last line taken within (µs, up to the look that saw it):%s\n", timings.c_str());
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(), 0) << program->Stderr();
    EXPECT_EQ(ReadFile(place.DayFile()), expected);
}

// The simulator at 20 readings a second, stopped by SIGTERM mid-stream: every line it logged as
// sent, the last one included, is in the day's file by the time it has ended.
TEST(LastLineBeforeALoss, TheStoppedSimulatorWaitsForTheReader) {
    Workplace place;
    place.Write("konfig.ini", "Zapisuj_display=1\r\n");
    place.Pty().CloseSlave();
    std::filesystem::remove(place.File("COM2"));
    TempDir logDir;
    ChildProcess sim({BinPath("scale-sim"), "--link", place.File("COM2"), "--mixed", "--rate", "20",
                      "--wait-open", "--log", logDir.File("sent")},
                     place.Dir());
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(place.File("COM2")); }));
    auto program = StartProgram(place);
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(place.DayFile()).size() > 200; }))
        << program->Stderr();
    sim.Signal(SIGTERM);
    ASSERT_EQ(sim.Wait(), 0) << sim.Stderr();
    const std::string sent = ReadFile(logDir.File("sent"));
    ASSERT_FALSE(sent.empty());
    // Written to the file before the program could see the hang-up that followed.
    ASSERT_TRUE(WaitUntil([&] { return program->Stderr().find("przerwane") != std::string::npos; }))
        << "no loss reported";
    EXPECT_EQ(ReadFile(place.DayFile()), sent);
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(), 0);
}

}  // namespace
