#pragma once
// The window program's composition root. It builds the station's shared parts (Station: the
// port with its session, the line pipeline, the switches, the journal, the weight service and
// the central upload), the main window, the window's sinks (the read-out, the report view, the
// recording file) and the additions' windows, and connects them. Received bytes flow
//   SerialPort::dataReceived -> LinePipeline::Receive -> sinks, in subscription order:
//   the read-out, the report view, the recording file, then the additions' sinks (Station).
// A new consumer of received lines is one sink class, built and subscribed in Station::Start
// (or, if only the window needs it, here); a new window is built here and offered in "&Widok"
// with MainWindow::AddViewMenuItem.

#include <memory>

#include "DisplaySinks.h"
#include "QtEventLoop.h"
#include "RecordingSink.h"
#include "Station.h"
#include "StationSettings.h"

class BackgroundDigest;
class CentralDbWindow;
class HistoryWindow;
class MainWindow;
class ServiceWindow;

// konfig.ini's view of the window program: the station's (the port, the switches), with the
// limit edit's text and the unit caption from the window.
class ProgramSettings : public StationSettings {
  public:
    ProgramSettings(Station& station, MainWindow& window)
        : StationSettings(station), window_(window) {}

    Win1250Text MaxLinesText() const override;
    Win1250Text UnitCaption() const override;
    // Ljednost, and the unit stamped on every received line.
    void SetUnitCaption(const Win1250Text& caption) override;

  private:
    MainWindow& window_;
};

class Composition {
  public:
    Composition();
    // The station stops first (the sinks hear the port close), then the windows go, then the
    // station's parts.
    ~Composition();
    Composition(const Composition&) = delete;
    Composition& operator=(const Composition&) = delete;

    MainWindow& Window() { return *window_; }
    Station& Parts() { return *station_; }
    SerialPort& Port() { return station_->Port(); }
    PortSession& Session() { return station_->Session(); }
    LinePipeline& Pipeline() { return station_->Pipeline(); }
    OperatorSwitches& Switches() { return station_->Switches(); }
    ISettingsTarget& Settings() { return *settings_; }

  private:
    void BuildAdditionsWindows();
    void ShowAdditionsState();

    std::unique_ptr<Station> station_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<ReadoutSink> readout_;
    std::unique_ptr<ReportSink> report_;
    std::unique_ptr<QtEventLoop> loop_;  // runs the boxes a sink posts, while the window lives
    std::unique_ptr<RecordingSink> recording_;
    std::unique_ptr<ProgramSettings> settings_;
    // The additions' windows: the history and the central database's made when first asked for.
    std::unique_ptr<HistoryWindow> history_;
    std::unique_ptr<ServiceWindow> service_;
    std::unique_ptr<CentralDbWindow> central_;
    // The program file's digest, read on its own thread (ended first on destruction, while the
    // window it reports to is there).
    std::unique_ptr<BackgroundDigest> digest_;
};
