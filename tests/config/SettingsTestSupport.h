#pragma once
// Shared pieces of the konfig.ini tests: a plain settings holder standing in for the window.

#include <string>

#include "SettingsFile.h"
#include "TestSupport.h"

// konfig.ini as the program writes it with the described defaults.
inline const std::string kDefaultFile =
    "Numer_portu=2\r\nPredkosc_transmisji=2400\r\nZapis_do_pliku=1\r\nZapisuj_display=0\r\n"
    "Wyswietlaj_display=0\r\nMaksym_ilosc_lini=300\r\nKasuj_poczatek=1\r\nJednostka=kg\r\n";

// Holds the window's and the port's settings as plain fields, starting at the program's
// defaults; counts the setter calls so a test can see that nothing was applied.
struct FakeSettingsTarget : ISettingsTarget {
    PortNumber port = pnCOM2;
    BaudRate speed = br2400;
    bool recording = true, recordReadings = false, showReadings = false, deleteOldest = true;
    std::int32_t maxReportLines = 300;
    std::string maxLinesText = "300";
    std::string unit = "kg";
    int setterCalls = 0;

    PortNumber ComPort() const override { return port; }
    void SetComPort(PortNumber p) override { port = p, ++setterCalls; }
    BaudRate ComPortSpeed() const override { return speed; }
    void SetComPortSpeed(BaudRate s) override { speed = s, ++setterCalls; }
    bool RecordingChecked() const override { return recording; }
    void SetRecordingChecked(bool c) override { recording = c, ++setterCalls; }
    bool RecordReadingsChecked() const override { return recordReadings; }
    void SetRecordReadingsChecked(bool c) override { recordReadings = c, ++setterCalls; }
    bool ShowReadingsChecked() const override { return showReadings; }
    void SetShowReadingsChecked(bool c) override { showReadings = c, ++setterCalls; }
    bool DeleteOldestSelected() const override { return deleteOldest; }
    void SetDeleteOldestSelected(bool s) override { deleteOldest = s, ++setterCalls; }
    void SetMaxReportLines(std::int32_t n) override { maxReportLines = n, ++setterCalls; }
    Win1250Text MaxLinesText() const override { return Win1250Text(maxLinesText); }
    Win1250Text UnitCaption() const override { return Win1250Text(unit); }
    void SetUnitCaption(const Win1250Text& c) override { unit = c.Bytes(), ++setterCalls; }
};

using waga::test::WriteFile;

// Every setting at its default, in the form the writer takes.
SettingsWrite DefaultSettingsWrite();

// A test name made of a row's description: letters and digits kept, everything else '_'.
std::string RowName(const char* what, std::size_t index);
