#pragma once
// The headless station's composition root (waga-stacja): the station's parts with the recording
// file as its only sink of its own, and no window. It runs the pipeline, the day's recording
// file with konfig.ini's switches, the journal, the weight service and the central upload, from
// konfig.ini and dodatki.ini in its working folder, and tells every event on standard error. It
// reads konfig.ini and never writes it.

#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "QtEventLoop.h"
#include "RecordingSink.h"
#include "RecordingSwitch.h"
#include "Station.h"
#include "StationSettings.h"

class HeadlessStation : private IRecordingControls {
  public:
    explicit HeadlessStation(const QString& folder);
    // The port closes (the sinks hear it), the journal stores what is still queued.
    ~HeadlessStation() override;

    // Start-up: the free-space warning, the described defaults, konfig.ini (an unreadable one is
    // told and the defaults stay), the port, the day's recording file.
    void Start();

    Station& Parts() { return *station_; }

  private:
    // The recording file's handling: the switches are konfig.ini's; what the window would show in
    // a box goes to standard error; nobody is there to answer a question or choose a file.
    bool RecordingChecked() const override;
    void SetRecordingChecked(bool checked) override;
    std::string RecordingFileName() const override;
    void SetRecordingFileName(const std::string& name) override;
    std::optional<std::string> ChooseRecordingFile() override { return std::nullopt; }
    void ShowError(const std::string& text) override;
    ConfirmAnswer AskConfirmation(const std::string& text) override;

    std::unique_ptr<Station> station_;
    std::unique_ptr<QtEventLoop> loop_;  // runs the boxes a sink posts, while the station lives
    std::unique_ptr<RecordingSink> recording_;
    std::unique_ptr<StationSettings> settings_;
};

// The station's working folder: WAGA_DIR when set, else ~/Waga (empty when neither is known).
QString StationFolder();
