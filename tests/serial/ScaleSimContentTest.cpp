// The simulator's option parser and the lines it makes.
#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <set>

#include "ScaleContent.h"
#include "SimOptions.h"

namespace {

struct OptionRow {
    std::vector<std::string> args;
    bool ok;
    std::function<bool(const SimOptions&)> check;
};

class SimOptionsTest : public ::testing::TestWithParam<OptionRow> {};

TEST_P(SimOptionsTest, Parses) {
    const ParseResult r = ParseSimOptions(GetParam().args);
    ASSERT_EQ(r.options.has_value(), GetParam().ok) << r.error;
    if (r.options) {
        EXPECT_TRUE(GetParam().check(*r.options));
    } else {
        EXPECT_FALSE(r.error.empty());
    }
}

const OptionRow kOptionRows[] = {
    {{},
     true,
     [](const SimOptions& o) {
         return o.link == "./COM2" && o.rate == 4 && o.baud == 0 && o.count == 0 &&
                o.duration == 0 && o.reportEvery == 5 && !o.crOnly && o.mode == SimMode::Scale &&
                !o.waitOpen && !o.millisecondPacing && !o.quiet && !o.help;
     }},
    {{"--pace", "ms"}, true, [](const SimOptions& o) { return o.millisecondPacing; }},
    {{"--pace=line"}, true, [](const SimOptions& o) { return !o.millisecondPacing; }},
    {{"--pace", "burst", "--digits"},
     true,
     [](const SimOptions& o) {
         return o.burstPacing && !o.millisecondPacing && o.mode == SimMode::Digits;
     }},
    {{"--link", "/tmp/x/COM3", "--rate=10", "--count", "5"},
     true,
     [](const SimOptions& o) { return o.link == "/tmp/x/COM3" && o.rate == 10 && o.count == 5; }},
    {{"--baud", "9600"},
     true,
     [](const SimOptions& o) { return o.baud == 9600 && o.rate == 0; }},  // line speed paces
    {{"--baud", "9600", "--rate", "2"},
     true,
     [](const SimOptions& o) { return o.baud == 9600 && o.rate == 2; }},
    {{"--short", "--cr-only", "--quiet", "--wait-open", "--seed", "9"},
     true,
     [](const SimOptions& o) {
         return o.mode == SimMode::Short && o.crOnly && o.quiet && o.waitOpen && o.seed == 9;
     }},
    {{"--mixed", "--duration", "1.5", "--delay", "0.2", "--report-every", "0"},
     true,
     [](const SimOptions& o) {
         return o.mode == SimMode::Mixed && o.duration == 1.5 && o.startDelay == 0.2 &&
                o.reportEvery == 0;
     }},
    {{"--log", "a.bin", "--timestamps", "t.txt", "--drain-timeout", "3"},
     true,
     [](const SimOptions& o) {
         return o.logPath == "a.bin" && o.timestampsPath == "t.txt" && o.drainTimeout == 3;
     }},
    {{"--help"}, true, [](const SimOptions& o) { return o.help; }},
    {{"--rate"}, false, nullptr},             // value missing
    {{"--rate", "-1"}, false, nullptr},       // negative
    {{"--rate", "fast"}, false, nullptr},     // not a number
    {{"--count", "12x"}, false, nullptr},     // trailing text
    {{"--baud", "0"}, false, nullptr},        // a line needs a speed
    {{"--quiet=yes"}, false, nullptr},        // flags take no value
    {{"--colour"}, false, nullptr},           // unknown
    {{"COM2"}, false, nullptr},               // no positional arguments
    {{"--duration", "inf"}, false, nullptr},  // bounded or absent
    {{"--pace", "byte"}, false, nullptr},     // line or ms only
};

INSTANTIATE_TEST_SUITE_P(Rows, SimOptionsTest, ::testing::ValuesIn(kOptionRows));

TEST(PolishToCp1250Test, PolishLettersBecomeWindows1250Bytes) {
    EXPECT_EQ(PolishToCp1250("ąćęłńóśźż"), "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF");
    EXPECT_EQ(PolishToCp1250("ĄĆĘŁŃÓŚŹŻ"), "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF");
    EXPECT_EQ(PolishToCp1250("Suma: 12.50 kg"), "Suma: 12.50 kg");
}

std::vector<SimLine> Lines(SimOptions options, int count, double step = 0.25) {
    ScaleContent content(options);
    std::vector<SimLine> lines;
    for (int i = 0; i < count; ++i) lines.push_back(content.NextLine(i * step));
    return lines;
}

TEST(ScaleContentTest, ReadingsDriftSettleAndReportsComeEveryFewSeconds) {
    const std::vector<SimLine> lines = Lines(SimOptions{}, 400);
    const std::regex reading(R"( *\d+\.\d\d\r\n)");
    int readings = 0, settled = 0, reportLines = 0, nonZero = 0;
    std::string previous;
    for (const SimLine& line : lines) {
        ASSERT_GE(line.bytes.size(), 2u);
        EXPECT_EQ(line.bytes.substr(line.bytes.size() - 2), "\r\n");
        EXPECT_EQ(line.bytes.find('\r'), line.bytes.size() - 2);
        if (line.inReport) {
            ++reportLines;
            continue;
        }
        ASSERT_TRUE(std::regex_match(line.bytes, reading)) << line.bytes;
        EXPECT_EQ(line.bytes.size(), 8u);  // six characters, like " 12.50"
        ++readings;
        nonZero += line.bytes != "  0.00\r\n";
        settled += line.bytes == previous && line.bytes != "  0.00\r\n";
        previous = line.bytes;
    }
    EXPECT_GT(nonZero, readings / 4);
    EXPECT_GT(settled, 10);
    EXPECT_GT(reportLines, 0);
    std::string all;
    for (const SimLine& l : lines) all += l.bytes;
    EXPECT_NE(all.find("RAPORT WA\xAF"
                       "ENIA nr 1\r\n"),
              std::string::npos);
    EXPECT_NE(all.find("RAPORT WA\xAF"
                       "ENIA nr 2\r\n"),
              std::string::npos);
    EXPECT_NE(all.find("Liczba wa\xBF"
                       "e\xF1: "),
              std::string::npos);
    EXPECT_NE(all.find("SUMA:"), std::string::npos);
    EXPECT_NE(all.find("  1.  "), std::string::npos);  // a numbered weighing
}

TEST(ScaleContentTest, SameSeedSameLinesOtherSeedOtherLines) {
    SimOptions a, b;
    b.seed = 2;
    std::string first, again, other;
    for (const SimLine& l : Lines(a, 200)) first += l.bytes;
    for (const SimLine& l : Lines(a, 200)) again += l.bytes;
    for (const SimLine& l : Lines(b, 200)) other += l.bytes;
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
}

TEST(ScaleContentTest, ModesAndLineEnds) {
    SimOptions shortCr;
    shortCr.mode = SimMode::Short;
    shortCr.crOnly = true;
    const std::vector<SimLine> shortLines = Lines(shortCr, 12);
    EXPECT_EQ(shortLines[0].bytes, "1\r");
    EXPECT_EQ(shortLines[8].bytes, "9\r");
    EXPECT_EQ(shortLines[9].bytes, "0\r");
    EXPECT_EQ(shortLines[10].bytes, "1\r");

    // Random digits: every digit comes, and a line repeats the one before about 1 time in 10.
    SimOptions digits;
    digits.mode = SimMode::Digits;
    digits.crOnly = true;
    const std::vector<SimLine> digitLines = Lines(digits, 10000);
    std::set<std::string> seen;
    int repeats = 0;
    for (std::size_t i = 0; i < digitLines.size(); ++i) {
        ASSERT_EQ(digitLines[i].bytes.size(), 2u);
        ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(digitLines[i].bytes[0])));
        seen.insert(digitLines[i].bytes);
        if (i > 0 && digitLines[i].bytes == digitLines[i - 1].bytes) ++repeats;
    }
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_GT(repeats, 800);
    EXPECT_LT(repeats, 1200);

    SimOptions mixed;
    mixed.mode = SimMode::Mixed;
    bool sawHighByte = false, sawZero = false, sawLong = false;
    for (const SimLine& line : Lines(mixed, 2000)) {
        const std::string body = line.bytes.substr(0, line.bytes.size() - 2);
        EXPECT_EQ(body.find_first_of("\r\n"), std::string::npos);
        for (char c : body) sawHighByte |= static_cast<unsigned char>(c) >= 0x80;
        sawZero |= body.find('\0') != std::string::npos;
        sawLong |= body.size() > 2048;
    }
    EXPECT_TRUE(sawHighByte);
    EXPECT_TRUE(sawZero);
    EXPECT_TRUE(sawLong);
}

}  // namespace
