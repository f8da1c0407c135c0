#pragma once
// Windows-1250 (Central European) code page. Received bytes and the texts typed into the
// window's edits are bytes in this code page, carried as Win1250Text; the program's own messages
// are UTF-8 in plain strings. The conversion to Unicode happens only at the widget boundary.

#include <string>
#include <string_view>
#include <utility>

// Bytes in the Windows-1250 code page (any byte value, 0 included). A type of its own, so that a
// UTF-8 message cannot be passed where received bytes are meant, or the other way round.
class Win1250Text {
  public:
    Win1250Text() = default;
    explicit Win1250Text(std::string bytes) : bytes_(std::move(bytes)) {}

    const std::string& Bytes() const { return bytes_; }
    bool Empty() const { return bytes_.empty(); }
    // The text up to its first byte 0: what the read-out and the report view show.
    std::string_view Shown() const { return std::string_view(bytes_).substr(0, bytes_.find('\0')); }

    bool operator==(const Win1250Text&) const = default;

  private:
    std::string bytes_;
};

// The Unicode character of one Windows-1250 byte. The five bytes the code page leaves
// undefined (0x81, 0x83, 0x88, 0x90, 0x98) map to the control character of the same value.
char16_t Win1250ToUnicode(unsigned char byte);

// The additions (the journal, the weight service and every export) keep a whole line: a byte 0,
// at which the read-out and the report view end it, becomes this visible sign (␀), and the
// rest of the line follows it.
inline constexpr char16_t kVisibleByteZero = u'\u2400';
inline char16_t Win1250ToVisible(unsigned char byte) {
    return byte == 0 ? kVisibleByteZero : Win1250ToUnicode(byte);
}

// Bytes to UTF-16, one character per byte (byte 0 included).
std::u16string DecodeWin1250(std::string_view bytes);

// UTF-16 to bytes; a character the code page cannot hold becomes '?'.
std::string EncodeWin1250(std::u16string_view text);

// UTF-8 to Windows-1250 bytes; a character the code page cannot hold becomes '?'.
Win1250Text Utf8ToWin1250(std::string_view utf8);
