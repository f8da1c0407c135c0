// The weight service in the built program, fed by the scale simulator: the weight it serves is
// the simulator's last reading; an event-stream client that drops and resumes with
// Last-Event-ID loses no line; and with every limit hit while the stream runs (oversized
// headers, more than 32 connections from one address, an incomplete request, a client that stops
// reading) the day's recording file still holds exactly what was sent.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <csignal>
#include <filesystem>

#include "HttpClient.h"
#include "LinePipeline.h"
#include "ProgramRun.h"

using namespace waga::test;

namespace {

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The lines of a simulator's log (CR ends a line; LF bytes are dropped, as the program does).
std::vector<std::string> SentLines(const std::string& log) {
    std::vector<std::string> lines;
    std::string line;
    for (const char c : log) {
        if (c == '\r') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\n') {
            line += c;
        }
    }
    return lines;
}

class ServiceInProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        port_ = FreePort();
        place_.Write("konfig.ini", "Zapisuj_display=1\r\nPredkosc_transmisji=115200\r\n");
        place_.Write("dodatki.ini",
                     "[SerwerWagi]\nWlaczony=1\nPort=" + std::to_string(port_) + "\n");
        place_.Pty().CloseSlave();  // the simulator brings its own terminal behind COM2
        std::filesystem::remove(place_.File("COM2"));
    }
    // The simulator on COM2 with `extra` options, logging what it sends; then the program.
    void Start(const std::vector<std::string>& extra) {
        std::vector<std::string> argv = {BinPath("scale-sim"),
                                         "--link",
                                         place_.File("COM2"),
                                         "--wait-open",
                                         "--log",
                                         log_,
                                         "--quiet",
                                         "--seed",
                                         "7"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        sim_ = std::make_unique<ChildProcess>(argv, place_.Dir());
        ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(place_.File("COM2")); }));
        program_ = StartProgram(place_);
        ASSERT_TRUE(WaitUntil([&] { return Get(port_, "/api/v1/health").status == 200; },
                              std::chrono::seconds(20)))
            << program_->Stderr();
    }
    // Waits for the simulator, checks the day's file, and closes the program.
    std::string FinishAndCheckDayFile() {
        EXPECT_EQ(sim_->Wait(std::chrono::seconds(60)), 0) << sim_->Stderr();
        const std::string sent = ReadFile(log_);
        EXPECT_FALSE(sent.empty());
        EXPECT_TRUE(WaitUntil([&] { return ReadFile(place_.DayFile()).size() >= sent.size(); }));
        program_->Signal(SIGTERM);
        EXPECT_EQ(program_->Wait(), 0) << program_->Stderr();
        EXPECT_EQ(ReadFile(place_.DayFile()), sent);  // byte for byte
        return sent;
    }

    Workplace place_;
    TempDir logDir_;
    std::string log_ = logDir_.File("sent");
    quint16 port_ = 0;
    std::unique_ptr<ChildProcess> sim_;
    std::unique_ptr<ChildProcess> program_;
};

TEST_F(ServiceInProgram, WeightIsTheSimulatorsLastReading) {
    // With a token in a dodatki.ini others may read: served, and warned about once.
    place_.Write("dodatki.ini", "[SerwerWagi]\nWlaczony=1\nPort=" + std::to_string(port_) +
                                    "\nToken=0123456789abcdefgh\n");
    ASSERT_EQ(chmod(place_.File("dodatki.ini").c_str(), 0644), 0);
    Start({"--rate", "50", "--count", "60", "--report-every", "0.3"});
    ASSERT_EQ(sim_->Wait(std::chrono::seconds(30)), 0);
    std::string lastReading;
    for (const std::string& line : SentLines(ReadFile(log_))) {
        const LineClass cls = ClassifyLine(Win1250Text(line));
        if (cls.kind == LineKind::Reading) {
            lastReading = line;
            lastReading.erase(std::remove(lastReading.begin(), lastReading.end(), ' '),
                              lastReading.end());
        }
    }
    ASSERT_FALSE(lastReading.empty());
    EXPECT_TRUE(WaitUntil([&] {
        return Get(port_, "/api/v1/weight").Json().value("reading").toString().toStdString() ==
               lastReading;
    })) << lastReading;
    const QJsonObject weight = Get(port_, "/api/v1/weight").Json();
    EXPECT_EQ(weight.value("port").toString(), "COM2");
    EXPECT_EQ(weight.value("unit").toString(), "kg");
    program_->Signal(SIGTERM);
    EXPECT_EQ(program_->Wait(), 0);
    const std::string err = program_->Stderr();
    const std::string warning = "dodatki.ini z tokenem serwera wagi mogą czytać inni";
    const auto first = err.find(warning);
    EXPECT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find(warning, first + 1), std::string::npos) << err;
}

TEST_F(ServiceInProgram, ResumedStreamLosesNoLine) {
    // The simulator starts sending well after the client has connected, so the client's
    // first events are the status and the first line.
    Start(
        {"--mixed", "--rate", "100", "--count", "400", "--report-every", "0.2", "--delay", "1.5"});
    QList<SseEvent> events;
    {
        SseClient first(port_);
        ASSERT_EQ(first.Answer().status, 200);
        events += first.Take(60, 10000);
        ASSERT_EQ(events.size(), 60);
        ASSERT_EQ(events[0].name, "status");
    }  // dropped mid-stream
    RunEvents(std::chrono::milliseconds(500));
    SseClient resumed(port_, events.back().id);
    const std::string sent = [&] {
        EXPECT_EQ(sim_->Wait(std::chrono::seconds(30)), 0);
        return ReadFile(log_);
    }();
    const std::vector<std::string> lines = SentLines(sent);
    while (true) {
        const QList<SseEvent> more = resumed.Take(1, 3000);
        if (more.isEmpty()) break;
        events += more;
    }
    // Every line once and in order; a run of identical readings is one row (one id), whose
    // last event carries the run's count.
    std::vector<std::string> received;
    QByteArray lastId;
    for (const SseEvent& event : events) {
        if (event.name == "status") continue;
        const std::string text = event.data.value("text").toString().toUtf8().toStdString();
        const qint64 count = event.data.value("count").toInteger();
        if (event.id == lastId) {
            received.resize(received.size() - 1);
        } else {
            ASSERT_TRUE(lastId.isEmpty() || event.id.toLongLong() > lastId.toLongLong());
        }
        for (qint64 i = 0; i < count; ++i) received.push_back(text);
        lastId = event.id;
    }
    // Texts are whole lines, a byte 0 shown as U+2400; compare the lines that are otherwise plain
    // ASCII.
    std::vector<std::string> expected;
    for (std::string line : lines) {
        for (auto at = line.find('\0'); at != std::string::npos; at = line.find('\0', at))
            line.replace(at, 1, "\u2400");
        expected.push_back(line);
    }
    ASSERT_EQ(received.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const bool ascii = std::all_of(lines[i].begin(), lines[i].end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii) {
            EXPECT_EQ(received[i], expected[i]) << i;
        }
    }
    program_->Signal(SIGTERM);
    EXPECT_EQ(program_->Wait(), 0);
}

TEST_F(ServiceInProgram, LimitsLeaveTheRecordingByteExact) {
    Start({"--mixed", "--rate", "300", "--count", "300", "--report-every", "0.1"});
    // A client that stops reading: 1 KiB of buffer, no event loop to empty it.
    SseClient stalled(port_);
    stalled.Socket().setReadBufferSize(1024);
    // Oversized headers.
    {
        QTcpSocket big;
        big.connectToHost(QHostAddress::LocalHost, port_);
        ASSERT_TRUE(big.waitForConnected(3000));
        big.write("GET /api/v1/weight HTTP/1.1\r\nX-Pad: " + QByteArray(64 * 1024, 'a') +
                  "\r\n\r\n");
        big.waitForBytesWritten(3000);
        EXPECT_EQ(ReadAnswer(big).status, 431);
    }
    // An incomplete request, then 40 connections from this one address that send nothing:
    // none is refused, the oldest beyond 32 make way for the newer ones, and each is closed
    // once it has not sent a whole request for 2 s.
    QTcpSocket incomplete;
    incomplete.connectToHost(QHostAddress::LocalHost, port_);
    ASSERT_TRUE(incomplete.waitForConnected(3000));
    incomplete.write("GET /api/v1/weight HTTP/1.1\r\n");
    std::vector<std::unique_ptr<QTcpSocket>> crowd;
    for (int i = 0; i < 40; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, port_);
        ASSERT_TRUE(socket->waitForConnected(3000));
        crowd.push_back(std::move(socket));
    }
    EXPECT_EQ(Get(port_, "/api/v1/weight").status, 200);  // a client that asks is answered
    for (const auto& socket : crowd) {
        EXPECT_TRUE(socket->state() == QAbstractSocket::UnconnectedState ||
                    socket->waitForDisconnected(15000));
        EXPECT_EQ(socket->readAll(), QByteArray());  // closed without an answer
    }
    EXPECT_TRUE(incomplete.state() == QAbstractSocket::UnconnectedState ||
                incomplete.waitForDisconnected(15000));
    // Each made way or ran out of time (which it was depends on the machine's pace).
    const QJsonObject health = Get(port_, "/api/v1/health").Json();
    EXPECT_GE(health.value("evicted").toInteger() + health.value("timed_out").toInteger(), 41);
    FinishAndCheckDayFile();
}

}  // namespace
