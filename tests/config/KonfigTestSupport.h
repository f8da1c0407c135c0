#pragma once
// Shared pieces of the konfig.ini tests: a plain settings holder standing in for the window.

#include <string>

#include "Konfig.h"

// Holds the window's and the port's settings as plain fields, starting at the program's
// defaults; counts the setter calls so a test can see that nothing was applied.
struct FakeKonfigTarget : IKonfigTarget {
    TComPortNumber port = pnCOM2;
    TComPortBaudRate speed = br2400;
    bool recording = true, recordReadings = false, showReadings = false, deleteOldest = true;
    std::int32_t maxReportLines = 300;
    std::string maxLinesText = "300";
    std::string unit = "kg";
    int setterCalls = 0;

    TComPortNumber ComPort() const override { return port; }
    void SetComPort(TComPortNumber p) override { port = p, ++setterCalls; }
    TComPortBaudRate ComPortSpeed() const override { return speed; }
    void SetComPortSpeed(TComPortBaudRate s) override { speed = s, ++setterCalls; }
    bool RecordingChecked() const override { return recording; }
    void SetRecordingChecked(bool c) override { recording = c, ++setterCalls; }
    bool RecordReadingsChecked() const override { return recordReadings; }
    void SetRecordReadingsChecked(bool c) override { recordReadings = c, ++setterCalls; }
    bool ShowReadingsChecked() const override { return showReadings; }
    void SetShowReadingsChecked(bool c) override { showReadings = c, ++setterCalls; }
    bool DeleteOldestSelected() const override { return deleteOldest; }
    void SetDeleteOldestSelected(bool s) override { deleteOldest = s, ++setterCalls; }
    void SetMaxReportLines(std::int32_t n) override { maxReportLines = n, ++setterCalls; }
    std::string MaxLinesText() const override { return maxLinesText; }
    std::string UnitCaption() const override { return unit; }
    void SetUnitCaption(const std::string& c) override { unit = c, ++setterCalls; }
};

// The file's bytes as written (binary, replacing any old contents).
void WriteFileBytes(const std::string& path, const std::string& bytes);

// A test name made of a row's description: letters and digits kept, everything else '_'.
std::string RowName(const char* what, std::size_t index);
