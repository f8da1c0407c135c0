#pragma once
// konfig.ini's view of the station's parts: the port's number and speed, the operator's switches,
// the line limit and the unit stamped on every received line. The headless station reads
// konfig.ini through it; the window program's ProgramSettings adds the window's edit and caption.

#include "SettingsFile.h"

class Station;

class StationSettings : public ISettingsTarget {
  public:
    explicit StationSettings(Station& station) : station_(station) {}

    PortNumber ComPort() const override;
    void SetComPort(PortNumber port) override;
    BaudRate ComPortSpeed() const override;
    void SetComPortSpeed(BaudRate speed) override;
    bool RecordingChecked() const override;
    void SetRecordingChecked(bool checked) override;
    bool RecordReadingsChecked() const override;
    void SetRecordReadingsChecked(bool checked) override;
    bool ShowReadingsChecked() const override;
    void SetShowReadingsChecked(bool checked) override;
    bool DeleteOldestSelected() const override;
    void SetDeleteOldestSelected(bool selected) override;
    void SetMaxReportLines(std::int32_t lines) override;
    // The limit as a number (there is no edit to type into).
    Win1250Text MaxLinesText() const override;
    Win1250Text UnitCaption() const override;
    void SetUnitCaption(const Win1250Text& caption) override;

  protected:
    Station& station_;
};
