#pragma once
// Reconnecting the port after the transmission settings dialog, and the status texts.

#include <QString>

#include "PortSettingsDialog.h"
#include "PortStatusTexts.h"
#include "PortTypes.h"

class LinePipeline;
class SerialPort;

// Closes the port if open, copies the selections into it (speed, data bits, parity, port, in that
// order; a group with nothing selected keeps the component's value), opens it and returns the
// status bar text. The pipeline hears that the port closed; it is reset (PendingLine emptied) and
// hears of the new port only when the port opened.
QString ReconnectPort(const PortSelections& chosen, SerialPort& port, LinePipeline& lines);

// Whether a port that did not open at start is tried again about once a second: only when its
// device is missing (an adapter or a simulator that comes later). A busy port, a refused
// permission or a path that is no terminal stay as they are until the operator acts.
bool RetriedAfterFailedStart(const OpenResult& result);

// MMustaw_rsClick: shows the dialog modally; however it was closed, reconnects with its
// selections and returns the status bar text.
QString ShowSettingsAndReconnect(PortSettingsDialog& dialog, SerialPort& port, LinePipeline& lines);
