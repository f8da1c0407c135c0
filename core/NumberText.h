#pragma once
// Decides whether a line's test text is one decimal number (a weight reading).

#include <optional>
#include <string_view>

// True when the floating-point text conversion accepts `testText` with the decimal separator
// `separator`: optional sign, digits with at most one separator, optional exponent, nothing
// after it, no overflow of the 80-bit extended format. Only the part before a byte 0 counts.
bool IsNumberText(std::string_view testText, char separator);

// The value of a text the number test accepts with `separator`, read the same way whatever the
// process's locale (the program runs under a Polish one, whose decimal separator is ','). Nullopt
// when the text is not one number, holds no digit (a lone separator), or lies beyond double's
// range; a value too small for double is 0 with its sign.
std::optional<double> NumberTextValue(std::string_view testText, char separator);

// The decimals a text the number test accepts was written with: the digits after the separator
// ("17,70": 2, "100": 0). Nullopt when the text is not one number or has an exponent ("1,5E3"),
// whose decimals say nothing of how the value is to be shown.
std::optional<int> NumberTextDecimals(std::string_view testText, char separator);
