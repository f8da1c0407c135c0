#pragma once
// The parts the window program and the headless station share, built, subscribed and connected
// here from one dodatki.ini store: the operator's switches, the line pipeline, the serial port
// with its session, and the additions, each an object with its sink: the journal, the weight
// service and the central upload. Each composition root (Composition, the window program;
// StationProgram, waga-stacja) owns one Station and adds its own sinks and view.
//
// Received bytes flow SerialPort::dataReceived -> LinePipeline::Receive -> the sinks in the
// order Start subscribes them. The port's steps (PortSession::stateChanged) reach the pipeline
// first, then standard error, then the program's view; the additions' notices reach standard
// error (once per cause, and again when it clears) and then the view.

#include <QObject>
#include <QString>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <vector>

#include "AddOnSettings.h"
#include "AddOnSettingsStore.h"
#include "LinePipeline.h"
#include "OperatorSwitches.h"
#include "PortSession.h"
#include "SerialPort.h"

class WeightService;
namespace waga::journal {
class Journal;
class JournalSink;
}  // namespace waga::journal
namespace central {
class CentralUploader;
}

// One line on standard error, in the system's encoding: "<program>: <source>: <text>" (the
// systemd journal keeps the station's).
void LogLine(const QString& source, const QString& text);

class Station : public QObject {
    Q_OBJECT
  public:
    // What the composition root shows of the station's events (either may be empty).
    struct View {
        std::function<void(const PortStatus& status)> port;
        // An addition's notice by its source ("Dziennik", "Serwer wagi", "Baza centralna",
        // "dodatki.ini"); an empty text: it cleared.
        std::function<void(const QString& source, const QString& text)> notice;
    };

    // `folder`: the working folder, which holds dodatki.ini, the journal and the day files. The
    // additions are built here, from dodatki.ini as it is now (read once, into AddOns()): the
    // journal when [Dziennik] Wlaczony=1, the service and the uploader always (Start starts them
    // when switched on). A section saved later through AddOns() reaches its running part: the
    // service and the upload restart with it; the journal's takes effect at the next start.
    explicit Station(const QString& folder);
    // Stop(), then the additions go: the uploader, the service, the journal (it stores what is
    // still queued).
    ~Station() override;
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Subscribes `own` (the program's own sinks, in the order given: the window's read-out,
    // report view and recording file; the station's recording file), then the journal's sink
    // (the numbering), which hands each numbered line to the service's; connects the events to
    // `view`, and starts the service and the upload as dodatki.ini says.
    // The additions' notices in force are told at once.
    void Start(std::initializer_list<ILineSink*> own, View view);
    // The end: no more bytes are taken, the port closes (the sinks hear Closed), the view hears
    // nothing more, and every sink is unsubscribed, the last subscribed first.
    void Stop();
    // The end without a close (Qt ends the program with exit() when its X server goes): Stop(),
    // then the journal stores what is still queued, waking the upload no more. The service and
    // the upload are left to the process's end: the exit handlers of their libraries (TLS, for
    // one) may already have run.
    void StoreJournalAtExit();

    // The described defaults before konfig.ini is read: the port's speed, eight data bits, no
    // parity, the port's number (in that order: the port is closed, so they are only stored),
    // then every konfig.ini key at its default from the one table (SettingsFormat.h).
    void ApplyDefaults();

    const QString& Folder() const { return folder_; }
    OperatorSwitches& Switches() { return switches_; }
    LinePipeline& Pipeline() { return pipeline_; }
    SerialPort& Port() { return port_; }
    PortSession& Session() { return session_; }

    // dodatki.ini: the windows show and save the additions' settings through it.
    AddOnSettingsStore& AddOns() { return addOns_; }
    // The additions. The journal is null when dodatki.ini turns it off.
    waga::journal::Journal* Journal() { return journal_.get(); }
    WeightService& Service() { return *service_; }
    central::CentralUploader& Uploader() { return *uploader_; }
    QString JournalPath() const;
    // The fingerprint of the key that seals the journal; empty when the rows are not sealed.
    QString JournalKeyFingerprint() const;

  private:
    void AddSink(ILineSink& sink);
    // The sink that numbers lines: the journal's, or without the journal numbering_.
    waga::journal::JournalSink& Numbering();
    // The pipeline hears of the port: an open drops any fragment from before and stamps the new
    // port on the lines; a loss drops the fragment the lost port left.
    void HandToPipeline(const PortStatus& status);
    void Tell(const QString& source, const QString& text);
    // Starts, restarts or stops the upload with the [BazaCentralna] settings.
    void ApplyCentral(const CentralSettings& settings);
    // A section saved through the store reaches its running part.
    void Follow(AddOnSection section);

    QString folder_;
    AddOnSettingsStore addOns_;
    OperatorSwitches switches_;
    LinePipeline pipeline_;
    SerialPort port_;
    PortSession session_;
    std::unique_ptr<waga::journal::Journal> journal_;
    std::unique_ptr<waga::journal::JournalSink> numbering_;  // only while the journal is off
    std::unique_ptr<WeightService> service_;
    std::unique_ptr<central::CentralUploader> uploader_;
    std::vector<ILineSink*> subscribed_;
    View view_;
    std::map<QString, QString> notices_;  // by source, as told on standard error
    bool stopped_ = false;
};
