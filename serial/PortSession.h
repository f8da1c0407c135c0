#pragma once
// PortSession: the one owner of the port's life. It opens the port at start-up, reconnects it
// with the operator's choices, notices its loss and tries it again about once a second until it
// opens, and closes it at the end. Each change is announced once, with stateChanged; the
// composition root hands it on to the line pipeline and to whoever shows it (the main window's
// status bar, the station's log). Qt Core only: the window program and the headless station
// share it.

#include <QObject>
#include <QTimer>

#include "PortTypes.h"
#include "SerialDevice.h"

class SerialPort;

enum class PortStep : std::uint8_t {
    Opened,      // the port opened
    OpenFailed,  // start-up's or a reconnect's open failed (a retry fails quietly)
    Lost,        // the open port is gone and was closed
    Closed       // closed on purpose: before a reconnect, or at the program's end
};

// What led to an open or a failed one.
enum class PortAttempt : std::uint8_t { Start, Reconnect, Retry };

struct PortStatus {
    PortStep step = PortStep::Closed;
    PortAttempt attempt = PortAttempt::Start;
    PortNumber port = pnCOM2;
    BaudRate speed = br9600;
    OpenResult open;        // the open's outcome (why it failed: OpenFailed)
    bool retrying = false;  // the port is tried again about once a second from now on
};

// Whether a port that did not open at start is tried again about once a second: only when its
// device is missing (an adapter or a simulator that comes later). A busy port, a refused
// permission or a path that is no terminal stay as they are until the operator acts.
bool RetriedAfterFailedStart(const OpenResult& result);

class PortSession : public QObject {
    Q_OBJECT
  public:
    static constexpr int kRetryIntervalMs = 1000;

    // `port` belongs to the composition root and outlives the session.
    explicit PortSession(SerialPort& port, QObject* parent = nullptr);
    ~PortSession() override;

    // Start-up's open: Opened, or OpenFailed (retried when the device is missing).
    void Start();
    // Closes the port if open (Closed), copies the chosen settings into it (speed, data bits,
    // parity, port, in that order; an empty one keeps the port's), opens it: Opened or
    // OpenFailed, never retried.
    void Reconnect(const PortSettings& chosen);
    // Reconnects with the port's own settings (its COMn link now leads elsewhere).
    void Reopen();
    // The operator takes over (the settings dialog opens): no retry until the next loss.
    void StopRetrying() { retry_.stop(); }
    // The program's end: the port closes (Closed, when it was open) and is not tried again.
    void Close();

    bool Retrying() const { return retry_.isActive(); }

  signals:
    // Each change once, in the order they happen. Connected directly: a listener sees the port as
    // the step left it.
    void stateChanged(const PortStatus& status);

  private:
    void Open(PortAttempt attempt);
    void PortLost();
    // One try of the automatic reconnect: nothing but a look-up while the device is missing.
    void Retry();
    void Announce(PortStep step, PortAttempt attempt);

    SerialPort& port_;
    QTimer retry_;
};
