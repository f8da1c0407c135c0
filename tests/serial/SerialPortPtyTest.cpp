// SerialPort on real pseudo-terminals linked as COMn in a temporary working directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <numeric>

#include "SerialDevicePosix.h"
#include "SerialPort.h"
#include "TermiosSettings.h"
#include "TestSupport.h"
#include "TickCounter.h"

using namespace std::chrono_literals;
using namespace waga::test;

namespace {

// Collects what dataReceived announces.
class Receiver {
  public:
    void OnData(const char* data, int size) {
        chunks.emplace_back(data, static_cast<std::size_t>(size));
    }
    void Listen(SerialPort& port) {
        QObject::connect(&port, &SerialPort::dataReceived,
                         [this](const char* data, int size) { OnData(data, size); });
    }
    std::string All() const { return std::accumulate(chunks.begin(), chunks.end(), std::string()); }
    std::vector<std::string> chunks;
};

class SerialPortPtyTest : public ::testing::Test {
  protected:
    PtyLink pty_;
    ScopedWorkingDir cwd_{pty_.Dir()};
    SerialPort driver_;
    Receiver receiver_;

    void Listen() { receiver_.Listen(driver_); }
    bool WaitQueued(int bytes) {
        return WaitUntil([&] { return pty_.QueuedForReader() >= bytes; });
    }
};

TEST_F(SerialPortPtyTest, BytesArriveRawThroughTheEventLoopOnly) {
    Listen();
    ASSERT_TRUE(driver_.OpenPort());
    const std::string bytes(
        "\x20"
        "12.50\r\n\x03\x11\x13\x00\xff\x9c",
        14);
    ASSERT_TRUE(pty_.Write(bytes));
    EXPECT_TRUE(receiver_.chunks.empty());  // nothing outside a tick
    ASSERT_TRUE(RunEventsUntil([&] { return receiver_.All().size() >= bytes.size(); }));
    EXPECT_EQ(receiver_.All(), bytes);
    pollfd echo{pty_.MasterFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&echo, 1, 50), 0) << "nothing may be echoed back";
}

// A backlog larger than the buffer is read in buffer-sized chunks one after another; after a
// read that did not fill the buffer the port rests for PollingDelay, and once it is quiet no
// timer runs at all.
TEST_F(SerialPortPtyTest, ChunksOfAtMostTheBufferSizeAndARestAfterEachPartialOne) {
    Listen();
    ASSERT_TRUE(driver_.OpenPort());
    driver_.SetComPortPollingDelay(200);
    std::string block(5000, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(pty_.Write(block));
    ASSERT_TRUE(WaitQueued(4000));
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    // Heard after the receiver (listeners are called in the order they connected).
    QObject::connect(&driver_, &SerialPort::dataReceived, [&](const char*, int) {
        arrivals.push_back(std::chrono::steady_clock::now());
    });
    ASSERT_TRUE(RunEventsUntil([&] { return receiver_.All().size() >= 5000; }));
    // The terminal hands its queue on in pieces of its own, so only the first chunk's size is
    // certain; none is larger than the buffer.
    EXPECT_EQ(receiver_.chunks.front().size(), 2048u);
    for (const std::string& chunk : receiver_.chunks) EXPECT_LE(chunk.size(), 2048u);
    EXPECT_EQ(receiver_.All(), block);

    const std::size_t blockChunks = receiver_.chunks.size();
    ASSERT_TRUE(pty_.Write("after"));  // arrives during the rest after the last partial chunk
    ASSERT_TRUE(RunEventsUntil([&] { return receiver_.chunks.size() == blockChunks + 1; }));
    EXPECT_EQ(receiver_.chunks.back(), "after");
    EXPECT_GE(arrivals[blockChunks] - arrivals[blockChunks - 1], 180ms);
    ASSERT_TRUE(RunEventsUntil([&] { return driver_.WaitingWithoutTimer(); }));
    RunEvents(300ms);
    EXPECT_EQ(receiver_.chunks.size(), blockChunks + 1);
    EXPECT_TRUE(driver_.WaitingWithoutTimer());
}

// After a quiet spell the first byte is read as it arrives, not at the next tick of a clock.
TEST_F(SerialPortPtyTest, AQuietSpellThenALineIsReadWithoutWaitingForATick) {
    Listen();
    driver_.SetComPortPollingDelay(10000);  // a clock this slow would hold the line for seconds
    ASSERT_TRUE(driver_.OpenPort());
    ASSERT_TRUE(RunEventsUntil([&] { return driver_.WaitingWithoutTimer(); }));
    ASSERT_TRUE(pty_.Write("12.50\r"));
    ASSERT_TRUE(RunEventsUntil([&] { return receiver_.All() == "12.50\r"; }, 5s));
}

// A line, then the last line and at once the hang-up that discards whatever is unread: light
// traffic is watched again right after each read, so the last line is taken as soon as the event
// loop runs, long before a polling delay (a slow one here) would have ended.
TEST_F(SerialPortPtyTest, TheLastLineBeforeAHangUpIsTakenWithoutARest) {
    Listen();
    int losses = 0;
    QObject::connect(&driver_, &SerialPort::portLost, [&] { ++losses; });
    driver_.SetComPortPollingDelay(10000);
    ASSERT_TRUE(driver_.OpenPort());
    for (int run = 0; run < 20; ++run) {
        const std::string line = "PRE-" + std::to_string(run) + "\r\n";
        ASSERT_TRUE(pty_.Write(line));
        ASSERT_TRUE(RunEventsUntil([&] { return receiver_.All().ends_with(line); }, 5s));
        EXPECT_TRUE(driver_.WaitingWithoutTimer());
    }
    ASSERT_TRUE(pty_.Write("LAST-x\r\n"));
    ASSERT_TRUE(RunEventsUntil([&] { return receiver_.All().ends_with("LAST-x\r\n"); }, 5s));
    pty_.CloseSlave();
    pty_.CloseMaster();
    ASSERT_TRUE(RunEventsUntil([&] { return losses == 1; }));
    EXPECT_TRUE(receiver_.All().ends_with("PRE-19\r\nLAST-x\r\n"));
}

TEST_F(SerialPortPtyTest, BytesWithoutAHandlerAreReadAndDropped) {
    ASSERT_TRUE(driver_.OpenPort());
    ASSERT_TRUE(pty_.Write("dropped\r"));
    ASSERT_TRUE(WaitQueued(8));
    ASSERT_TRUE(RunEventsUntil([&] { return pty_.QueuedForReader() == 0; }));
    Listen();
    ASSERT_TRUE(pty_.Write("kept\r"));
    ASSERT_TRUE(RunEventsUntil([&] { return receiver_.All().size() >= 5; }));
    EXPECT_EQ(receiver_.All(), "kept\r");
}

TEST_F(SerialPortPtyTest, OpenPurgesWhatWaitedBefore) {
    ASSERT_TRUE(pty_.Write("stale"));
    ASSERT_TRUE(WaitQueued(5));
    Listen();
    ASSERT_TRUE(driver_.OpenPort());
    EXPECT_EQ(pty_.QueuedForReader(), 0);
    ASSERT_TRUE(pty_.Write("fresh"));
    ASSERT_TRUE(RunEventsUntil([&] { return receiver_.All().size() >= 5; }));
    EXPECT_EQ(receiver_.All(), "fresh");
}

TEST_F(SerialPortPtyTest, SpeedChangeWhileOpenReappliesAndPurges) {
    Listen();
    ASSERT_TRUE(driver_.OpenPort());
    driver_.SetComPortPollingDelay(5000);  // no tick takes the bytes first
    ASSERT_TRUE(pty_.Write("pending"));
    ASSERT_TRUE(WaitQueued(7));
    driver_.SetComPortSpeed(br56000);
    EXPECT_EQ(pty_.QueuedForReader(), 0);
    termios2 t{};
    ASSERT_EQ(::ioctl(pty_.MasterFd(), TCGETS2, &t), 0);
    EXPECT_EQ(t.c_ospeed, 56000u);
}

TEST_F(SerialPortPtyTest, SecondComponentAndSecondProcessAreRefused) {
    ASSERT_TRUE(driver_.OpenPort());
    SerialPort second;
    TickCounter ticks(&second);
    EXPECT_FALSE(second.OpenPort());
    EXPECT_FALSE(second.IsPortOpen());
    EXPECT_EQ(second.LastOpenResult().failure, OpenFailure::Busy);
    const int child = RunInChild([] {
        SerialPort other;
        if (other.OpenPort()) return 1;
        return other.LastOpenResult().failure == OpenFailure::Busy ? 0 : 2;
    });
    EXPECT_EQ(child, 0);
    RunEvents(120ms);
    EXPECT_EQ(ticks.Ticks(), 0);

    driver_.ClosePort();
    EXPECT_FALSE(driver_.IsPortOpen());
    EXPECT_TRUE(second.OpenPort());
    second.ClosePort();
    EXPECT_TRUE(driver_.OpenPort());  // reopen after close
}

TEST_F(SerialPortPtyTest, OpensTheDeviceNamedByComPort) {
    PtyLink com3("COM3");
    ASSERT_EQ(::symlink(com3.SlavePath().c_str(), "COM3"), 0);
    driver_.SetComPort(pnCOM3);
    Listen();
    ASSERT_TRUE(driver_.OpenPort());
    ASSERT_TRUE(com3.Write("three"));
    ASSERT_TRUE(pty_.Write("two"));
    ASSERT_TRUE(RunEventsUntil([&] { return receiver_.All().size() >= 5; }));
    RunEvents(100ms);
    EXPECT_EQ(receiver_.All(), "three");
}

TEST_F(SerialPortPtyTest, WithoutALinkTheDevicePrefixIsUsed) {
    TempDir devices;
    ASSERT_EQ(::symlink(pty_.SlavePath().c_str(), devices.File("ttyS3").c_str()), 0);
    SerialPort driver(nullptr, std::make_unique<PosixSerialDevice>(devices.File("ttyS")));
    driver.SetComPort(pnCOM4);
    Receiver receiver;
    receiver.Listen(driver);
    ASSERT_TRUE(driver.OpenPort());
    ASSERT_TRUE(pty_.Write("S3"));
    ASSERT_TRUE(RunEventsUntil([&] { return receiver.All() == "S3"; }));
}

// The terminal's other side goes away (the adapter pulled out): one loss event, no data event,
// nothing read any more, and the port stays open until its owner closes it.
TEST_F(SerialPortPtyTest, AVanishedPeerRaisesTheLossEventOnce) {
    Listen();
    int losses = 0;
    QObject::connect(&driver_, &SerialPort::portLost, [&] { ++losses; });
    ASSERT_TRUE(driver_.OpenPort());
    ASSERT_TRUE(pty_.Write("before"));
    ASSERT_TRUE(RunEventsUntil([&] { return receiver_.All() == "before"; }));
    pty_.CloseSlave();
    pty_.CloseMaster();
    ASSERT_TRUE(RunEventsUntil([&] { return losses > 0; }));
    RunEvents(300ms);
    EXPECT_EQ(losses, 1);
    EXPECT_EQ(receiver_.chunks.size(), 1u);
    EXPECT_TRUE(driver_.IsPortOpen());
    EXPECT_FALSE(driver_.WaitingWithoutTimer());
    driver_.ClosePort();
    EXPECT_FALSE(driver_.IsPortOpen());
}

// An ordinary user (not root, who passes every exclusive check) closes and opens again:
// the exclusive flag must not outlive the descriptor.
TEST_F(SerialPortPtyTest, UnprivilegedUserCanReopenAfterClose) {
    ASSERT_EQ(::chown(pty_.SlavePath().c_str(), kNobodyId, kNobodyId), 0);
    const int result = RunAsNobody([] {
        SerialPort driver;
        if (!driver.OpenPort()) return 1;
        driver.ClosePort();
        if (!driver.OpenPort()) return 2;
        SerialPort second;
        if (second.OpenPort()) return 3;
        return 0;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(SerialPortPtyTest, PortIsFreeAfterDestruction) {
    {
        SerialPort first;
        ASSERT_TRUE(first.OpenPort());
    }
    EXPECT_TRUE(driver_.OpenPort());
}

// Every way an open can fail: false, still closed, no timer, nothing printed.
struct FailureRow {
    const char* name;
    std::function<void(const PtyLink&)> prepare;  // runs in the working directory
    bool asNobody;
    OpenFailure cause;
};

class OpenFailureTest : public ::testing::TestWithParam<FailureRow> {};

int TryOpenSilently(const std::string& devicePrefix, OpenFailure expected) {
    SerialPort driver(nullptr, std::make_unique<PosixSerialDevice>(devicePrefix));
    TickCounter ticks(&driver);
    CaptureOutput output;
    const bool opened = driver.OpenPort();
    driver.ClosePort();
    RunEvents(120ms);
    const std::string printed = output.Finish();
    if (opened || driver.IsPortOpen()) return 1;
    if (ticks.Ticks() != 0) return 2;
    if (!printed.empty()) return 3;
    if (driver.LastOpenResult().failure != expected) return 4;
    return 0;
}

TEST_P(OpenFailureTest, OpenReturnsFalseAndStaysClosed) {
    PtyLink pty("unused");
    ScopedWorkingDir cwd(pty.Dir());
    GetParam().prepare(pty);
    const std::string prefix = pty.Dir() + "/no-such-device";
    const auto attempt = [&] { return TryOpenSilently(prefix, GetParam().cause); };
    const int result = GetParam().asNobody ? RunAsNobody(attempt) : attempt();
    EXPECT_EQ(result, 0) << "1: opened, 2: ticks, 3: printed, 4: another cause";
}

const FailureRow kFailures[] = {
    {"NoLinkAndNoDevice", [](const PtyLink&) {}, false, OpenFailure::MissingDevice},
    {"LinkToMissingDevice", [](const PtyLink&) { ASSERT_EQ(::symlink("/dev/none", "COM2"), 0); },
     false, OpenFailure::MissingDevice},
    {"RegularFile", [](const PtyLink&) { ASSERT_EQ(::close(::creat("COM2", 0666)), 0); }, false,
     OpenFailure::NotATerminal},
    {"LinkToRegularFile",
     [](const PtyLink&) {
         ASSERT_EQ(::close(::creat("data.bin", 0666)), 0);
         ASSERT_EQ(::symlink("data.bin", "COM2"), 0);
     },
     false, OpenFailure::NotATerminal},
    {"CharacterDeviceThatIsNoTerminal",
     [](const PtyLink&) { ASSERT_EQ(::symlink("/dev/null", "COM2"), 0); }, false,
     OpenFailure::NotATerminal},
    {"Directory", [](const PtyLink&) { ASSERT_EQ(::mkdir("COM2", 0755), 0); }, false,
     OpenFailure::NotATerminal},
    {"PermissionDenied",
     [](const PtyLink& pty) {
         ASSERT_EQ(::chmod(pty.SlavePath().c_str(), 0600), 0);
         ASSERT_EQ(::symlink(pty.SlavePath().c_str(), "COM2"), 0);
     },
     true, OpenFailure::PermissionDenied},
};

INSTANTIATE_TEST_SUITE_P(Rows, OpenFailureTest, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
