// The number test on test texts (spaces already removed, dots already turned into commas).

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <optional>
#include <string>

#include "CoreTestSupport.h"
#include "NumberText.h"

using namespace std::string_literals;

namespace {

struct NumberCase {
    std::string text;
    bool accepted;
    char separator = ',';
};

std::string Zeros(std::size_t n) { return std::string(n, '0'); }

std::ostream& operator<<(std::ostream& out, const NumberCase& c) {
    return out << Escaped(c.text) << " sep " << c.separator;
}

class NumberTextTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(NumberTextTest, AcceptsExactlyOneNumber) {
    EXPECT_EQ(IsNumberText(GetParam().text, GetParam().separator), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, NumberTextTest,
    ::testing::Values(NumberCase{"12,5", true}, NumberCase{"12,50", true},
                      NumberCase{"12345,6", true}, NumberCase{"+5", true},
                      NumberCase{"-0,00", true}, NumberCase{"1e3", true}, NumberCase{"1E", true},
                      NumberCase{"1e+", true}, NumberCase{"1e-3", true}, NumberCase{"5,", true},
                      NumberCase{",5", true},
                      // a lone separator, signed or not, is the value 0
                      NumberCase{",", true}, NumberCase{"-,", true}, NumberCase{"+,", true},
                      NumberCase{",e5", true}, NumberCase{"1,234", true}, NumberCase{"007", true},
                      // rejected shapes
                      NumberCase{"", false}, NumberCase{"+", false}, NumberCase{"-", false},
                      NumberCase{"--5", false}, NumberCase{"+-5", false}, NumberCase{"5-", false},
                      NumberCase{"e5", false}, NumberCase{"E", false}, NumberCase{"-e5", false},
                      NumberCase{"1,234,5", false}, NumberCase{",,", false},
                      NumberCase{"12,5kg", false}, NumberCase{"1\t2", false},
                      NumberCase{"1\xA0"
                                 "2",
                                 false},
                      NumberCase{"1e5e5", false}, NumberCase{"1ee5", false},
                      NumberCase{"1e--5", false}, NumberCase{"1e5,", false},
                      NumberCase{"0x10", false}, NumberCase{"inf", false}, NumberCase{"nan", false},
                      NumberCase{"1d5", false}, NumberCase{"\xB9", false},
                      NumberCase{" 1", false}));

INSTANTIATE_TEST_SUITE_P(ByteZeroEndsTheText, NumberTextTest,
                         ::testing::Values(NumberCase{"12,5\0kg"s, true},
                                           NumberCase{"12,5\0\0"s, true},
                                           NumberCase{"\0"
                                                      "12"s,
                                                      false},
                                           NumberCase{"12,5kg\0"
                                                      "5"s,
                                                      false},
                                           NumberCase{"-\0"
                                                      "5"s,
                                                      false},
                                           NumberCase{",\0,"s, true}));

INSTANTIATE_TEST_SUITE_P(
    PointSeparator, NumberTextTest,
    ::testing::Values(NumberCase{"12,5", false, '.'}, NumberCase{"125", true, '.'},
                      NumberCase{"-125", true, '.'}, NumberCase{"12.5", true, '.'},
                      NumberCase{"1e3", true, '.'}, NumberCase{".", true, '.'}));

// Exponent digits are taken until the exponent reaches 500; a digit after that is trailing
// text. Below 500 every digit is taken, whatever the count.
INSTANTIATE_TEST_SUITE_P(
    ExponentDigits, NumberTextTest,
    ::testing::Values(NumberCase{"1e999", true}, NumberCase{"1e499", true},
                      NumberCase{"1e500", true}, NumberCase{"1e0500", true},
                      NumberCase{"1e0000000000499", true}, NumberCase{"1e5000", false},
                      NumberCase{"1e49999", false}, NumberCase{"1e-5000", false},
                      NumberCase{"1e-4999", true}, NumberCase{"1e-999999"s, false},
                      NumberCase{"0e4999", true}, NumberCase{"0,0e4999", true},
                      NumberCase{"1e4999", false}, NumberCase{"-1e4999", false},
                      NumberCase{"1e50", true}, NumberCase{"1e501", true}));

// Overflow of the 80-bit extended format: above 1.18973149535723176502e4932, decided from the
// digits, both for the integer gathered from every mantissa digit and for the scaled result.
INSTANTIATE_TEST_SUITE_P(
    ExtendedFormatBound, NumberTextTest,
    ::testing::Values(
        NumberCase{"1e4932", true}, NumberCase{"1e4933", false}, NumberCase{"2e4932", false},
        NumberCase{"-2e4932", false}, NumberCase{"1,18973149535723176502e4932", true},
        NumberCase{"1,18973149535723176503e4932", false},
        NumberCase{"1,189731495357231765020000000000001e4932", false},
        NumberCase{"1,189731495357231765019999999999999e4932", true},
        NumberCase{"118973149535723176502e4912", true},
        NumberCase{"118973149535723176503e4912", false},
        NumberCase{"0,000118973149535723176502e4936", true}, NumberCase{"0,0001e4936", true},
        NumberCase{"0,001e4936", false}, NumberCase{",1e4933", true}, NumberCase{",2e4933", false},
        NumberCase{"000000001e4932", true},
        // the integer gathered from all mantissa digits, before any scaling
        NumberCase{"1" + Zeros(4932), true}, NumberCase{"1" + Zeros(4933), false},
        NumberCase{"1" + Zeros(4931) + ",0", true}, NumberCase{"1" + Zeros(4932) + ",0", false},
        NumberCase{"1" + Zeros(4932) + "e-10", true}, NumberCase{"2" + Zeros(4932) + "e-10", false},
        NumberCase{"0," + Zeros(4940) + "1", true}, NumberCase{Zeros(10000) + "1", true},
        // a huge number of fraction digits scales the value down, no overflow
        NumberCase{"0," + Zeros(5000) + "1e4999", true},
        // underflow never rejects
        NumberCase{"0," + Zeros(6000) + "1", true}, NumberCase{"1e-4999", true}));

// The value of an accepted text, read under the Polish locale the program runs in (whose decimal
// separator is ','): the locale must not change it. Without the locale installed the rows still
// run under the current one.
struct ValueCase {
    std::string text;
    std::optional<double> value;
};

std::ostream& operator<<(std::ostream& out, const ValueCase& c) { return out << Escaped(c.text); }

class NumberValueTest : public ::testing::TestWithParam<ValueCase> {
  protected:
    void SetUp() override {
        previous_ = std::setlocale(LC_ALL, nullptr);
        std::setlocale(LC_ALL, "pl_PL.UTF-8");
    }
    void TearDown() override { std::setlocale(LC_ALL, previous_.c_str()); }

  private:
    std::string previous_;
};

TEST_P(NumberValueTest, IsTheSameInEveryLocale) {
    const std::optional<double> value = NumberTextValue(GetParam().text, ',');
    ASSERT_EQ(value.has_value(), GetParam().value.has_value());
    if (value) {
        EXPECT_EQ(*value, *GetParam().value);
        EXPECT_EQ(std::signbit(*value), std::signbit(*GetParam().value));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, NumberValueTest,
    ::testing::Values(ValueCase{"14,84", 14.84}, ValueCase{"12,50", 12.5},
                      ValueCase{"-0,25", -0.25}, ValueCase{"7,5", 7.5}, ValueCase{"+5", 5.0},
                      ValueCase{"007", 7.0}, ValueCase{",5", 0.5}, ValueCase{"5,", 5.0},
                      ValueCase{"1e3", 1000.0}, ValueCase{"1,5E", 1.5}, ValueCase{"2e-3", 0.002},
                      ValueCase{"12,5\0kg"s, 12.5}, ValueCase{"1e308", 1e308},
                      // no digit: a reading without a value
                      ValueCase{",", std::nullopt}, ValueCase{"-,e5", std::nullopt},
                      // beyond double's range: no value; below its smallest: zero with the sign
                      ValueCase{"2e308", std::nullopt}, ValueCase{"-1e4000", std::nullopt},
                      ValueCase{"1e-400", 0.0}, ValueCase{"-1e-400", -0.0},
                      ValueCase{"0," + Zeros(400) + "1e400", 0.1},
                      // not one number
                      ValueCase{"12,5kg", std::nullopt}, ValueCase{"1.5", std::nullopt}));

}  // namespace
