// The konfig.ini format: line cutting, the table of known keys, reading and writing bytes.

#include "Konfig.h"

#include <algorithm>

#include "TextToInt.h"
#include "Umy_fun.h"

namespace {

std::optional<std::int32_t> IntegerIn(std::string_view value, std::int32_t low, std::int32_t high) {
    const auto number = TextToInt(value);
    if (!number || *number < low || *number > high) return std::nullopt;
    return number;
}

bool AcceptPort(std::string_view value, KonfigRead& into) {
    const auto number = IntegerIn(value, 1, kComPortCount);
    if (!number) return false;
    into.comPort = static_cast<TComPortNumber>(*number - 1);
    return true;
}

bool AcceptSpeed(std::string_view value, KonfigRead& into) {
    const auto number = TextToInt(value);
    if (!number || *number < 0) return false;
    const auto rate = std::find(kComPortBaudRates.begin(), kComPortBaudRates.end(),
                                static_cast<std::uint32_t>(*number));
    if (rate == kComPortBaudRates.end()) return false;
    into.comPortSpeed = static_cast<TComPortBaudRate>(rate - kComPortBaudRates.begin());
    return true;
}

// The switches take any non-empty value: exactly "1" means on, anything else off.
template <std::optional<bool> KonfigRead::*Field>
bool AcceptSwitch(std::string_view value, KonfigRead& into) {
    into.*Field = (value == "1");
    return true;
}

bool AcceptMaxLines(std::string_view value, KonfigRead& into) {
    const auto number = IntegerIn(value, 10, 5000);
    if (!number) return false;
    into.maxReportLines = *number;
    return true;
}

// The value arrives cut to its first two characters.
bool AcceptUnit(std::string_view value, KonfigRead& into) {
    if (value != "kg" && value != "g" && value != "t") return false;
    into.unit = std::string(value);
    return true;
}

std::string Flag(bool on) { return on ? "1" : "0"; }

}  // namespace

const std::array<KonfigKey, 8> kKonfigKeys = {{
    {"Numer_portu", 12, AcceptPort,
     [](const KonfigWrite& w) { return std::to_string(static_cast<int>(w.comPort) + 1); }},
    {"Predkosc_transmisji", 12, AcceptSpeed,
     [](const KonfigWrite& w) { return SpeedToText(w.comPortSpeed); }},
    {"Zapis_do_pliku", 12, AcceptSwitch<&KonfigRead::recording>,
     [](const KonfigWrite& w) { return Flag(w.recording); }},
    {"Zapisuj_display", 12, AcceptSwitch<&KonfigRead::recordReadings>,
     [](const KonfigWrite& w) { return Flag(w.recordReadings); }},
    {"Wyswietlaj_display", 12, AcceptSwitch<&KonfigRead::showReadings>,
     [](const KonfigWrite& w) { return Flag(w.showReadings); }},
    {"Maksym_ilosc_lini", 12, AcceptMaxLines, [](const KonfigWrite& w) { return w.maxLinesText; }},
    {"Kasuj_poczatek", 12, AcceptSwitch<&KonfigRead::deleteOldest>,
     [](const KonfigWrite& w) { return Flag(w.deleteOldest); }},
    {"Jednostka", 2, AcceptUnit, [](const KonfigWrite& w) { return w.unit; }},
}};

std::vector<std::string_view> SplitKonfigLines(std::string_view bytes) {
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

void ParseKonfigLine(std::string_view line, KonfigRead& into) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals + 1 == line.size()) return;
    const std::string_view key = line.substr(0, equals);
    for (const KonfigKey& row : kKonfigKeys) {
        if (row.name == key) {
            row.accept(line.substr(equals + 1, row.valueWindow), into);
            return;
        }
    }
}

void ParseKonfig(std::string_view bytes, KonfigRead& into) {
    for (std::string_view line : SplitKonfigLines(bytes)) ParseKonfigLine(line, into);
}

KonfigRead ParseKonfig(std::string_view bytes) {
    KonfigRead settings;
    ParseKonfig(bytes, settings);
    return settings;
}

namespace {

// A value is written up to its first CR or Ctrl+Z, so that a stray control byte in an edit's text
// can never end the file early or smuggle in another key: the file always holds the eight lines.
std::string_view OneLine(std::string_view value) {
    return value.substr(0, std::min(value.find('\r'), value.find('\x1A')));
}

}  // namespace

std::string FormatKonfig(const KonfigWrite& settings) {
    std::string file;
    for (const KonfigKey& row : kKonfigKeys) {
        file += row.name;
        file += '=';
        file += OneLine(row.format(settings));
        file += "\r\n";
    }
    return file;
}
