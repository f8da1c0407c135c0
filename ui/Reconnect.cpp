#include "Reconnect.h"

#include "LinePipeline.h"
#include "SerialPort.h"

namespace {

// A selection index is the enumeration's ordinal; -1 (or anything out of range) keeps the
// component's current value.
template <typename Enum>
void CopySelection(int index, int count, SerialPort& port, void (SerialPort::*setter)(Enum)) {
    if (index >= 0 && index < count) (port.*setter)(static_cast<Enum>(index));
}

}  // namespace

QString ReconnectPort(const PortSelections& chosen, SerialPort& port, LinePipeline& lines) {
    if (port.IsPortOpen()) {
        port.ClosePort();
        lines.AnnouncePortState(PortState::Closed);
    }
    CopySelection(chosen.speed, kBaudRateCount, port, &SerialPort::SetComPortSpeed);
    CopySelection(chosen.dataBits, kDataBitsCount, port, &SerialPort::SetComPortDataBits);
    CopySelection(chosen.parity, kParityCount, port, &SerialPort::SetComPortParity);
    CopySelection(chosen.port, kComPortCount, port, &SerialPort::SetComPort);
    if (!port.OpenPort()) return ReconnectFailedText();
    lines.SetPort(port.ComPort());
    lines.Reset();
    lines.AnnouncePortState(PortState::Opened);
    return PortOpenedText(port.ComPort(), port.ComPortSpeed());
}

QString ShowSettingsAndReconnect(PortSettingsDialog& dialog, SerialPort& port,
                                 LinePipeline& lines) {
    dialog.SetPortDriver(&port);
    dialog.exec();
    return ReconnectPort(dialog.Selections(), port, lines);
}

bool RetriedAfterFailedStart(const OpenResult& result) {
    return result.failure == OpenFailure::MissingDevice;
}
