#pragma once
// What the status bar, its tooltip, the serial ports window and standard error say about the
// port.

#include <QString>

#include "DeviceAccess.h"
#include "PortSession.h"
#include "PortTypes.h"
#include "SerialDevice.h"

// "Połączenie RS232, COM<n>, prędkość: <speed> rozpoczęte." (no trailing space; start-up adds
// one after it).
QString PortOpenedText(PortNumber port, BaudRate speed);

// "Error: nie można się połączyć! Sprawdź ustawienia!" (the settings dialog's reconnect failed).
QString ReconnectFailedText();

// The start-up's text when the port does not open.
QString StartFailedText();

// "Połączenie RS232, COM<n> przerwane. Ponawiam próbę połączenia..." (an open port was lost).
QString PortLostText(PortNumber port);

// Why a port did not open, for the operator, e.g. "brak urządzenia /dev/ttyUSB0"; empty when it
// opened. A refused permission is told with the device's owner, group and mode (looked up now).
QString OpenFailureCause(const OpenResult& result);

// The permission cause from what is true of the device: its owner, group and mode, whether the
// account is in that group, and what would help (joining the group and logging in again, or
// logging in again, or an administrator's rule when the group itself may not read and write).
QString PermissionCause(const QString& device, const DeviceAccess& access);

// The status bar's text after a step of the port's session: start-up's own texts (the opened one
// followed by a space), the reconnect's, the loss's; empty for a close (the text stays).
QString PortStatusText(const PortStatus& status);

// The line standard error gets for a step: the opened text, the failure's cause, the loss, the
// close.
QString PortLogText(const PortStatus& status);

// A line for standard error, in the system's encoding: "<program>: <source>: <text>", where the
// program is the running one's name (Project1, waga-stacja).
QByteArray ProgramMessage(const QString& source, const QString& text);
