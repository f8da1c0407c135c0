// Classification and routing of one line: read-out, report view, recording file.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CoreTestSupport.h"
#include "LineRouting.h"
#include "Win1250.h"

using namespace std::string_literals;

namespace {

// Raw line -> read-out after ProcessLine ("" for a report line). The report view and the
// recording file always get the raw line.
struct ClassCase {
    std::string line;
    std::string readout;
    bool reading;
    char separator = ',';
};

std::ostream& operator<<(std::ostream& out, const ClassCase& c) {
    return out << Escaped(c.line) << " sep " << c.separator;
}

class ClassifyTest : public ::testing::TestWithParam<ClassCase> {};

TEST_P(ClassifyTest, SetsTheReadoutAndRoutesTheRawLine) {
    const ClassCase& c = GetParam();
    TempDir dir;
    FakeLineEnvironment env;
    env.separator = c.separator;
    env.showReadings = false;
    env.recording = true;
    env.recordReadings = true;
    env.fileName = dir.File("rec");
    WriteFile(env.fileName, "");

    ProcessBytes(c.line, env);

    EXPECT_EQ(env.readout, c.readout);
    const std::string shown = c.line.substr(0, c.line.find('\0'));
    EXPECT_EQ(env.report, c.reading ? std::vector<std::string>{} : std::vector{shown});
    EXPECT_EQ(ReadFile(env.fileName), c.line + "\r\n");
    EXPECT_TRUE(env.errorBoxes.empty());
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
                  "", false},
        // with '.' as separator only lines without '.' and ',' are readings
        ClassCase{"12.5", "", false, '.'}, ClassCase{"12,5", "", false, '.'},
        ClassCase{"125", "125", true, '.'}, ClassCase{"-125", "-125", true, '.'}));

// Every switch combination for a reading and for a report line. The overflow rule switch
// never matters below the limit.
struct RouteCase {
    bool reading, showReadings, recording, recordReadings;
    bool toReport, toFile;
};

std::ostream& operator<<(std::ostream& out, const RouteCase& c) {
    return out << (c.reading ? "reading" : "report") << " memo " << c.showReadings << " zapis "
               << c.recording << " plik " << c.recordReadings;
}

class RoutingTest : public ::testing::TestWithParam<std::tuple<RouteCase, bool>> {};

TEST_P(RoutingTest, FollowsTheSwitches) {
    const auto& [c, deleteOldest] = GetParam();
    TempDir dir;
    FakeLineEnvironment env;
    env.showReadings = c.showReadings;
    env.recording = c.recording;
    env.recordReadings = c.recordReadings;
    env.deleteOldest = deleteOldest;
    env.report = {"old"};
    env.fileName = dir.File("rec");
    WriteFile(env.fileName, "x\r\n");
    const std::string line = c.reading ? " 7,25" : "TARA";

    ProcessBytes(line, env);

    EXPECT_EQ(env.readout, c.reading ? "7.25" : "");
    const std::vector<std::string> report =
        c.toReport ? std::vector<std::string>{"old", line} : std::vector<std::string>{"old"};
    EXPECT_EQ(env.report, report);
    EXPECT_EQ(ReadFile(env.fileName), c.toFile ? "x\r\n" + line + "\r\n" : "x\r\n");
    EXPECT_EQ(env.recording, c.recording);
    EXPECT_TRUE(env.errorBoxes.empty());
}

INSTANTIATE_TEST_SUITE_P(AllSwitches, RoutingTest,
                         ::testing::Combine(::testing::Values(
                                                // reading: report only with CBciaglymemo, file only
                                                // with CBzapis and CBciaglyplik
                                                RouteCase{true, false, false, false, false, false},
                                                RouteCase{true, false, false, true, false, false},
                                                RouteCase{true, false, true, false, false, false},
                                                RouteCase{true, false, true, true, false, true},
                                                RouteCase{true, true, false, false, true, false},
                                                RouteCase{true, true, false, true, true, false},
                                                RouteCase{true, true, true, false, true, false},
                                                RouteCase{true, true, true, true, true, true},
                                                // report line: report always, file with CBzapis
                                                RouteCase{false, false, false, false, true, false},
                                                RouteCase{false, false, false, true, true, false},
                                                RouteCase{false, false, true, false, true, true},
                                                RouteCase{false, false, true, true, true, true},
                                                RouteCase{false, true, false, false, true, false},
                                                RouteCase{false, true, false, true, true, false},
                                                RouteCase{false, true, true, false, true, true},
                                                RouteCase{false, true, true, true, true, true}),
                                            ::testing::Bool()));

TEST(RoutingOrderTest, ReportLineGoesToTheViewBeforeTheReadoutIsEmptied) {
    FakeLineEnvironment env;
    env.recording = false;
    ProcessBytes("TEXT", env);
    EXPECT_EQ(env.calls, (std::vector<std::string>{"report:TEXT", "readout:"}));
}

// Report view with `before` lines, limit `limit`; one report line arrives.
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
    FakeLineEnvironment env;
    env.recording = false;
    env.maxLines = c.limit;
    env.deleteOldest = c.deleteOldest;
    for (int i = 0; i < c.before; ++i) env.report.push_back("line" + std::to_string(i));

    ProcessBytes("NEW", env);

    ASSERT_EQ(static_cast<int>(env.report.size()), c.after);
    EXPECT_EQ(env.report.front(), c.top);
    EXPECT_EQ(env.report.back(), "NEW");
}

INSTANTIATE_TEST_SUITE_P(
    BothModes, LimitRuleTest,
    ::testing::Values(LimitCase{299, 300, true, 300, "line0"},
                      LimitCase{300, 300, true, 300, "line1"},
                      LimitCase{305, 300, true, 305, "line1"},  // one line, however far above
                      LimitCase{0, 10, true, 1, "NEW"}, LimitCase{299, 300, false, 300, "line0"},
                      LimitCase{300, 300, false, 1, "NEW"}, LimitCase{305, 300, false, 1, "NEW"},
                      LimitCase{10, 10, false, 1, "NEW"},
                      LimitCase{5000, 5000, true, 5000, "line1"}));

TEST(LimitRuleTest, ReadingsShownInTheReportFollowTheSameRule) {
    FakeLineEnvironment env;
    env.recording = false;
    env.showReadings = true;
    env.maxLines = 10;
    env.deleteOldest = true;
    for (int i = 0; i < 25; ++i) ProcessBytes(std::to_string(i), env);
    ASSERT_EQ(env.report.size(), 10u);
    EXPECT_EQ(env.report.front(), "15");
    EXPECT_EQ(env.report.back(), "24");
}

TEST(RecordingFailureTest, DeletedFileSwitchesRecordingOffWithOneBox) {
    TempDir dir;
    FakeLineEnvironment env;
    env.fileName = dir.File("gone");
    ProcessBytes("A", env);
    ProcessBytes("B", env);
    ProcessBytes("1.5", env);
    EXPECT_EQ(env.calls, (std::vector<std::string>{"report:A", "readout:", "uncheck", "error-box",
                                                   "report:B", "readout:", "readout:1.5"}));
    ASSERT_EQ(env.errorBoxes.size(), 1u);
    EXPECT_EQ(env.errorBoxes[0], "Błąd zapisu do pliku! Prawdopodobnie brak miejsca na dysku!");
    EXPECT_FALSE(std::filesystem::exists(env.fileName));
}

// Lines routed while the error box is open run to their end before the waiting call resumes;
// recording is already off, so they make no further attempt and raise no second box.
TEST(RecordingFailureTest, LinesRoutedWhileTheBoxIsOpenMakeNoFileAttempt) {
    TempDir dir;
    FakeLineEnvironment env;
    env.fileName = dir.File("gone");
    env.whileErrorBoxOpen = [&] {
        ProcessBytes("INSIDE", env);
        WriteFile(env.fileName, "");  // even a file reappearing now gets nothing
        ProcessBytes("INSIDE2", env);
    };
    ProcessBytes("FIRST", env);
    EXPECT_EQ(env.errorBoxes.size(), 1u);
    EXPECT_EQ(env.report, (std::vector<std::string>{"FIRST", "INSIDE", "INSIDE2"}));
    EXPECT_EQ(ReadFile(env.fileName), "");
}

}  // namespace
