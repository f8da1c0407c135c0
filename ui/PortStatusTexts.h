#pragma once
// What the status bar, its tooltip and the serial ports window say about the port.

#include <QString>

#include "DeviceAccess.h"
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

// A line for standard error, in the system's encoding: "Project1: <source>: <text>".
QByteArray ProgramMessage(const QString& source, const QString& text);
