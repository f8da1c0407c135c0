#pragma once
// konfig.ini's format: a table with one row per known key (its name, how much of the value
// counts, the rule that accepts a value, how it is written, and its default), and a pure reader
// and writer over the file's bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "PortTypes.h"
#include "Win1250.h"

// Settings accepted from a file. A field stays empty when no line of the file set it; when a key
// occurs more than once the last acceptable line wins.
struct SettingsRead {
    std::optional<PortNumber> comPort{};
    std::optional<BaudRate> comPortSpeed{};
    std::optional<bool> recording{};       // CBzapis
    std::optional<bool> recordReadings{};  // CBciaglyplik
    std::optional<bool> showReadings{};    // CBciaglymemo
    std::optional<std::int32_t> maxReportLines{};
    std::optional<bool> deleteOldest{};  // RBautoucinaj selected (else RBautowyczysc)
    std::optional<Win1250Text> unit{};   // caption of Ljednost

    bool operator==(const SettingsRead&) const = default;
};

// Settings as written at close (collected from the window, so no field has a default of its own).
struct SettingsWrite {
    PortNumber comPort{};
    BaudRate comPortSpeed{};
    bool recording{};
    bool recordReadings{};
    bool showReadings{};
    Win1250Text maxLinesText;  // the text of Emaxlinie exactly as typed
    bool deleteOldest{};
    Win1250Text unit;
};

// One known key: its name, how many characters of the value count, the rule that accepts a value
// into SettingsRead (false: the line is ignored), how its value is written, and its default.
struct SettingsKey {
    std::string_view name;
    std::size_t valueWindow;
    bool (*accept)(std::string_view value, SettingsRead& into);
    std::string (*format)(const SettingsWrite& from);
    std::string_view defaultValue;
};

// The eight keys in the order the writer writes them.
extern const std::array<SettingsKey, 8> kSettingsKeys;

// Every setting at its default: the table's default values, read as a file would be.
const SettingsRead& DefaultSettings();

// The line limit of the report view: always within these bounds.
inline constexpr std::int32_t kMinReportLines = 10;
inline constexpr std::int32_t kMaxReportLines = 5000;

// Cuts the file's bytes into lines: a CR ends a line, an LF directly after it belongs to the line
// end, a lone LF is an ordinary character, Ctrl+Z (0x1A) ends the file, the last line needs no end.
std::vector<std::string_view> SplitSettingsLines(std::string_view bytes);

// Applies one line ("key=value") to `into` if its key is known and its value accepted.
void ParseSettingsLine(std::string_view line, SettingsRead& into);

// Applies every line of a konfig.ini to `into` (lines that do not parse or are not accepted are
// skipped silently).
void ParseSettings(std::string_view bytes, SettingsRead& into);
SettingsRead ParseSettings(std::string_view bytes);

// The whole file: the eight "key=value" lines in table order, each ended by CR LF.
std::string FormatSettings(const SettingsWrite& settings);
