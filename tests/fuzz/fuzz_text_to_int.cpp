// Integer conversion: never crashes; agrees with an independent reading through strtoll and
// strtoull; every int32 written in decimal or as a 32-bit hexadecimal pattern reads back.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "TextToInt.h"

namespace {

bool AllOf(std::string_view s, const char* set) {
    return !s.empty() && s.find_first_not_of(set) == std::string_view::npos;
}

std::optional<std::int32_t> Reference(std::string_view text) {
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    text.remove_prefix(start);
    std::size_t prefix = 0;
    if (text.starts_with("0x") || text.starts_with("0X"))
        prefix = 2;
    else if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X'))
        prefix = 1;
    if (prefix > 0) {
        std::string_view digits = text.substr(prefix);
        if (!AllOf(digits, "0123456789abcdefABCDEF")) return std::nullopt;
        while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
        if (digits.size() > 8) return std::nullopt;
        const unsigned long long v = std::strtoull(std::string(digits).c_str(), nullptr, 16);
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }
    std::string_view digits = text;
    if (digits.starts_with('+') || digits.starts_with('-')) digits.remove_prefix(1);
    if (!AllOf(digits, "0123456789")) return std::nullopt;
    errno = 0;
    const long long v = std::strtoll(std::string(text).c_str(), nullptr, 10);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (TextToInt(text) != Reference(text)) __builtin_trap();

    if (size >= 4) {
        std::uint32_t pattern = 0;
        std::memcpy(&pattern, data, 4);
        const auto value = static_cast<std::int32_t>(pattern);
        char hex[16];
        std::snprintf(hex, sizeof hex, "$%X", pattern);
        if (TextToInt(std::to_string(value)) != value) __builtin_trap();
        if (TextToInt(hex) != value) __builtin_trap();
    }
    return 0;
}
