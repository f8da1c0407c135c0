#include "StationSettings.h"

#include <string>

#include "Station.h"

PortNumber StationSettings::ComPort() const { return station_.Port().ComPort(); }

void StationSettings::SetComPort(PortNumber port) { station_.Port().SetComPort(port); }

BaudRate StationSettings::ComPortSpeed() const { return station_.Port().ComPortSpeed(); }

void StationSettings::SetComPortSpeed(BaudRate speed) { station_.Port().SetComPortSpeed(speed); }

bool StationSettings::RecordingChecked() const { return station_.Switches().Recording(); }

void StationSettings::SetRecordingChecked(bool checked) {
    station_.Switches().SetRecording(checked);
}

bool StationSettings::RecordReadingsChecked() const { return station_.Switches().RecordReadings(); }

void StationSettings::SetRecordReadingsChecked(bool checked) {
    station_.Switches().SetRecordReadings(checked);
}

bool StationSettings::ShowReadingsChecked() const { return station_.Switches().ShowReadings(); }

void StationSettings::SetShowReadingsChecked(bool checked) {
    station_.Switches().SetShowReadings(checked);
}

bool StationSettings::DeleteOldestSelected() const { return station_.Switches().DeleteOldest(); }

void StationSettings::SetDeleteOldestSelected(bool selected) {
    station_.Switches().SetDeleteOldest(selected);
}

void StationSettings::SetMaxReportLines(std::int32_t lines) {
    station_.Switches().SetMaxReportLines(lines);
}

Win1250Text StationSettings::MaxLinesText() const {
    return Win1250Text(std::to_string(station_.Switches().MaxReportLines()));
}

Win1250Text StationSettings::UnitCaption() const { return station_.Pipeline().Unit(); }

void StationSettings::SetUnitCaption(const Win1250Text& caption) {
    station_.Pipeline().SetUnit(caption);
}
