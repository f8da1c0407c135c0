#pragma once
// Decides whether a line's test text is one decimal number (a weight reading).

#include <string_view>

// True when the floating-point text conversion accepts `testText` with the decimal separator
// `separator`: optional sign, digits with at most one separator, optional exponent, nothing
// after it, no overflow of the 80-bit extended format. Only the part before a byte 0 counts.
bool IsNumberText(std::string_view testText, char separator);
