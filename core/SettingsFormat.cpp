// The konfig.ini format: line cutting, the table of known keys, reading and writing bytes.

#include "SettingsFormat.h"

#include <algorithm>

#include "TextToInt.h"

namespace {

std::optional<std::int32_t> IntegerIn(std::string_view value, std::int32_t low, std::int32_t high) {
    const auto number = TextToInt(value);
    if (!number || *number < low || *number > high) return std::nullopt;
    return number;
}

bool AcceptPort(std::string_view value, SettingsRead& into) {
    const auto number = IntegerIn(value, 1, kComPortCount);
    if (!number) return false;
    into.comPort = static_cast<PortNumber>(*number - 1);
    return true;
}

bool AcceptSpeed(std::string_view value, SettingsRead& into) {
    const auto number = TextToInt(value);
    if (!number || *number < 0) return false;
    const auto rate = std::find(kComPortBaudRates.begin(), kComPortBaudRates.end(),
                                static_cast<std::uint32_t>(*number));
    if (rate == kComPortBaudRates.end()) return false;
    into.comPortSpeed = static_cast<BaudRate>(rate - kComPortBaudRates.begin());
    return true;
}

// The switches take any non-empty value: exactly "1" means on, anything else off.
template <std::optional<bool> SettingsRead::*Field>
bool AcceptSwitch(std::string_view value, SettingsRead& into) {
    into.*Field = (value == "1");
    return true;
}

bool AcceptMaxLines(std::string_view value, SettingsRead& into) {
    const auto number = IntegerIn(value, kMinReportLines, kMaxReportLines);
    if (!number) return false;
    into.maxReportLines = *number;
    return true;
}

// The value arrives cut to its first two characters.
bool AcceptUnit(std::string_view value, SettingsRead& into) {
    if (value != "kg" && value != "g" && value != "t") return false;
    into.unit = Win1250Text(std::string(value));
    return true;
}

std::string Flag(bool on) { return on ? "1" : "0"; }

}  // namespace

const std::array<SettingsKey, 8> kSettingsKeys = {{
    {"Numer_portu", 12, AcceptPort,
     [](const SettingsWrite& w) { return std::to_string(static_cast<int>(w.comPort) + 1); }, "2"},
    {"Predkosc_transmisji", 12, AcceptSpeed,
     [](const SettingsWrite& w) { return SpeedToText(w.comPortSpeed); }, "2400"},
    {"Zapis_do_pliku", 12, AcceptSwitch<&SettingsRead::recording>,
     [](const SettingsWrite& w) { return Flag(w.recording); }, "1"},
    {"Zapisuj_display", 12, AcceptSwitch<&SettingsRead::recordReadings>,
     [](const SettingsWrite& w) { return Flag(w.recordReadings); }, "0"},
    {"Wyswietlaj_display", 12, AcceptSwitch<&SettingsRead::showReadings>,
     [](const SettingsWrite& w) { return Flag(w.showReadings); }, "0"},
    {"Maksym_ilosc_lini", 12, AcceptMaxLines,
     [](const SettingsWrite& w) { return w.maxLinesText.Bytes(); }, "300"},
    {"Kasuj_poczatek", 12, AcceptSwitch<&SettingsRead::deleteOldest>,
     [](const SettingsWrite& w) { return Flag(w.deleteOldest); }, "1"},
    {"Jednostka", 2, AcceptUnit, [](const SettingsWrite& w) { return w.unit.Bytes(); }, "kg"},
}};

const SettingsRead& DefaultSettings() {
    static const SettingsRead defaults = [] {
        SettingsRead settings;
        for (const SettingsKey& row : kSettingsKeys) row.accept(row.defaultValue, settings);
        return settings;
    }();
    return defaults;
}

std::vector<std::string_view> SplitSettingsLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    const std::size_t end = std::min(bytes.find('\x1A'), bytes.size());
    std::size_t start = 0;
    while (start < end) {
        const std::size_t cr = std::min(bytes.find('\r', start), end);
        lines.push_back(bytes.substr(start, cr - start));
        start = cr + 1;
        if (start < end && bytes[start] == '\n') ++start;
    }
    return lines;
}

void ParseSettingsLine(std::string_view line, SettingsRead& into) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals + 1 == line.size()) return;
    const std::string_view key = line.substr(0, equals);
    for (const SettingsKey& row : kSettingsKeys) {
        if (row.name == key) {
            row.accept(line.substr(equals + 1, row.valueWindow), into);
            return;
        }
    }
}

void ParseSettings(std::string_view bytes, SettingsRead& into) {
    for (std::string_view line : SplitSettingsLines(bytes)) ParseSettingsLine(line, into);
}

SettingsRead ParseSettings(std::string_view bytes) {
    SettingsRead settings;
    ParseSettings(bytes, settings);
    return settings;
}

namespace {

// A value is written up to its first CR or Ctrl+Z, so that a stray control byte in an edit's text
// can never end the file early or smuggle in another key: the file always holds the eight lines.
std::string_view OneLine(std::string_view value) {
    return value.substr(0, std::min(value.find('\r'), value.find('\x1A')));
}

}  // namespace

std::string FormatSettings(const SettingsWrite& settings) {
    std::string file;
    for (const SettingsKey& row : kSettingsKeys) {
        file += row.name;
        file += '=';
        file += OneLine(row.format(settings));
        file += "\r\n";
    }
    return file;
}
