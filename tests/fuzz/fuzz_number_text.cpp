// Number test: never crashes; byte 0 ends the text; ',' and '.' as separator behave alike;
// and for plain texts the result agrees with the host's strtold where its long double is the
// 80-bit extended format.

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "NumberText.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Swapped(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == ',')
            c = '.';
        else if (c == '.')
            c = ',';
    }
    return out;
}

// A plain number: [+-] digits [',' digits] ['e' [+-] up to three digits], at least one
// mantissa digit. Fills the strtold forms of the value and of the integer gathered from every
// mantissa digit. An empty exponent is 0.
bool Plain(std::string_view t, std::string& value, std::string& gathered) {
    std::size_t pos = 0;
    if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) value += t[pos++];
    bool separator = false;
    while (pos < t.size() && (IsDigit(t[pos]) || (t[pos] == ',' && !separator))) {
        if (t[pos] == ',')
            separator = true;
        else
            gathered += t[pos];
        value += t[pos] == ',' ? '.' : t[pos];
        ++pos;
    }
    if (gathered.empty()) return false;
    value += 'e';
    std::string exponent;
    if (pos < t.size() && (t[pos] == 'e' || t[pos] == 'E')) {
        ++pos;
        if (pos < t.size() && (t[pos] == '+' || t[pos] == '-')) value += t[pos++];
        while (pos < t.size() && IsDigit(t[pos])) exponent += t[pos++];
        if (exponent.size() > 3) return false;
    }
    value += exponent.empty() ? "0" : exponent;
    return pos == t.size();
}

long double Read(const std::string& text) { return std::strtold(text.c_str(), nullptr); }

// True when the host's strtold (correctly rounded) and the test may legitimately disagree:
// the test's bound lies a hair below the format's largest value.
bool NearTheBound(long double a, long double b) {
    const long double nearBound = 1.18973149535723176e4932L;
    return std::fabs(a) >= nearBound || std::fabs(b) >= nearBound;
}

void CheckAgainstStrtold(std::string_view text, bool accepted) {
    if (LDBL_MANT_DIG != 64 || text.size() > 6000) return;
    std::string value, gathered;
    if (!Plain(text, value, gathered)) return;
    const long double v = Read(value);
    const long double g = Read(gathered);
    const bool overflow = std::isinf(v) || std::isinf(g);
    if (accepted == !overflow) return;
    if (NearTheBound(v, g)) return;
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool accepted = IsNumberText(text, ',');

    if (IsNumberText(text.substr(0, text.find('\0')), ',') != accepted) __builtin_trap();
    if (IsNumberText(Swapped(text), '.') != accepted) __builtin_trap();
    CheckAgainstStrtold(text.substr(0, text.find('\0')), accepted);
    return 0;
}
