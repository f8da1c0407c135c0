#pragma once
// The composition root: it builds the serial port, the line pipeline, the operator's switches,
// the sinks and the main window, and connects them. Received bytes flow
//   SerialPort::dataReceived -> LinePipeline::Receive -> sinks, in subscription order:
//   the read-out, the report view, the recording file, then the additions' sinks.
// A new consumer of received lines is one sink class and one AddSink call here; a new window is
// built here and offered in "&Widok" with MainWindow::AddViewMenuItem.

#include <memory>

#include "DisplaySinks.h"
#include "HistoryWindow.h"
#include "Journal.h"
#include "LinePipeline.h"
#include "OperatorBoxes.h"
#include "OperatorSwitches.h"
#include "RecordingSink.h"
#include "ServiceWindow.h"
#include "SettingsFile.h"

class MainWindow;
class SerialPort;

// konfig.ini's view of the program: the port's settings, the switches, the limit edit's text and
// the unit caption.
class ProgramSettings : public ISettingsTarget {
  public:
    ProgramSettings(SerialPort& port, OperatorSwitches& switches, MainWindow& window)
        : port_(port), switches_(switches), window_(window) {}

    PortNumber ComPort() const override;
    void SetComPort(PortNumber port) override;
    BaudRate ComPortSpeed() const override;
    void SetComPortSpeed(BaudRate speed) override;
    bool RecordingChecked() const override { return switches_.Recording(); }
    void SetRecordingChecked(bool checked) override { switches_.SetRecording(checked); }
    bool RecordReadingsChecked() const override { return switches_.RecordReadings(); }
    void SetRecordReadingsChecked(bool checked) override { switches_.SetRecordReadings(checked); }
    bool ShowReadingsChecked() const override { return switches_.ShowReadings(); }
    void SetShowReadingsChecked(bool checked) override { switches_.SetShowReadings(checked); }
    bool DeleteOldestSelected() const override { return switches_.DeleteOldest(); }
    void SetDeleteOldestSelected(bool selected) override { switches_.SetDeleteOldest(selected); }
    void SetMaxReportLines(std::int32_t lines) override { switches_.SetMaxReportLines(lines); }
    Win1250Text MaxLinesText() const override;
    Win1250Text UnitCaption() const override;
    void SetUnitCaption(const Win1250Text& caption) override;

  private:
    SerialPort& port_;
    OperatorSwitches& switches_;
    MainWindow& window_;
};

// The boxes a sink opens while a chunk is worked through: the read-out held back so far is shown
// first, so the operator reads the box over the latest weight.
class SettledBoxes : public IOperatorBoxes {
  public:
    SettledBoxes(ReadoutSink& readout, IOperatorBoxes& boxes) : readout_(readout), boxes_(boxes) {}
    void ShowError(const std::string& text) override;
    ConfirmAnswer AskConfirmation(const std::string& text) override;

  private:
    ReadoutSink& readout_;
    IOperatorBoxes& boxes_;
};

class Composition {
  public:
    Composition();
    // Tells the sinks the port closes (when open), then takes the window and the port down.
    ~Composition();
    Composition(const Composition&) = delete;
    Composition& operator=(const Composition&) = delete;

    MainWindow& Window() { return *window_; }
    SerialPort& Port() { return *port_; }
    LinePipeline& Pipeline() { return pipeline_; }
    OperatorSwitches& Switches() { return switches_; }
    ISettingsTarget& Settings() { return *settings_; }

    // Subscribes an addition's sink after the program's own; it must outlive this object's use.
    void AddSink(ILineSink& sink) { pipeline_.Subscribe(&sink); }

  private:
    OperatorSwitches switches_;
    LinePipeline pipeline_;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<ReadoutSink> readout_;
    std::unique_ptr<ReportSink> report_;
    std::unique_ptr<SettledBoxes> boxes_;
    std::unique_ptr<RecordingSink> recording_;
    std::unique_ptr<ProgramSettings> settings_;
    // Additions: the journal (null when [Dziennik] Wlaczony=0) and its history window.
    std::unique_ptr<waga::journal::Journal> journal_;
    std::unique_ptr<HistoryWindow> history_;
    // Declared after the journal, so it is taken down before it.
    WeightServiceParts weightService_;
};
