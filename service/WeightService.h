#pragma once
// The weight service as the program holds it: the sink that follows the journal's, the server on
// its own thread, and the state shown in the settings window. Apply() starts, restarts or stops
// the server without waiting for it; stateChanged tells when the state has moved.

#include <QObject>
#include <QString>
#include <QThread>
#include <memory>

#include "AddOnSettings.h"
#include "WeightServer.h"
#include "WeightServiceSink.h"

class WeightService final : public QObject {
    Q_OBJECT
  public:
    enum class State { Off, Starting, Running, Failed };

    // `journalPath`: the journal's file (JournalPath), which the service reads its lines from.
    explicit WeightService(QString journalPath, WeightServerOptions options = {},
                           QObject* parent = nullptr);
    ~WeightService() override;

    WeightServiceSink& Sink() { return sink_; }

    void Apply(const ServiceSettings& settings);
    State CurrentState() const { return state_; }
    QString Url() const { return url_; }
    QString Cause() const { return cause_; }
    // What the operator should know: why the service does not run, what a flood causes, and a
    // warning about dodatki.ini (SetFileWarning); empty when all is well. stateChanged tells when
    // it changes.
    QString Notice() const;
    void SetFileWarning(const QString& warning);

  signals:
    void stateChanged();

  private:
    void Stop();

    WeightServiceSink sink_;
    QString journalPath_;
    WeightServerOptions options_;
    QThread thread_;
    WeightServer* server_ = nullptr;
    State state_ = State::Off;
    QString url_;
    QString cause_;
    QString strain_;  // what a flood causes now (WeightServer::StrainChanged)
    QString fileWarning_;
};

// The state as the settings window shows it: "wyłączony", "uruchamianie…",
// "działa: http://127.0.0.1:8765/" or "błąd: <cause>".
QString ServiceStateText(WeightService::State state, const QString& url, const QString& cause);
