// The soak's verdict must itself be right: a checker that calls a damaged recording equal would
// make every soak pass.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SoakCompare.h"

using namespace std::string_literals;

TEST(SoakCompare, ExpectedRecordingEndsEveryLineWithCrLf) {
    struct Row {
        std::string sent, expected, why;
    };
    const std::vector<Row> rows = {
        {"", "", "nothing sent"},
        {"5\r6\r", "5\r\n6\r\n", "CR-only lines gain their LF"},
        {" 12.50\r\n", " 12.50\r\n", "CR LF lines stay as they are"},
        {"a\n\nb\r", "ab\r\n", "line feeds are dropped wherever they stand"},
        {"\r\r", "\r\n\r\n", "empty lines are lines"},
        {"1\rhalf", "1\r\n", "an unfinished line is not expected"},
        {"x\0y\xff\r"s, "x\0y\xff\r\n"s, "every other byte is content"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ExpectedRecording(row.sent), row.expected) << row.why;
    }
}

TEST(SoakCompare, MismatchedCountsDifferingMissingAndExtraBytes) {
    struct Row {
        std::string expected, actual;
        std::uint64_t mismatched;
    };
    const std::vector<Row> rows = {
        {"5\r\n6\r\n", "5\r\n6\r\n", 0},
        {"5\r\n6\r\n", "5\r\n", 3},       // the last line never reached the file
        {"5\r\n", "5\r\n5\r\n", 3},       // a line recorded twice
        {"5\r\n6\r\n", "5\n\r6\r\n", 2},  // bytes swapped
        {"5\r\n6\r\n", "", 6},            // nothing recorded
        {"", "", 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(MismatchedBytes(row.expected, row.actual), row.mismatched)
            << "expected " << row.expected.size() << " bytes, got " << row.actual.size();
    }
}

TEST(SoakCompare, LineEndsFollowEachCrLf) {
    EXPECT_EQ(LineEnds("5\r\n\r\nabc\r\n"), (std::vector<std::uint64_t>{3, 5, 10}));
    EXPECT_TRUE(LineEnds("no end").empty());
}

TEST(SoakCompare, DelayIsFirstSampleReachingTheLineEnd) {
    // Lines end at 3, 6, 9; sent at 100, 200, 300 ns.
    const std::vector<std::uint64_t> ends = {3, 6, 9};
    const std::vector<std::int64_t> sent = {100, 200, 300};
    struct Row {
        std::vector<SizeSample> samples;
        std::uint64_t measured;
        std::int64_t maxDelay;
        const char* why;
    };
    const std::vector<Row> rows = {
        {{{150, 3}, {260, 6}, {1300, 9}}, 3, 1000, "the slowest line sets the figure"},
        {{{500, 9}}, 3, 400, "one write that brings several lines"},
        {{{150, 4}}, 1, 50, "lines whose end never arrived are not measured"},
        {{}, 0, 0, "an empty file"},
    };
    for (const Row& row : rows) {
        const DelayResult result = LineDelays(sent, ends, row.samples);
        EXPECT_EQ(result.measured, row.measured) << row.why;
        EXPECT_EQ(result.maxDelayNs, row.maxDelay) << row.why;
    }
}

TEST(SoakCompare, ParsersSkipMalformedLines) {
    EXPECT_EQ(ParseSendTimes("0 1000 5\n1 2000 6\nbroken line\n2 3000\n3 4000 7"),
              (std::vector<std::int64_t>{1000, 2000, 4000}));
    const std::vector<SizeSample> samples = ParseSamples("10 3\n20 x\n30 -1\n40 9\n");
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[1].monoNs, 40);
    EXPECT_EQ(samples[1].size, 9u);
}
