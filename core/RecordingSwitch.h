#pragma once
// The operator's handling of the recording file: the day's file at start-up, the press on the
// recording switch (CBzapis) and the choice of another file. The window supplies the controls,
// the boxes and the save dialog through IRecordingControls.

#include <ctime>
#include <optional>
#include <string>

#include "OperatorBoxes.h"

class IRecordingControls : public virtual IOperatorBoxes {
  public:
    virtual bool RecordingChecked() const = 0;
    virtual void SetRecordingChecked(bool checked) = 0;
    // The name in Enazwapliku as the file system takes it.
    virtual std::string RecordingFileName() const = 0;
    virtual void SetRecordingFileName(const std::string& name) = 0;
    // The save dialog: the chosen full path, or nothing when cancelled.
    virtual std::optional<std::string> ChooseRecordingFile() = 0;
};

// "yyyymmdd" of a local date.
std::string DayFileName(const std::tm& localDate);

// Start-up step: puts `dayName` into the name; when recording is on and no file of that name
// exists, creates it empty; a failed creation shows the error box, then switches recording off.
// An existing file is left untouched.
void PrepareDayFile(IRecordingControls& controls, const std::string& dayName);

// A left press (or the space bar, which goes the same way) on the recording switch.
// Returns true when a box was shown: the click in progress is then cancelled, so the state set
// here is final. Returns false when the completed click should toggle the switch as usual.
bool RecordingSwitchPressed(IRecordingControls& controls);

// "Zmień nazwę...": asks to switch recording off (only No stops), then runs the save dialog.
void ChangeRecordingFile(IRecordingControls& controls);
