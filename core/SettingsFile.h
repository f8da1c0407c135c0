#pragma once
// konfig.ini on disk: LoadConfig reads it and applies the accepted settings to the main window
// and its port component (through ISettingsTarget); SaveConfig collects them back and replaces
// the file atomically.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "SettingsFormat.h"

// What LoadConfig and SaveConfig need of the program: its port component, its switches, the limit
// edit's text and the unit caption. Setting a switch here is a plain state change: no operator
// handler runs.
class ISettingsTarget {
  public:
    virtual ~ISettingsTarget() = default;

    // The serial port component's ComPort and ComPortSpeed (through its property setters).
    virtual PortNumber ComPort() const = 0;
    virtual void SetComPort(PortNumber port) = 0;
    virtual BaudRate ComPortSpeed() const = 0;
    virtual void SetComPortSpeed(BaudRate speed) = 0;

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
    // The text of Emaxlinie as typed.
    virtual Win1250Text MaxLinesText() const = 0;

    // Caption of Ljednost.
    virtual Win1250Text UnitCaption() const = 0;
    virtual void SetUnitCaption(const Win1250Text& caption) = 0;
};

inline constexpr std::string_view kSettingsFileName = "konfig.ini";

enum class SettingsLoadStatus {
    NoFile,     // nothing changed, nothing to report
    Applied,    // every accepted setting was applied
    Unreadable  // the file exists but could not be read: nothing was applied
};

struct SettingsLoadResult {
    SettingsLoadStatus status = SettingsLoadStatus::NoFile;
    std::string errorText;  // UTF-8, for the error box when Unreadable
};

// Reads konfig.ini (by default from the working directory) and applies what it accepts. A file
// that exists but cannot be read is reported to the caller and changes nothing.
[[nodiscard]] SettingsLoadResult LoadConfig(ISettingsTarget& target,
                                            const std::filesystem::path& file = kSettingsFileName);

// Applies parsed settings to the target, one setter per accepted key.
void ApplySettings(const SettingsRead& settings, ISettingsTarget& target);

// Collects the settings to write from the target.
SettingsWrite CollectSettings(const ISettingsTarget& target);

// Writes konfig.ini anew from the target's settings. The file is replaced atomically (temporary
// file in the same directory, flushed, renamed over it): a failure leaves the old file exactly as
// it was, and a konfig.ini that the process may not write is never replaced. Returns whether the
// new file is in place; the program itself ignores the result.
bool SaveConfig(const ISettingsTarget& target,
                const std::filesystem::path& file = kSettingsFileName);
