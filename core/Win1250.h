#pragma once
// Windows-1250 (Central European) code page: every text of the program is a byte string in it.
// The conversion to Unicode happens only at the widget boundary.

#include <string>
#include <string_view>

// The Unicode character of one Windows-1250 byte. The five bytes the code page leaves
// undefined (0x81, 0x83, 0x88, 0x90, 0x98) map to the control character of the same value.
char16_t Win1250ToUnicode(unsigned char byte);

// Bytes to UTF-16, one character per byte (byte 0 included).
std::u16string DecodeWin1250(std::string_view bytes);

// UTF-16 to bytes; a character the code page cannot hold becomes '?'.
std::string EncodeWin1250(std::u16string_view text);

// UTF-8 to Windows-1250 bytes (used for the program's own fixed Polish texts).
std::string Utf8ToWin1250(std::string_view utf8);
