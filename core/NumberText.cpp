#include "NumberText.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>

namespace {

// The exponent's digits are taken until its value reaches this; a further digit is trailing text.
constexpr std::int64_t kExponentStop = 500;

// Largest magnitude accepted: the top of the 80-bit extended format, as 0.<digits> x 10^4933.
constexpr std::string_view kBoundDigits = "118973149535723176502";
constexpr std::int64_t kBoundDecimalExponent = 4933;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The parts of an accepted text that decide overflow.
struct ParsedNumber {
    bool negative = false;
    std::string_view digits;  // every mantissa digit, fraction digits included, in order
    std::int64_t fractionDigits = 0;
    std::int64_t exponent = 0;
};

// True when 0.<digits> (digits without leading zeros) is greater than 0.<kBoundDigits>.
bool FractionAboveBound(std::string_view digits) {
    const std::size_t n = std::max(digits.size(), kBoundDigits.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char a = i < digits.size() ? digits[i] : '0';
        const char b = i < kBoundDigits.size() ? kBoundDigits[i] : '0';
        if (a != b) return a > b;
    }
    return false;
}

// True when a value with the significant digits `significant` (no leading zero, not empty)
// times 10^scale lies above the bound. Exact: no floating-point arithmetic involved.
bool AboveBound(std::string_view significant, std::int64_t scale) {
    const std::int64_t magnitude = static_cast<std::int64_t>(significant.size()) + scale;
    if (magnitude != kBoundDecimalExponent) return magnitude > kBoundDecimalExponent;
    return FractionAboveBound(significant);
}

// Overflow at any point of the computation: the integer gathered from all mantissa digits,
// then that integer scaled by 10^(exponent - fraction digits). Underflow never rejects.
bool Overflows(const ParsedNumber& n) {
    const std::size_t first = n.digits.find_first_not_of('0');
    if (first == std::string_view::npos) return false;  // the value is zero
    const std::string_view significant = n.digits.substr(first);
    if (AboveBound(significant, 0)) return true;
    return AboveBound(significant, n.exponent - n.fractionDigits);
}

// Reads the exponent after 'E'/'e' from `pos` on; an empty run of digits is 0.
void ParseExponent(std::string_view t, std::size_t& pos, std::int64_t& exponent) {
    bool negative = false;
    if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) negative = t[pos++] == '-';
    std::int64_t value = 0;
    while (pos < t.size() && IsDigit(t[pos]) && value < kExponentStop) {
        value = value * 10 + (t[pos++] - '0');
    }
    exponent = negative ? -value : value;
}

// Splits `t` into sign, mantissa and exponent; false when the text is not one number.
bool Parse(std::string_view t, char separator, ParsedNumber& n, std::string& digits) {
    std::size_t pos = 0;
    if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) n.negative = t[pos++] == '-';
    bool mantissaSeen = false;
    while (pos < t.size() && IsDigit(t[pos])) {
        digits.push_back(t[pos++]);
        mantissaSeen = true;
    }
    if (pos < t.size() && t[pos] == separator) {
        ++pos;
        mantissaSeen = true;
        while (pos < t.size() && IsDigit(t[pos])) {
            digits.push_back(t[pos++]);
            ++n.fractionDigits;
        }
    }
    if (!mantissaSeen) return false;
    if (pos < t.size() && (t[pos] == 'E' || t[pos] == 'e')) {
        ++pos;
        ParseExponent(t, pos, n.exponent);
    }
    n.digits = digits;
    return pos == t.size();
}

}  // namespace

bool IsNumberText(std::string_view testText, char separator) {
    const std::size_t zero = testText.find('\0');
    if (zero != std::string_view::npos) testText = testText.substr(0, zero);
    ParsedNumber number;
    std::string digits;
    if (!Parse(testText, separator, number, digits)) return false;
    return !Overflows(number);
}

std::optional<double> NumberTextValue(std::string_view testText, char separator) {
    const std::size_t zero = testText.find('\0');
    if (zero != std::string_view::npos) testText = testText.substr(0, zero);
    ParsedNumber number;
    std::string digits;
    if (!Parse(testText, separator, number, digits) || digits.empty()) return std::nullopt;
    // The digits as one integer times a power of ten: std::from_chars reads it the same way in
    // every locale, unlike strtod.
    const std::int64_t scale = number.exponent - number.fractionDigits;
    std::string text = (number.negative ? "-" : "") + digits + "e" + std::to_string(scale);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) {
        const std::size_t first = digits.find_first_not_of('0');
        const std::int64_t magnitude =
            static_cast<std::int64_t>(digits.size() - first) + scale;  // first != npos here
        if (magnitude > 0) return std::nullopt;                        // beyond double's range
        return number.negative ? -0.0 : 0.0;
    }
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<int> NumberTextDecimals(std::string_view testText, char separator) {
    const std::size_t zero = testText.find('\0');
    if (zero != std::string_view::npos) testText = testText.substr(0, zero);
    ParsedNumber number;
    std::string digits;
    if (!Parse(testText, separator, number, digits) || digits.empty()) return std::nullopt;
    if (testText.find_first_of("Ee") != std::string_view::npos) return std::nullopt;
    return static_cast<int>(number.fractionDigits);
}
