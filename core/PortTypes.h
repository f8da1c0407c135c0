#pragma once
// The serial port vocabulary: enumerations stored as one-byte ordinals, and the speed table.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

enum PortNumber : std::uint8_t { pnCOM1 = 0, pnCOM2, pnCOM3, pnCOM4 };

enum BaudRate : std::uint8_t {
    br110 = 0,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200
};

enum DataBits : std::uint8_t { db5BITS = 0, db6BITS, db7BITS, db8BITS };

// The ordinals equal the Windows codes ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS.
enum StopBits : std::uint8_t { sb1BITS = 0, sb1HALFBITS, sb2BITS };

// The ordinals equal the Windows codes NOPARITY ... SPACEPARITY.
enum Parity : std::uint8_t { ptNONE = 0, ptODD, ptEVEN, ptMARK, ptSPACE };

enum HwHandshaking : std::uint8_t { hhNONE = 0, hhRTSCTS };

enum SwHandshaking : std::uint8_t { shNONE = 0, shXONXOFF };

// How many values each enumeration has (its last enumerator's ordinal + 1).
inline constexpr int kComPortCount = pnCOM4 + 1;
inline constexpr int kBaudRateCount = br115200 + 1;
inline constexpr int kDataBitsCount = db8BITS + 1;
inline constexpr int kStopBitsCount = sb2BITS + 1;
inline constexpr int kParityCount = ptSPACE + 1;
inline constexpr int kHwHandshakingCount = hhRTSCTS + 1;
inline constexpr int kSwHandshakingCount = shXONXOFF + 1;

// A port's transmission settings as the operator chose them (the transmission settings dialog):
// a field left empty keeps the port's current value.
struct PortSettings {
    std::optional<PortNumber> port;
    std::optional<BaudRate> speed;
    std::optional<DataBits> dataBits;
    std::optional<Parity> parity;
    bool operator==(const PortSettings&) const = default;
};

// Line speed in bits per second for each BaudRate ordinal.
inline constexpr std::array<std::uint32_t, kBaudRateCount> kComPortBaudRates = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};

inline constexpr std::uint32_t BaudRateValue(BaudRate rate) {
    return kComPortBaudRates[static_cast<std::size_t>(rate)];
}

// Decimal text of a line speed ("9600" for br9600).
inline std::string SpeedToText(BaudRate speed) { return std::to_string(BaudRateValue(speed)); }

// The port's name as the system and the status texts know it: "COM1" .. "COM4".
inline std::string PortName(PortNumber port) {
    return "COM" + std::to_string(static_cast<int>(port) + 1);
}
