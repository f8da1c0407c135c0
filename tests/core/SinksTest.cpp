// The read-out, report view and recording file sinks, fed through the line pipeline in the
// window program's order with their displays in memory. Here: what each line is taken for, every
// combination of the switches, the limit's edges the window's tests leave out, the read-out drawn
// once a chunk, and the write-failure rule. The window and end-to-end tiers check the widgets and
// real files.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CoreTestSupport.h"

using namespace std::string_literals;

namespace {

// A line (without its CR) -> the read-out after it ("" for report text). The report view takes
// report text (readings stay out with the switches' defaults); the recording file takes every
// line's bytes, readings too ("Zapisuj display").
struct ClassCase {
    std::string line;
    std::string readout;
    bool reading;
};

std::ostream& operator<<(std::ostream& out, const ClassCase& c) { return out << Escaped(c.line); }

class ClassifyTest : public ::testing::TestWithParam<ClassCase> {};

TEST_P(ClassifyTest, SetsTheReadoutAndRoutesTheRawLine) {
    const ClassCase& c = GetParam();
    TempDir dir;
    SinkRig rig(dir.File("rec"));
    rig.switches.SetRecordReadings(true);
    WriteFile(dir.File("rec"), "");

    rig.Feed(c.line + "\r");

    EXPECT_EQ(rig.displays.readout, c.readout);
    const std::string shown = c.line.substr(0, c.line.find('\0'));
    EXPECT_EQ(rig.displays.report, c.reading ? std::vector<std::string>{} : std::vector{shown});
    EXPECT_EQ(ReadFile(dir.File("rec")), c.line + "\r\n");
    EXPECT_TRUE(rig.boxes.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ClassifyTest,
    ::testing::Values(
        ClassCase{"12.5", "12.5", true}, ClassCase{" 12,50", "12.50", true},
        ClassCase{"12 345,6", "12345.6", true}, ClassCase{"+5", "+5", true},
        ClassCase{"-0.00", "-0.00", true}, ClassCase{"1e3", "1e3", true},
        ClassCase{"1E", "1E", true}, ClassCase{".", ".", true}, ClassCase{",", ".", true},
        ClassCase{"-,", "-.", true}, ClassCase{"1.234", "1.234", true},
        ClassCase{"1e999", "1e999", true}, ClassCase{"  - 1 2 . 5 ", "-12.5", true},
        ClassCase{"12.5\0kg"s, "12.5", true}, ClassCase{"+", "", false}, ClassCase{"-", "", false},
        ClassCase{"--5", "", false}, ClassCase{"+-5", "", false}, ClassCase{"5-", "", false},
        ClassCase{"e5", "", false}, ClassCase{"", "", false}, ClassCase{"   ", "", false},
        ClassCase{"12.5kg", "", false}, ClassCase{"12.5 kg", "", false},
        ClassCase{"1.234,5", "", false}, ClassCase{"1\t2", "", false},
        ClassCase{"1\xA0"
                  "2",
                  "", false},
        ClassCase{"1e4999", "", false}, ClassCase{"1e5000", "", false},
        ClassCase{"WYNIK\0 12"s, "", false},
        ClassCase{"\0"
                  "12"s,
                  "", false},
        ClassCase{"Wa\xBF"
                  "enie",
                  "", false}));

// Every combination of the switches (CBciaglymemo, CBzapis, CBciaglyplik): a reading " 12,50"
// (received in two chunks) then a report line "RAPORT". The report view takes report text, and
// readings with CBciaglymemo; the file takes report text with CBzapis, and readings with
// CBciaglyplik too. Both append to what is there.
struct RouteCase {
    bool showReadings, recording, recordReadings;
    std::vector<std::string> report;  // after "old"
    std::string file;                 // after "x\r\n"
};

std::ostream& operator<<(std::ostream& out, const RouteCase& c) {
    return out << "memo " << c.showReadings << " zapis " << c.recording << " plik "
               << c.recordReadings;
}

class RoutingTest : public ::testing::TestWithParam<RouteCase> {};

TEST_P(RoutingTest, FollowsTheSwitches) {
    const RouteCase& c = GetParam();
    TempDir dir;
    SinkRig rig(dir.File("rec"));
    rig.switches.SetShowReadings(c.showReadings);
    rig.switches.SetRecording(c.recording);
    rig.switches.SetRecordReadings(c.recordReadings);
    rig.displays.report = {"old"};
    WriteFile(dir.File("rec"), "x\r\n");

    rig.Feed(" 12,5");
    rig.Feed("0\r\n");
    EXPECT_EQ(rig.displays.readout, "12.50");
    rig.Feed("RAPORT\r\n");
    EXPECT_EQ(rig.displays.readout, "");

    std::vector<std::string> report = {"old"};
    report.insert(report.end(), c.report.begin(), c.report.end());
    EXPECT_EQ(rig.displays.report, report);
    EXPECT_EQ(ReadFile(dir.File("rec")), "x\r\n" + c.file);
    EXPECT_EQ(rig.switches.Recording(), c.recording);
    EXPECT_TRUE(rig.boxes.texts.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Switches, RoutingTest,
    ::testing::Values(RouteCase{false, false, false, {"RAPORT"}, ""},
                      RouteCase{true, false, false, {" 12,50", "RAPORT"}, ""},
                      RouteCase{false, true, false, {"RAPORT"}, "RAPORT\r\n"},
                      RouteCase{false, true, true, {"RAPORT"}, " 12,50\r\nRAPORT\r\n"},
                      RouteCase{true, true, true, {" 12,50", "RAPORT"}, " 12,50\r\nRAPORT\r\n"},
                      // readings are recorded only while recording is on
                      RouteCase{false, false, true, {"RAPORT"}, ""},
                      RouteCase{true, false, true, {" 12,50", "RAPORT"}, ""},
                      RouteCase{true, true, false, {" 12,50", "RAPORT"}, "RAPORT\r\n"}));

// The read-out is drawn once a chunk, with what its last line left (a burst of readings costs
// one drawing); a chunk without a complete line draws nothing.
TEST(ReadoutSinkTest, DrawsOnceAChunkWithItsLastLine) {
    TempDir dir;
    SinkRig rig(dir.File("rec"));
    rig.switches.SetRecording(false);
    const struct {
        std::string chunk;
        std::string readout;
        int drawings;
    } rows[] = {
        {"1\r2\r3,5\r", "3.5", 1},
        {"TARA\r4\r", "4", 2},
        {"5\rTARA\r", "", 3},
        {"6", "", 3},
        {"\r", "6", 4},
        {"", "6", 4},
    };
    for (const auto& row : rows) {
        rig.Feed(row.chunk);
        EXPECT_EQ(rig.displays.readout, row.readout) << Escaped(row.chunk);
        EXPECT_EQ(rig.displays.drawings, row.drawings) << Escaped(row.chunk);
    }
}

// The report view with `before` lines and a limit; one report line arrives.
struct LimitCase {
    int before;
    std::int32_t limit;
    bool deleteOldest;
    int after;
    std::string top;  // first line afterwards
};

std::ostream& operator<<(std::ostream& out, const LimitCase& c) {
    return out << c.before << " of " << c.limit << (c.deleteOldest ? " delete oldest" : " clear");
}

class LimitRuleTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(LimitRuleTest, TrimsBeforeAppending) {
    const LimitCase& c = GetParam();
    TempDir dir;
    SinkRig rig(dir.File("rec"));
    rig.switches.SetRecording(false);
    rig.switches.SetMaxReportLines(c.limit);
    rig.switches.SetDeleteOldest(c.deleteOldest);
    for (int i = 0; i < c.before; ++i) rig.displays.report.push_back("line" + std::to_string(i));

    rig.Feed("NEW\r");

    ASSERT_EQ(static_cast<int>(rig.displays.report.size()), c.after);
    EXPECT_EQ(rig.displays.report.front(), c.top);
    EXPECT_EQ(rig.displays.report.back(), "NEW");
}

// The edges the window's limit test does not reach: a view above its limit (a limit lowered
// meanwhile), an empty one, and the largest limit.
INSTANTIATE_TEST_SUITE_P(
    BothModes, LimitRuleTest,
    ::testing::Values(LimitCase{305, 300, true, 305, "line1"},  // one line, however far above
                      LimitCase{305, 300, false, 1, "NEW"}, LimitCase{0, 10, true, 1, "NEW"},
                      LimitCase{0, 10, false, 1, "NEW"},
                      LimitCase{5000, 5000, true, 5000, "line1"}));

// The write-failure rule: at the first line the file must take and cannot, recording goes off,
// then one box opens (posted: once the chunk is done). The chunk's other lines, and those that
// arrive while the box is open (after them), still reach the displays and try no file, not even
// one that has come back meanwhile.
TEST(RecordingSinkTest, AFailedAppendSwitchesRecordingOffBeforeItsOneBox) {
    TempDir dir;
    const std::string file = dir.File("gone");
    SinkRig rig(file);
    rig.boxes.whileOpen = [&] {
        rig.Feed("INSIDE\r");
        WriteFile(file, "");
        rig.Feed("INSIDE2\r");
    };

    rig.Feed("1.5\rTARA\rNETTO\r");
    rig.Feed("LATER\r");

    EXPECT_EQ(rig.boxes.texts, std::vector<std::string>{kRecordingWriteError});
    EXPECT_EQ(rig.boxes.recordingWhenShown, std::vector<bool>{false});
    EXPECT_EQ(rig.displays.report,
              (std::vector<std::string>{"TARA", "NETTO", "INSIDE", "INSIDE2", "LATER"}));
    EXPECT_EQ(ReadFile(file), "");
    EXPECT_FALSE(rig.switches.Recording());
    EXPECT_FALSE(rig.recording.FileOpen());
}

}  // namespace
