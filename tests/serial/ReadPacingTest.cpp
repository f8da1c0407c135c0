// When a watched port is read again: at once while traffic is light, after a rest once the
// bytes of one polling delay reach the busy level, at once after a full buffer.
#include <gtest/gtest.h>

#include "ReadPacing.h"

namespace {

using namespace std::chrono_literals;

struct Read {
    int atMs;  // since the first read
    std::size_t count;
    bool full;
    int restMs;  // expected
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
        EXPECT_EQ(pacing.AfterRead(read.count, read.full, start + read.atMs * 1ms, 50),
                  read.restMs);
    }
}

const PacingRow kRows[] = {
    {"FourLinesASecondAreEachReadAtOnce",
     {{0, 20, false, 0}, {250, 20, false, 0}, {500, 20, false, 0}, {750, 20, false, 0}}},
    {"TwoLinesTwentyMillisecondsApartBothAtOnce", {{0, 7, false, 0}, {20, 8, false, 0}}},
    {"ASlowScaleStreamingAt9600BitsNeverRests",
     {{0, 12, false, 0},
      {12, 12, false, 0},
      {25, 12, false, 0},
      {37, 12, false, 0},
      {50, 12, false, 0},
      {62, 12, false, 0}}},
    {"AFastStreamRestsOnceItsBytesReachTheBusyLevel",
     {{0, 100, false, 0},
      {10, 100, false, 0},
      {20, 100, false, 50},
      {70, 576, false, 50},
      {120, 576, false, 50}}},
    {"TrafficFallingBackReadsAtOnceAgain",
     {{0, 576, false, 50}, {50, 40, false, 0}, {300, 40, false, 0}}},
    {"BytesOfAnEarlierWindowDoNotCount",
     {{0, 200, false, 0}, {60, 200, false, 0}, {120, 200, false, 0}}},
    {"AFullBufferIsFollowedAtOnceThenTheRest",
     {{0, 2048, true, 0}, {1, 2048, true, 0}, {2, 904, false, 50}}},
    {"AnEmptyReadCountsNothing", {{0, 0, false, 0}, {1, 0, false, 0}}},
};

INSTANTIATE_TEST_SUITE_P(Rows, ReadPacingTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReadPacing, ResetForgetsABusySpell) {
    ReadPacing pacing;
    const auto now = ReadPacing::Clock::now();
    EXPECT_EQ(pacing.AfterRead(200, false, now, 50), 0);
    pacing.Reset();
    EXPECT_EQ(pacing.AfterRead(200, false, now + 1ms, 50), 0);
}

}  // namespace
