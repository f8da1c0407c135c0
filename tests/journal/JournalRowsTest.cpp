// The run-length rule: which line makes a new row, which one grows the open row, and what
// ends a run; the numbers handed out; the folding of a chunk's grows.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "JournalRows.h"

namespace {

// One step: a line ("r:<bytes>" as received, or "u=<unit>"/"p=<port>" changes), or "end".
struct RunCase {
    const char* name;
    std::vector<std::string> steps;
    std::string expected;  // "I1 G1/2 ..." : insert seq, grow seq/count
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

std::string Apply(const std::vector<std::string>& steps) {
    JournalRuns runs(1);
    Win1250Text unit("kg");
    PortNumber port = pnCOM2;
    std::string out;
    std::int64_t time = 1000;
    for (const std::string& step : steps) {
        if (step == "end") {
            runs.EndRun();
            continue;
        }
        if (step.rfind("u=", 0) == 0) {
            unit = Win1250Text(step.substr(2));
            continue;
        }
        if (step.rfind("p=", 0) == 0) {
            port = static_cast<PortNumber>(std::stoi(step.substr(2)));
            continue;
        }
        const Win1250Text line(step);
        const LineClass cls = ClassifyLine(line);
        const JournalOp op = runs.Line(LineEvent{line, cls, unit, time++, port});
        if (!out.empty()) out += ' ';
        if (op.type == JournalOp::Type::Insert) {
            out += 'I' + std::to_string(op.row.seq);
        } else {
            out += 'G' + std::to_string(op.row.seq) + '/' + std::to_string(op.row.count);
        }
        EXPECT_EQ(runs.LastSeq(), op.row.seq) << step;
    }
    return out;
}

const RunCase kRunCases[] = {
    {"OneReading", {"12,5"}, "I1"},
    {"IdenticalReadingsShareARow", {"12,5", "12,5", "12,5"}, "I1 G1/2 G1/3"},
    {"ADifferentReadingStartsARow", {"12,5", "12,6", "12,5"}, "I1 I2 I3"},
    {"SameValueOtherBytesIsOtherRow", {"12,5", "12.5", " 12,5"}, "I1 I2 I3"},
    {"ReportsAreOneRowEach", {"Suma", "Suma", "Suma"}, "I1 I2 I3"},
    {"AReportEndsTheRun", {"0,00", "Suma", "0,00", "0,00"}, "I1 I2 I3 G3/2"},
    {"PortLossEndsTheRun", {"0,00", "0,00", "end", "0,00"}, "I1 G1/2 I2"},
    {"AnotherUnitEndsTheRun", {"0,00", "u=g", "0,00", "0,00"}, "I1 I2 G2/2"},
    {"AnotherPortEndsTheRun", {"0,00", "p=0", "0,00"}, "I1 I2"},
    {"EmptyLineIsAReport", {"", ""}, "I1 I2"},
    {"ByteZeroCountsInTheBytes", {std::string("1\0a", 3), std::string("1\0b", 3)}, "I1 I2"},
    {"EndBeforeAnyLineIsHarmless", {"end", "1", "end", "end", "1"}, "I1 I2"},
};

class RunRule : public testing::TestWithParam<RunCase> {};

TEST_P(RunRule, RowsAsExpected) { EXPECT_EQ(Apply(GetParam().steps), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Journal, RunRule, testing::ValuesIn(kRunCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JournalRuns, RowCarriesTheLineAndItsContext) {
    JournalRuns runs(41);
    const Win1250Text line(std::string("  -1,5\0\xB9", 8));
    const Win1250Text unit("\xB3\xF3");  // "łó" in Windows-1250
    const LineClass cls = ClassifyLine(line);
    const JournalOp op = runs.Line(LineEvent{line, cls, unit, 1234, pnCOM4});
    EXPECT_EQ(op.row.seq, 41);
    EXPECT_EQ(op.row.kind, JournalKind::Reading);
    EXPECT_EQ(op.row.raw, line.Bytes());
    EXPECT_EQ(op.row.text, "  -1,5\u2400\u0105");  // the whole line, byte 0 made visible
    ASSERT_TRUE(op.row.value.has_value());
    EXPECT_EQ(*op.row.value, -1.5);
    EXPECT_EQ(op.row.unit, "\xC5\x82\xC3\xB3");
    EXPECT_EQ(op.row.port, "COM4");
    EXPECT_EQ(op.row.firstMs, 1234);
    EXPECT_EQ(runs.NextSeq(), 42);
}

TEST(JournalRuns, NumbersOnlyRiseAndGapsTakeOne) {
    JournalRuns runs(5);
    runs.RaiseNextSeq(3);  // lower: no effect
    EXPECT_EQ(runs.NextSeq(), 5);
    const JournalOp gap = runs.Gap(7, 10, 20, "powód");
    EXPECT_EQ(gap.row.seq, 5);
    EXPECT_EQ(gap.row.kind, JournalKind::Gap);
    EXPECT_EQ(gap.row.count, 7);
    runs.RaiseNextSeq(1'000'000);
    const Win1250Text line("x");
    const LineClass cls = ClassifyLine(line);
    EXPECT_EQ(runs.Line(LineEvent{line, cls, Win1250Text(), 0, pnCOM1}).row.seq, 1'000'000);
}

TEST(JournalRuns, GrowsOfOneRowFoldInAChunk) {
    std::vector<JournalOp> batch;
    JournalRuns runs(1);
    const Win1250Text a("1"), b("2");
    const LineClass ca = ClassifyLine(a), cb = ClassifyLine(b);
    for (int i = 0; i < 5; ++i) AppendOp(batch, runs.Line(LineEvent{a, ca, a, i, pnCOM2}));
    AppendOp(batch, runs.Line(LineEvent{b, cb, a, 9, pnCOM2}));
    ASSERT_EQ(batch.size(), 2u);
    EXPECT_EQ(batch[0].type, JournalOp::Type::Insert);
    EXPECT_EQ(batch[0].row.count, 5);  // the insert itself carries the run's count
    EXPECT_EQ(batch[0].row.lastMs, 4);
    EXPECT_EQ(batch[1].row.seq, 2);
}

}  // namespace
