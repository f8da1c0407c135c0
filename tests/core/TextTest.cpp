// The integer conversion, the code page and the three text routines.

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "CoreTestSupport.h"
#include "LineRouting.h"
#include "TextToInt.h"
#include "Win1250.h"

using namespace std::string_literals;

struct IntCase {
    std::string text;
    std::optional<std::int32_t> expected;
};

std::ostream& operator<<(std::ostream& out, const IntCase& c) { return out << Escaped(c.text); }

class TextToIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(TextToIntTest, ConvertsOrFails) {
    EXPECT_EQ(TextToInt(GetParam().text), GetParam().expected)
        << "text: '" << GetParam().text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Decimal, TextToIntTest,
    ::testing::Values(IntCase{"0", 0}, IntCase{"300", 300}, IntCase{"   42", 42}, IntCase{"+7", 7},
                      IntCase{"-7", -7}, IntCase{"007", 7}, IntCase{"2147483647", 2147483647},
                      IntCase{" -2147483648", INT32_MIN},
                      IntCase{"0000000000002147483647", 2147483647},
                      // failures: nothing after the digits, no blank but the space in front
                      IntCase{"2147483648", std::nullopt}, IntCase{"-2147483649", std::nullopt},
                      IntCase{"99999999999999999999999", std::nullopt}, IntCase{"", std::nullopt},
                      IntCase{"   ", std::nullopt}, IntCase{"+", std::nullopt},
                      IntCase{"-", std::nullopt}, IntCase{"42 ", std::nullopt},
                      IntCase{"\t42", std::nullopt}, IntCase{"4 2", std::nullopt},
                      IntCase{"+-4", std::nullopt}, IntCase{"12a", std::nullopt},
                      IntCase{"1.0", std::nullopt}, IntCase{"42\0"s, std::nullopt},
                      IntCase{"\xA0"
                              "42",
                              std::nullopt}));

INSTANTIATE_TEST_SUITE_P(
    Hexadecimal, TextToIntTest,
    ::testing::Values(IntCase{"$10", 16}, IntCase{"x1f", 31}, IntCase{"X1F", 31},
                      IntCase{"0x7fffffff", 2147483647}, IntCase{"0X0", 0}, IntCase{"  $A", 10},
                      IntCase{"$FFFFFFFF", -1}, IntCase{"$80000000", INT32_MIN},
                      IntCase{"$0000000000ff", 255}, IntCase{"$100000000", std::nullopt},
                      IntCase{"$fffffffff", std::nullopt}, IntCase{"$", std::nullopt},
                      IntCase{"0x", std::nullopt}, IntCase{"-$1", std::nullopt},
                      IntCase{"+0x1", std::nullopt}, IntCase{"00x1", std::nullopt},
                      IntCase{"0x1g", std::nullopt}, IntCase{"$ 1", std::nullopt},
                      IntCase{"$1 ", std::nullopt}));

TEST(Win1250Test, PolishLettersAndEuro) {
    const struct {
        unsigned char byte;
        char16_t unicode;
    } rows[] = {{0xA5, u'Ą'}, {0xB9, u'ą'},  {0xC6, u'Ć'},      {0xE6, u'ć'},     {0xCA, u'Ę'},
                {0xEA, u'ę'}, {0xA3, u'Ł'},  {0xB3, u'ł'},      {0xD1, u'Ń'},     {0xF1, u'ń'},
                {0xD3, u'Ó'}, {0xF3, u'ó'},  {0x8C, u'Ś'},      {0x9C, u'ś'},     {0x8F, u'Ź'},
                {0x9F, u'ź'}, {0xAF, u'Ż'},  {0xBF, u'ż'},      {0x80, u'€'},     {0xA0, u'\u00A0'},
                {0x41, u'A'}, {0x00, u'\0'}, {0x81, u'\u0081'}, {0x98, u'\u0098'}};
    for (const auto& row : rows) {
        EXPECT_EQ(Win1250ToUnicode(row.byte), row.unicode) << int(row.byte);
        EXPECT_EQ(EncodeWin1250(std::u16string(1, row.unicode)), std::string(1, char(row.byte)));
    }
}

TEST(Win1250Test, EveryByteSurvivesTheRoundTripAndMapsToItsOwnCharacter) {
    std::string all;
    std::set<char16_t> seen;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
        seen.insert(Win1250ToUnicode(static_cast<unsigned char>(b)));
    }
    EXPECT_EQ(seen.size(), 256u);
    EXPECT_EQ(DecodeWin1250(all).size(), 256u);
    EXPECT_EQ(EncodeWin1250(DecodeWin1250(all)), all);
}

TEST(Win1250Test, Utf8Texts) {
    const struct {
        std::string utf8;
        std::string bytes;
    } rows[] = {
        {"Błąd zapisu",
         "B\xB3\xB9"
         "d zapisu"},
        {"Wyświetlaj",
         "Wy\x9C"
         "wietlaj"},
        {"kasuj początek", "kasuj pocz\xB9tek"},
        {"Zażółć gęślą jaźń", "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1"},
        {"日", "?"},                // not in the code page
        {"\xF0\x9F\x98\x80", "?"},  // beyond 16 bits
        {"a\xC5", "a?"},            // cut sequence
        {"\xFFx", "?x"},            // not a lead byte
        {"", ""},
    };
    for (const auto& row : rows) EXPECT_EQ(Utf8ToWin1250(row.utf8).Bytes(), row.bytes) << row.utf8;
}

TEST(TextRoutinesTest, SpacesDotsAndCommas) {
    const struct {
        std::string in, noSpaces, commas, dots;
    } rows[] = {
        {" 12.50", "12.50", " 12,50", " 12.50"},
        {"12 345,6", "12345,6", "12 345,6", "12 345.6"},
        {"1.234,5", "1.234,5", "1,234,5", "1.234.5"},
        {"   ", "", "   ", "   "},
        {"", "", "", ""},
        {"a\tb\xA0 c",
         "a\tb\xA0"
         "c",
         "a\tb\xA0 c", "a\tb\xA0 c"},
        {" \0 .,"s, "\0.,"s, " \0 ,,"s, " \0 .."s},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(RemoveSpaces(row.in), row.noSpaces);
        EXPECT_EQ(DotsToCommas(row.in), row.commas);
        EXPECT_EQ(CommasToDots(row.in), row.dots);
    }
}
