// The built scale-sim program: what it sends, read through the real SerialPort, is
// byte for byte what its --log says it sent; it stops cleanly on signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "LinePipeline.h"
#include "SerialPort.h"
#include "TestSupport.h"
#include "TickCounter.h"

using namespace std::chrono_literals;
using namespace waga::test;

namespace {

std::vector<std::string> SimArgs(const TempDir& dir, std::vector<std::string> extra) {
    std::vector<std::string> args = {BinPath("scale-sim"), "--link", dir.File("COM2"), "--log",
                                     dir.File("sent.bin")};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

bool LinkExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A consumer of lines that knows no window: it keeps every line it hears.
struct LineCollector : ILineSink {
    std::vector<std::string> lines;
    int chunkEnds = 0;
    void OnLine(const LineEvent& event) override { lines.push_back(event.line.Bytes()); }
    void OnChunkEnd() override { ++chunkEnds; }
};

struct RoundTripRow {
    const char* name;
    std::vector<std::string> options;
    std::uint16_t pollingDelay;
};

class ScaleSimRoundTripTest : public ::testing::TestWithParam<RoundTripRow> {};

TEST_P(ScaleSimRoundTripTest, ReceivedBytesEqualTheLog) {
    TempDir dir;
    std::vector<std::string> options = GetParam().options;
    options.insert(options.end(), {"--wait-open", "--timestamps", dir.File("times.txt")});
    ChildProcess sim(SimArgs(dir, options), dir.Path());
    ASSERT_TRUE(WaitUntil([&] { return LinkExists(dir.File("COM2")); })) << sim.Stderr();

    ScopedWorkingDir cwd(dir.Path());
    SerialPort driver;
    driver.SetComPortSpeed(br115200);
    driver.SetComPortPollingDelay(GetParam().pollingDelay);
    std::string received;
    int chunks = 0;
    QObject::connect(&driver, &SerialPort::dataReceived, [&](const char* data, int size) {
        received.append(data, static_cast<std::size_t>(size));
        ++chunks;
    });
    LinePipeline pipeline;
    LineCollector collector;
    pipeline.Subscribe(&collector);
    QObject::connect(&driver, &SerialPort::dataReceived,
                     [&](const char* data, int size) { pipeline.Receive(data, size); });
    ASSERT_TRUE(driver.OpenPort());
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return !sim.Running(); }, 60s));
    waga::test::RunEvents(100ms);
    driver.ClosePort();

    EXPECT_EQ(sim.Wait(), 0) << sim.Stderr();
    const std::string sent = ReadFile(dir.File("sent.bin"));
    ASSERT_FALSE(sent.empty());
    EXPECT_TRUE(received == sent) << "received " << received.size() << " of " << sent.size();
    // Every line of the run reached the subscribed sink, once, in order, one chunk end a read.
    const std::vector<std::string> sentLines = LinesOf(sent);
    EXPECT_TRUE(collector.lines == sentLines)
        << collector.lines.size() << " lines heard of " << sentLines.size();
    EXPECT_EQ(collector.chunkEnds, chunks);
    const std::string lines = GetParam().options[1];  // every row gives --count N first
    EXPECT_EQ(sim.Stdout(),
              "scale-sim: sent " + lines + " lines, " + std::to_string(sent.size()) + " bytes\n");
    std::istringstream times(ReadFile(dir.File("times.txt")));
    std::string row;
    unsigned long long index = 0, monotonic = 0, realtime = 0, count = 0, lastMonotonic = 0;
    while (std::getline(times, row)) {
        std::istringstream(row) >> index >> monotonic >> realtime;
        EXPECT_EQ(index, count++);
        EXPECT_GE(monotonic, lastMonotonic);
        lastMonotonic = monotonic;
    }
    EXPECT_EQ(std::to_string(count), lines);
    EXPECT_FALSE(LinkExists(dir.File("COM2")));
}

const RoundTripRow kRoundTrips[] = {
    {"ReadingsAndReports", {"--count", "400", "--baud", "115200", "--report-every", "0.3"}, 50},
    {"ShortLinesCrOnly", {"--count", "3000", "--short", "--cr-only", "--rate", "0"}, 20},
    // The bench's stream: about 29 lines in each write, every 5 ms.
    {"RandomDigitsInBursts",
     {"--count", "2000", "--digits", "--cr-only", "--baud", "115200", "--pace", "burst"},
     20},
    // Written far faster than the reader takes it: the simulator must wait, not drop.
    {"MixedBytesSlowReader", {"--count", "1500", "--mixed", "--rate", "0", "--seed", "7"}, 10},
};

INSTANTIATE_TEST_SUITE_P(Rows, ScaleSimRoundTripTest, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

class ScaleSimSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(ScaleSimSignalTest, StopsCleanlyAndRemovesItsLink) {
    TempDir dir;
    ChildProcess sim({BinPath("scale-sim")}, dir.Path());  // all defaults: ./COM2
    ASSERT_TRUE(WaitUntil([&] { return LinkExists(dir.File("COM2")); })) << sim.Stderr();
    std::this_thread::sleep_for(300ms);
    sim.Signal(GetParam());
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(LinkExists(dir.File("COM2")));
    EXPECT_EQ(sim.Stdout().rfind("scale-sim: sent ", 0), 0u) << sim.Stdout();
    EXPECT_EQ(sim.Stderr(), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, ScaleSimSignalTest, ::testing::Values(SIGTERM, SIGINT));

struct CommandRow {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    const char* stdoutStart;
    const char* stderrPart;
};

class ScaleSimCommandTest : public ::testing::TestWithParam<CommandRow> {};

TEST_P(ScaleSimCommandTest, ExitStatusAndOutput) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.File("COM9").c_str(), 0755), 0);
    std::vector<std::string> args = {BinPath("scale-sim")};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    ChildProcess sim(args, dir.Path());
    EXPECT_EQ(sim.Wait(), GetParam().exitCode);
    EXPECT_EQ(sim.Stdout().rfind(GetParam().stdoutStart, 0), 0u) << sim.Stdout();
    EXPECT_NE(sim.Stderr().find(GetParam().stderrPart), std::string::npos) << sim.Stderr();
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("COM9")));  // never replaced
}

const CommandRow kCommands[] = {
    {"Help", {"--help"}, 0, "Usage: scale-sim", ""},
    {"UnknownOption", {"--fast"}, 2, "", "unknown option --fast"},
    {"BadValue", {"--rate", "x"}, 2, "", "bad value for --rate"},
    {"LinkPathTaken", {"--link", "COM9"}, 1, "", "COM9 exists and is not a link"},
    {"QuietCount", {"--count", "3", "--rate", "0", "--quiet", "--drain-timeout", "0"}, 0, "", ""},
};

INSTANTIATE_TEST_SUITE_P(Rows, ScaleSimCommandTest, ::testing::ValuesIn(kCommands),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
