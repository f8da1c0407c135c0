// The konfig.ini reader and writer over bytes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SettingsFormat.h"
#include "SettingsTestSupport.h"

using namespace std::string_literals;

namespace {

struct SplitRow {
    const char* what;
    std::string bytes;
    std::vector<std::string> lines;
    friend void PrintTo(const SplitRow& row, std::ostream* out) { *out << row.what; }
};

class SplitLines : public testing::TestWithParam<SplitRow> {};

TEST_P(SplitLines, CutsAtCarriageReturns) {
    std::vector<std::string> lines;
    for (auto line : SplitSettingsLines(GetParam().bytes)) lines.emplace_back(line);
    EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Konfig, SplitLines,
    testing::Values(SplitRow{"empty file", "", {}},
                    SplitRow{"last line without an end", "a\r\nb", {"a", "b"}},
                    SplitRow{"CR LF is one line end", "a\r\nb\r\n", {"a", "b"}},
                    SplitRow{"CR alone ends a line", "a\rb\r", {"a", "b"}},
                    SplitRow{"lone LF is an ordinary character", "a\nb\r\nc", {"a\nb", "c"}},
                    SplitRow{"only the first LF after CR belongs to it", "a\r\n\nb", {"a", "\nb"}},
                    SplitRow{"LF before CR stays in the line", "a\n\r\nb", {"a\n", "b"}},
                    SplitRow{"empty lines are lines", "\r\r\na", {"", "", "a"}},
                    SplitRow{"Ctrl+Z ends the file", "a\r\nb\x1A\r\nc", {"a", "b"}},
                    SplitRow{"Ctrl+Z first: no lines",
                             "\x1A"
                             "a",
                             {}},
                    SplitRow{"byte 0 is an ordinary character", "a\0b\r\n"s, {"a\0b"s}}),
    [](const auto& info) { return RowName(info.param.what, info.index); });

struct ReadRow {
    const char* what;
    std::string bytes;
    SettingsRead expected;
    friend void PrintTo(const ReadRow& row, std::ostream* out) { *out << row.what; }
};

class Reader : public testing::TestWithParam<ReadRow> {};

TEST_P(Reader, AcceptsWhatTheTableAllows) {
    const SettingsRead got = ParseSettings(GetParam().bytes);
    EXPECT_EQ(got.comPort, GetParam().expected.comPort);
    EXPECT_EQ(got.comPortSpeed, GetParam().expected.comPortSpeed);
    EXPECT_EQ(got.recording, GetParam().expected.recording);
    EXPECT_EQ(got.recordReadings, GetParam().expected.recordReadings);
    EXPECT_EQ(got.showReadings, GetParam().expected.showReadings);
    EXPECT_EQ(got.maxReportLines, GetParam().expected.maxReportLines);
    EXPECT_EQ(got.deleteOldest, GetParam().expected.deleteOldest);
    EXPECT_EQ(got.unit, GetParam().expected.unit);
}

INSTANTIATE_TEST_SUITE_P(
    Konfig, Reader,
    testing::Values(
        ReadRow{"empty file changes nothing", "", {}},
        ReadRow{"the default file",
                kDefaultFile,
                {pnCOM2, br2400, true, false, false, 300, true, Win1250Text("kg")}},
        ReadRow{"port 3", "Numer_portu=3", {.comPort = pnCOM3}},
        ReadRow{"port 1 is the lowest", "Numer_portu=1\r\n", {.comPort = pnCOM1}},
        ReadRow{"port 4 is the highest", "Numer_portu=4\r\n", {.comPort = pnCOM4}},
        ReadRow{"port 5 ignored", "Numer_portu=5", {}},
        ReadRow{"port 0 ignored", "Numer_portu=0", {}},
        ReadRow{"port with a leading blank", "Numer_portu= 3", {.comPort = pnCOM3}},
        ReadRow{"port with a trailing blank ignored", "Numer_portu=3 ", {}},
        ReadRow{"port with a sign", "Numer_portu=+3", {.comPort = pnCOM3}},
        ReadRow{"port in hexadecimal", "Numer_portu=$4", {.comPort = pnCOM4}},
        ReadRow{
            "port 1 then port 4: COM4", "Numer_portu=1\r\nNumer_portu=4\r\n", {.comPort = pnCOM4}},
        ReadRow{"last acceptable occurrence wins",
                "Numer_portu=4\r\nNumer_portu=9\r\n",
                {.comPort = pnCOM4}},
        ReadRow{"key in other case ignored", "numer_portu=3", {}},
        ReadRow{"blank before = ignored", "Numer_portu =3", {}},
        ReadRow{"blank before the key ignored", " Numer_portu=3", {}},
        ReadRow{"line without =", "Numer_portu3\r\nJednostka", {}},
        ReadRow{"nothing after = changes nothing", "Zapis_do_pliku=\r\nKasuj_poczatek=", {}},
        ReadRow{"value taken after the first =", "Numer_portu==3", {}},
        ReadRow{"unknown keys ignored", "Port=3\r\nNumer_portu=3\r\nfoo=bar", {.comPort = pnCOM3}},
        ReadRow{"speed 9601 ignored", "Predkosc_transmisji=9601", {}},
        ReadRow{"speed 115200", "Predkosc_transmisji=115200", {.comPortSpeed = br115200}},
        ReadRow{"speed 110", "Predkosc_transmisji=110", {.comPortSpeed = br110}},
        ReadRow{"speed 14400", "Predkosc_transmisji=14400", {.comPortSpeed = br14400}},
        ReadRow{"speed 56000", "Predkosc_transmisji=56000", {.comPortSpeed = br56000}},
        ReadRow{"negative speed ignored", "Predkosc_transmisji=-2400", {}},
        ReadRow{"recording 1", "Zapis_do_pliku=1", {.recording = true}},
        ReadRow{
            "recording 1 with a trailing blank is off", "Zapis_do_pliku=1 ", {.recording = false}},
        ReadRow{"recording yes is off", "Zapis_do_pliku=yes", {.recording = false}},
        ReadRow{"recording 0", "Zapis_do_pliku=0", {.recording = false}},
        ReadRow{"record readings", "Zapisuj_display=1", {.recordReadings = true}},
        ReadRow{"show readings", "Wyswietlaj_display=1", {.showReadings = true}},
        ReadRow{"limit 9 ignored", "Maksym_ilosc_lini=9", {}},
        ReadRow{"limit 5001 ignored", "Maksym_ilosc_lini=5001", {}},
        ReadRow{"limit 10", "Maksym_ilosc_lini=10", {.maxReportLines = 10}},
        ReadRow{"limit 5000", "Maksym_ilosc_lini=5000", {.maxReportLines = 5000}},
        ReadRow{"limit cut to 12 characters",
                "Maksym_ilosc_lini=0000000000300",
                {.maxReportLines = 30}},
        ReadRow{"limit abc ignored", "Maksym_ilosc_lini=abc", {}},
        ReadRow{"delete oldest", "Kasuj_poczatek=1", {.deleteOldest = true}},
        ReadRow{"clear all", "Kasuj_poczatek=0", {.deleteOldest = false}},
        ReadRow{"unit g", "Jednostka=g", {.unit = Win1250Text("g")}},
        ReadRow{"unit t", "Jednostka=t", {.unit = Win1250Text("t")}},
        ReadRow{"unit kg followed by letters", "Jednostka=kgs", {.unit = Win1250Text("kg")}},
        ReadRow{"unit gr ignored", "Jednostka=gr", {}},
        ReadRow{"unit KG ignored", "Jednostka=KG", {}},
        ReadRow{"unit lb ignored", "Jednostka=lb", {}},
        ReadRow{"unit g with a blank ignored", "Jednostka=g ", {}},
        ReadRow{"LF-only lines are one line: first key counts",
                "Zapis_do_pliku=0\nNumer_portu=3\nJednostka=g",
                {.recording = false}},
        ReadRow{"CR-only lines",
                "Numer_portu=3\rJednostka=t\r",
                {.comPort = pnCOM3, .unit = Win1250Text("t")}},
        ReadRow{
            "Ctrl+Z ends the file", "Numer_portu=3\r\n\x1AJednostka=g\r\n", {.comPort = pnCOM3}},
        ReadRow{"Ctrl+Z right after a value", "Numer_portu=3\x1A", {.comPort = pnCOM3}},
        ReadRow{"byte 0 in a value fails the number", "Numer_portu=3\0\r\n"s, {}},
        ReadRow{"a second LF starts the next line's key",
                "Numer_portu=3\r\n\nJednostka=g",
                {.comPort = pnCOM3}}),
    [](const auto& info) { return RowName(info.param.what, info.index); });

TEST(KonfigWriter, DefaultsGiveTheEightLines) {
    EXPECT_EQ(FormatSettings(DefaultSettingsWrite()), kDefaultFile);
}

TEST(KonfigWriter, WritesEveryFieldAsStored) {
    const SettingsWrite settings{pnCOM4, br115200,           false, true,
                                 true,   Win1250Text("abc"), false, Win1250Text("g")};
    EXPECT_EQ(FormatSettings(settings),
              "Numer_portu=4\r\nPredkosc_transmisji=115200\r\nZapis_do_pliku=0\r\n"
              "Zapisuj_display=1\r\nWyswietlaj_display=1\r\nMaksym_ilosc_lini=abc\r\n"
              "Kasuj_poczatek=0\r\nJednostka=g\r\n");
}

TEST(KonfigWriter, ControlBytesInATextCannotAddLinesOrEndTheFile) {
    SettingsWrite settings = DefaultSettingsWrite();
    settings.maxLinesText = Win1250Text("12\r\nNumer_portu=4");
    settings.unit = Win1250Text("k\x1Ag");
    const std::string file = FormatSettings(settings);
    EXPECT_NE(file.find("Maksym_ilosc_lini=12\r\nKasuj"), std::string::npos);
    EXPECT_NE(file.find("Jednostka=k\r\n"), std::string::npos);
    EXPECT_EQ(ParseSettings(file).comPort, pnCOM2);
}

TEST(KonfigRoundTrip, EveryPortAndSpeedSurvives) {
    for (int port = 0; port < kComPortCount; ++port) {
        for (int speed = 0; speed < kBaudRateCount; ++speed) {
            const SettingsWrite written{static_cast<PortNumber>(port),
                                        static_cast<BaudRate>(speed),
                                        port % 2 == 0,
                                        speed % 2 == 0,
                                        speed % 3 == 0,
                                        Win1250Text(std::to_string(10 + 100 * speed)),
                                        port % 3 != 0,
                                        Win1250Text(speed % 2 ? "t" : "kg")};
            const SettingsRead read = ParseSettings(FormatSettings(written));
            const SettingsRead expected{written.comPort,      written.comPortSpeed,
                                        written.recording,    written.recordReadings,
                                        written.showReadings, 10 + 100 * speed,
                                        written.deleteOldest, written.unit};
            EXPECT_EQ(read, expected) << "port " << port << " speed " << speed;
        }
    }
}

TEST(KonfigRoundTrip, AnUnacceptedLimitTextIsWrittenAndIgnoredNextTime) {
    SettingsWrite settings = DefaultSettingsWrite();
    settings.maxLinesText = Win1250Text("abc");
    EXPECT_FALSE(ParseSettings(FormatSettings(settings)).maxReportLines.has_value());
}

}  // namespace
