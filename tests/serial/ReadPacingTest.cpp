// When a watched port is read again: at once while traffic is light, after a rest once the
// bytes of about the last second reach the busy level, at once after a full buffer.
#include <gtest/gtest.h>

#include "ReadPacing.h"

namespace {

using namespace std::chrono_literals;

constexpr int kAny = -1;

struct Read {
    int atMs;  // since the first read
    std::size_t count;
    bool full;
    int restMs;  // expected; kAny where the stream crosses the busy level
};

struct PacingRow {
    const char* name;
    std::vector<Read> reads;
};

class ReadPacingTest : public ::testing::TestWithParam<PacingRow> {};

TEST_P(ReadPacingTest, RestAfterEachRead) {
    ReadPacing pacing;
    const auto start = ReadPacing::Clock::now();
    for (const Read& read : GetParam().reads) {
        SCOPED_TRACE(read.atMs);
        const int rest = pacing.AfterRead(read.count, read.full, start + read.atMs * 1ms, 50);
        if (read.restMs != kAny) EXPECT_EQ(rest, read.restMs);
    }
}

// Steady streams as (first ms, every ms, bytes, reads).
std::vector<Read> Stream(int fromMs, int everyMs, std::size_t bytes, int reads, int restMs) {
    std::vector<Read> stream;
    for (int i = 0; i < reads; ++i) stream.push_back({fromMs + i * everyMs, bytes, false, restMs});
    return stream;
}

std::vector<Read> Join(std::vector<Read> a, const std::vector<Read>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A busy spell begun: a full buffer and a little more.
const std::vector<Read> kBusy = {{0, 2048, true, 0}, {1, 100, false, 50}};

const PacingRow kPacingRows[] = {
    {"FourLinesASecondAreEachReadAtOnce", Stream(0, 250, 20, 40, 0)},
    {"TwoLinesTwentyMillisecondsApartBothAtOnce", {{0, 7, false, 0}, {20, 8, false, 0}}},
    // 960 bytes a second, as fast as 9600 bit/s goes, for a minute.
    {"AScaleStreamingAt9600BitsNeverRests", Stream(0, 25, 24, 2400, 0)},
    // 115,200 bit/s: each arrival at once until about 2 KB came (some 40 lines), then a rest
    // after every read.
    {"AFastStreamRestsOnceItsBytesReachTheBusyLevel",
     Join(Join(Stream(0, 5, 58, 30, 0), Stream(150, 5, 58, 20, kAny)),
          Stream(250, 50, 576, 100, 50))},
    // A stream of bursts (reports) with pauses of 160 ms stays busy through the pauses.
    {"BurstsWithPausesStayBusy", Join(Join(kBusy, Stream(51, 50, 576, 40, 50)),
                                      {{2160, 8, false, 50}, {2170, 149, false, 50}})},
    // After a busy spell the rests stop once its bytes have faded (about two seconds here).
    {"TrafficFallingBackReadsAtOnceAgain",
     Join(Join(Join(kBusy, Stream(51, 50, 576, 40, 50)), Stream(2051, 250, 40, 6, 50)),
          Join(Stream(3551, 250, 40, 2, kAny), Stream(4051, 250, 40, 4, 0)))},
    {"AQuietSpellForgetsABusyOne",
     Join(Join(kBusy, Stream(51, 50, 576, 20, 50)), {{60000, 8, false, 0}})},
    {"AFullBufferIsFollowedAtOnceThenTheRest",
     {{0, 2048, true, 0}, {1, 2048, true, 0}, {2, 904, false, 50}}},
    {"AnEmptyReadCountsNothing", {{0, 0, false, 0}, {1, 0, false, 0}}},
};

INSTANTIATE_TEST_SUITE_P(Rows, ReadPacingTest, ::testing::ValuesIn(kPacingRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadPacing, ResetForgetsABusySpell) {
    ReadPacing pacing;
    const auto now = ReadPacing::Clock::now();
    EXPECT_EQ(pacing.AfterRead(4000, false, now, 50), 50);
    pacing.Reset();
    EXPECT_EQ(pacing.AfterRead(200, false, now + 1ms, 50), 0);
}

}  // namespace
