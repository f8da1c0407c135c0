#pragma once
// The program's text-to-integer conversion (line-limit edit, integer keys of konfig.ini).

#include <cstdint>
#include <optional>
#include <string_view>

// Leading spaces are skipped; then either an optional '+' or '-' and decimal digits whose value
// fits a signed 32-bit integer, or a hexadecimal prefix ("$", "x", "X", "0x", "0X", no sign) and
// hexadecimal digits whose value fits 32 bits (taken as the 32-bit pattern). Nothing may follow.
std::optional<std::int32_t> TextToInt(std::string_view text);
