// The line pipeline's own contract: sinks hear every line and every chunk's end in subscription
// order, a reset drops the partial line, port states reach every sink, and a sink that feeds the
// pipeline while it works makes no sink lose or double a line.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "CoreTestSupport.h"
#include "LinePipeline.h"

namespace {

// Logs everything it hears as "<name>:<what>" into a log shared by several sinks.
class LogSink : public ILineSink {
  public:
    LogSink(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
    void OnLine(const LineEvent& e) override {
        std::string entry = name_ + ":" + e.line.Bytes();
        if (e.cls.kind == LineKind::Reading) entry += "=" + e.cls.readingText.Bytes();
        log_.push_back(entry);
        times.push_back(e.receivedUtcMs);
        if (onLine) onLine(e);
    }
    void OnChunkEnd() override { log_.push_back(name_ + ":end"); }
    void OnReset() override { log_.push_back(name_ + ":reset"); }
    void OnPortState(const PortStateEvent& e) override {
        const char* names[] = {"opened", "lost", "closed"};
        log_.push_back(name_ + ":" + names[static_cast<int>(e.state)] + " " + PortName(e.port) +
                       " @" + std::to_string(e.timeUtcMs));
    }
    std::vector<std::int64_t> times;
    std::function<void(const LineEvent&)> onLine;

  private:
    std::string name_;
    std::vector<std::string>& log_;
};

struct Fixture {
    std::int64_t now = 1000;
    LinePipeline pipeline{[this] { return now; }};
    std::vector<std::string> log;
    LogSink a{"a", log}, b{"b", log};
    void Feed(const std::string& bytes) {
        pipeline.Receive(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
};

TEST(LinePipelineTest, SinksHearEachLineAndChunkEndInSubscriptionOrder) {
    Fixture f;
    f.pipeline.Subscribe(&f.b);
    f.pipeline.Subscribe(&f.a);
    f.pipeline.Subscribe(&f.b);  // a second subscription changes nothing
    f.pipeline.SetPort(pnCOM3);
    f.pipeline.SetUnit(Win1250Text("kg"));
    std::string unit, port;
    f.a.onLine = [&](const LineEvent& e) {
        unit = e.unit.Bytes();
        port = PortName(e.port);
    };

    f.Feed(" 12,5\r\nTARA\rpart");
    f.now = 2000;
    f.Feed("ial\r");

    EXPECT_EQ(f.log,
              (std::vector<std::string>{"b: 12,5=12.5", "a: 12,5=12.5", "b:TARA", "a:TARA", "b:end",
                                        "a:end", "b:partial", "a:partial", "b:end", "a:end"}));
    EXPECT_EQ(f.a.times, (std::vector<std::int64_t>{1000, 1000, 2000}));
    EXPECT_EQ(unit, "kg");
    EXPECT_EQ(port, "COM3");

    f.log.clear();
    f.pipeline.Unsubscribe(&f.b);
    f.Feed("x\r");
    EXPECT_EQ(f.log, (std::vector<std::string>{"a:x", "a:end"}));
}

TEST(LinePipelineTest, ResetDropsThePartialLineAndPortStatesReachEverySink) {
    Fixture f;
    f.pipeline.Subscribe(&f.a);
    f.pipeline.Subscribe(&f.b);
    f.Feed("12.");
    f.now = 1500;
    f.pipeline.AnnouncePortState(PortState::Lost);
    f.pipeline.SetPort(pnCOM1);
    f.pipeline.Reset();
    f.pipeline.AnnouncePortState(PortState::Opened);
    EXPECT_EQ(f.pipeline.PendingLine(), "");
    f.Feed("5\r");
    f.pipeline.AnnouncePortState(PortState::Closed);

    EXPECT_EQ(f.log, (std::vector<std::string>{
                         "a:end", "b:end", "a:lost COM2 @1500", "b:lost COM2 @1500", "a:reset",
                         "b:reset", "a:opened COM1 @1500", "b:opened COM1 @1500", "a:5=5", "b:5=5",
                         "a:end", "b:end", "a:closed COM1 @1500", "b:closed COM1 @1500"}));
}

// A sink that feeds the pipeline while it hears a line (as a box opened inside a sink once did;
// the program's sinks post their boxes now), into the buffer the outer chunk came from. Every
// sink hears every event once, in the order the bytes arrived: the event at work reaches every
// sink first, then what the sink caused. The outer chunk's rest is worked through first (it
// arrived first); lines completed while a later chunk is at work carry that chunk's arrival
// time, so times never go back.
TEST(LinePipelineTest, ASinkThatFeedsThePipelineLosesAndDoublesNothing) {
    Fixture f;
    f.pipeline.Subscribe(&f.b);
    f.pipeline.Subscribe(&f.a);

    char buffer[16];
    const std::vector<std::string> ticks = {"1.5\r\nT", "WO\r\n", "3\r", "\n4"};
    f.b.onLine = [&](const LineEvent& e) {
        if (e.line.Bytes() != "ONE") return;
        for (const std::string& tick : ticks) {
            f.now += 100;
            std::memset(buffer, '#', sizeof buffer);
            std::memcpy(buffer, tick.data(), tick.size());
            f.pipeline.Receive(buffer, static_cast<std::int32_t>(tick.size()));
        }
    };
    const std::string first = "ONE\rrest\r";
    std::memcpy(buffer, first.data(), first.size());
    f.pipeline.Receive(buffer, static_cast<std::int32_t>(first.size()));
    f.Feed("\r");

    const std::vector<std::string> each = {"ONE", "rest", "1.5=1.5", "end", "TWO", "end",
                                           "3=3", "end",  "end",     "end", "4=4", "end"};
    std::vector<std::string> heardByA, heardByB;
    for (const std::string& entry : f.log)
        (entry[0] == 'a' ? heardByA : heardByB).push_back(entry.substr(2));
    EXPECT_EQ(heardByA, each);
    EXPECT_EQ(heardByB, each);
    EXPECT_EQ(f.log[0], "b:ONE");
    EXPECT_EQ(f.log[1], "a:ONE");
    EXPECT_EQ(f.a.times, (std::vector<std::int64_t>{1000, 1100, 1100, 1200, 1300, 1400}));
    EXPECT_EQ(f.b.times, f.a.times);
    EXPECT_EQ(f.pipeline.PendingLine(), "");
}

// A sink that unsubscribes another (or itself) while it runs: the others still hear the line.
TEST(LinePipelineTest, ASinkMayUnsubscribeWhileItRuns) {
    Fixture f;
    LogSink c{"c", f.log};
    f.pipeline.Subscribe(&f.a);
    f.pipeline.Subscribe(&f.b);
    f.pipeline.Subscribe(&c);
    f.a.onLine = [&](const LineEvent&) { f.pipeline.Unsubscribe(&f.a); };
    f.Feed("x\r");
    f.Feed("y\r");
    EXPECT_EQ(f.log, (std::vector<std::string>{"a:x", "b:x", "c:x", "b:end", "c:end", "b:y", "c:y",
                                               "b:end", "c:end"}));
}

}  // namespace
