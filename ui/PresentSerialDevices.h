#pragma once
// The serial devices present in the computer, as the serial ports window lists them. The system's
// list comes from QSerialPortInfo (enumeration only: the port itself is our own component); the
// window takes any other source a test gives it.

#include <QList>
#include <QString>
#include <functional>

struct PresentSerialDevice {
    QString device;  // the system's path (/dev/ttyUSB0), or the port's name on Windows (COM3)
    QString description;
    QString manufacturer;
    QString serialNumber;
};

using SerialDeviceSource = std::function<QList<PresentSerialDevice>()>;

// The serial devices the system knows of now, in natural order of their paths (ttyS2 before
// ttyS10).
QList<PresentSerialDevice> SystemSerialDevices();
