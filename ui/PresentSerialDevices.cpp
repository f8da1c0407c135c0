#include "PresentSerialDevices.h"

#include <QCollator>
#include <QSerialPortInfo>
#include <algorithm>

QList<PresentSerialDevice> SystemSerialDevices() {
    QList<PresentSerialDevice> devices;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef _WIN32
        const QString device = info.portName();
#else
        const QString device = info.systemLocation();
#endif
        devices.push_back({device, info.description(), info.manufacturer(), info.serialNumber()});
    }
    QCollator order;
    order.setNumericMode(true);
    std::sort(devices.begin(), devices.end(),
              [&](const PresentSerialDevice& a, const PresentSerialDevice& b) {
                  return order.compare(a.device, b.device) < 0;
              });
    return devices;
}
