#include "PortSession.h"

#include "SerialPort.h"

namespace {

template <typename Enum>
void CopyChosen(const std::optional<Enum>& chosen, SerialPort& port,
                void (SerialPort::*setter)(Enum)) {
    if (chosen) (port.*setter)(*chosen);
}

}  // namespace

bool RetriedAfterFailedStart(const OpenResult& result) {
    return result.failure == OpenFailure::MissingDevice;
}

PortSession::PortSession(SerialPort& port, QObject* parent) : QObject(parent), port_(port) {
    retry_.setInterval(kRetryIntervalMs);
    connect(&retry_, &QTimer::timeout, this, [this] { Retry(); });
    connect(&port_, &SerialPort::portLost, this, [this] { PortLost(); });
}

PortSession::~PortSession() {
    retry_.stop();
    port_.disconnect(this);
}

void PortSession::Start() {
    retry_.stop();
    Open(PortAttempt::Start);
}

void PortSession::Reconnect(const PortSettings& chosen) {
    retry_.stop();
    if (port_.IsPortOpen()) {
        port_.ClosePort();
        Announce(PortStep::Closed, PortAttempt::Reconnect);
    }
    CopyChosen(chosen.speed, port_, &SerialPort::SetComPortSpeed);
    CopyChosen(chosen.dataBits, port_, &SerialPort::SetComPortDataBits);
    CopyChosen(chosen.parity, port_, &SerialPort::SetComPortParity);
    CopyChosen(chosen.port, port_, &SerialPort::SetComPort);
    Open(PortAttempt::Reconnect);
}

void PortSession::Reopen() {
    Reconnect({port_.ComPort(), port_.ComPortSpeed(), std::nullopt, std::nullopt});
}

void PortSession::Close() {
    retry_.stop();
    if (!port_.IsPortOpen()) return;
    port_.ClosePort();
    Announce(PortStep::Closed, PortAttempt::Start);
}

void PortSession::Open(PortAttempt attempt) {
    if (port_.OpenPort()) {
        Announce(PortStep::Opened, attempt);
        return;
    }
    if (attempt == PortAttempt::Start && RetriedAfterFailedStart(port_.LastOpenResult()))
        retry_.start();
    Announce(PortStep::OpenFailed, attempt);
}

void PortSession::PortLost() {
    port_.ClosePort();
    retry_.start();
    Announce(PortStep::Lost, PortAttempt::Retry);
}

// Quiet by design: no announcement and no open while the device is missing, so a retry costs
// one file-system look-up a second.
void PortSession::Retry() {
    if (!port_.DevicePresent() || !port_.OpenPort()) return;
    retry_.stop();
    Announce(PortStep::Opened, PortAttempt::Retry);
}

void PortSession::Announce(PortStep step, PortAttempt attempt) {
    PortStatus status;
    status.step = step;
    status.attempt = attempt;
    status.port = port_.ComPort();
    status.speed = port_.ComPortSpeed();
    status.open = port_.LastOpenResult();
    status.retrying = retry_.isActive();
    emit stateChanged(status);
}
