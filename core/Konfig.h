#pragma once
// konfig.ini: the operator's settings between runs. A pure reader and writer over bytes, a table
// with one row per known key, and LoadConfig/SaveConfig that apply the settings to the window and
// the port component (through IKonfigTarget) and collect them back.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ComPortTypes.h"

// Settings accepted from a file. A field stays empty when no line of the file set it; when a key
// occurs more than once the last acceptable line wins.
struct KonfigRead {
    std::optional<TComPortNumber> comPort{};
    std::optional<TComPortBaudRate> comPortSpeed{};
    std::optional<bool> recording{};       // CBzapis
    std::optional<bool> recordReadings{};  // CBciaglyplik
    std::optional<bool> showReadings{};    // CBciaglymemo
    std::optional<std::int32_t> maxReportLines{};
    std::optional<bool> deleteOldest{};  // RBautoucinaj selected (else RBautowyczysc)
    std::optional<std::string> unit{};   // caption of Ljednost

    bool operator==(const KonfigRead&) const = default;
};

// Settings as written at close. Texts are Windows-1250 bytes.
struct KonfigWrite {
    TComPortNumber comPort = pnCOM2;
    TComPortBaudRate comPortSpeed = br2400;
    bool recording = true;
    bool recordReadings = false;
    bool showReadings = false;
    std::string maxLinesText = "300";  // the text of Emaxlinie exactly as typed
    bool deleteOldest = true;
    std::string unit = "kg";
};

// One known key: its name, how many characters of the value count, the rule that accepts a value
// into KonfigRead (false: the line is ignored), and how its value is written.
struct KonfigKey {
    std::string_view name;
    std::size_t valueWindow;
    bool (*accept)(std::string_view value, KonfigRead& into);
    std::string (*format)(const KonfigWrite& from);
};

// The eight keys in the order the writer writes them.
extern const std::array<KonfigKey, 8> kKonfigKeys;

// Cuts the file's bytes into lines: a CR ends a line, an LF directly after it belongs to the line
// end, a lone LF is an ordinary character, Ctrl+Z (0x1A) ends the file, the last line needs no end.
std::vector<std::string_view> SplitKonfigLines(std::string_view bytes);

// Applies one line ("key=value") to `into` if its key is known and its value accepted.
void ParseKonfigLine(std::string_view line, KonfigRead& into);

// Applies every line of a konfig.ini to `into` (lines that do not parse or are not accepted are
// skipped silently).
void ParseKonfig(std::string_view bytes, KonfigRead& into);
KonfigRead ParseKonfig(std::string_view bytes);

// The whole file: the eight "key=value" lines in table order, each ended by CR LF.
std::string FormatKonfig(const KonfigWrite& settings);

// What LoadConfig and SaveConfig need of the main window and its port component. The getters that
// share a name with ILineEnvironment have the same meaning and signature, so one override serves
// both. Setting a switch here is a plain state change: no operator handler runs.
class IKonfigTarget {
  public:
    virtual ~IKonfigTarget() = default;

    // The serial port component's ComPort and ComPortSpeed (through its property setters).
    virtual TComPortNumber ComPort() const = 0;
    virtual void SetComPort(TComPortNumber port) = 0;
    virtual TComPortBaudRate ComPortSpeed() const = 0;
    virtual void SetComPortSpeed(TComPortBaudRate speed) = 0;

    virtual bool RecordingChecked() const = 0;  // CBzapis
    virtual void SetRecordingChecked(bool checked) = 0;
    virtual bool RecordReadingsChecked() const = 0;  // CBciaglyplik
    virtual void SetRecordReadingsChecked(bool checked) = 0;
    virtual bool ShowReadingsChecked() const = 0;  // CBciaglymemo
    virtual void SetShowReadingsChecked(bool checked) = 0;
    // true: RBautoucinaj selected and RBautowyczysc not; false: the other way round.
    virtual bool DeleteOldestSelected() const = 0;
    virtual void SetDeleteOldestSelected(bool selected) = 0;

    // MaxReportLines (the edit Emaxlinie is left alone: start-up fills it afterwards).
    virtual void SetMaxReportLines(std::int32_t lines) = 0;
    // The text of Emaxlinie as typed, Windows-1250 bytes.
    virtual std::string MaxLinesText() const = 0;

    // Caption of Ljednost, Windows-1250 bytes.
    virtual std::string UnitCaption() const = 0;
    virtual void SetUnitCaption(const std::string& caption) = 0;
};

inline constexpr std::string_view kKonfigFileName = "konfig.ini";

enum class KonfigLoadStatus {
    NoFile,     // nothing changed, nothing to report
    Applied,    // every accepted setting was applied
    Unreadable  // the file exists but could not be read: nothing was applied
};

struct KonfigLoadResult {
    KonfigLoadStatus status = KonfigLoadStatus::NoFile;
    std::string errorText;  // Windows-1250, for the error box when Unreadable
};

// Reads konfig.ini (by default from the working directory) and applies what it accepts. A file
// that exists but cannot be read is reported to the caller and changes nothing.
[[nodiscard]] KonfigLoadResult LoadConfig(IKonfigTarget& target,
                                          const std::filesystem::path& file = kKonfigFileName);

// Applies parsed settings to the target, one setter per accepted key.
void ApplyKonfig(const KonfigRead& settings, IKonfigTarget& target);

// Collects the settings to write from the target.
KonfigWrite CollectKonfig(const IKonfigTarget& target);

// Writes konfig.ini anew from the target's settings. The file is replaced atomically (temporary
// file in the same directory, flushed, renamed over it): a failure leaves the old file exactly as
// it was, and a konfig.ini that the process may not write is never replaced. Returns whether the
// new file is in place; the program itself ignores the result.
bool SaveConfig(const IKonfigTarget& target, const std::filesystem::path& file = kKonfigFileName);
