#pragma once
// Reconnecting the port after the transmission settings dialog, and the status texts.

#include <QString>

#include "PortSettingsDialog.h"
#include "PortTypes.h"

class LineAssembler;
class SerialPort;

// "Połączenie RS232, COM<n>, prędkość: <speed> rozpoczęte." (no trailing space; start-up adds
// one after it).
QString PortOpenedText(PortNumber port, BaudRate speed);

// "Error: nie można się połączyć! Sprawdź ustawienia!"
QString ReconnectFailedText();

// Closes the port if open, copies the selections into it (speed, data bits, parity, port, in that
// order; a group with nothing selected keeps the component's value), opens it and returns the
// status bar text. PendingLine is emptied only when the port opened.
QString ReconnectPort(const PortSelections& chosen, SerialPort& port, LineAssembler& lines);

// MMustaw_rsClick: shows the dialog modally; however it was closed, reconnects with its
// selections and returns the status bar text.
QString ShowSettingsAndReconnect(PortSettingsDialog& dialog, SerialPort& port,
                                 LineAssembler& lines);
