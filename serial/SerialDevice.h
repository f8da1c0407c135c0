#pragma once
// The device layer under TCommPortDriver: the few operating-system operations the component
// needs of a serial port. Standard C++ only; one implementation per platform.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "ComPortTypes.h"

// Everything ApplyPortSettings hands to the device: the line settings and the queue sizes.
struct SerialLineSettings {
    TComPortBaudRate speed = br9600;
    TComPortDataBits dataBits = db8BITS;
    TComPortStopBits stopBits = sb1BITS;
    TComPortParity parity = ptNONE;
    TComPortHwHandshaking hwHandshaking = hhNONE;
    TComPortSwHandshaking swHandshaking = shNONE;
    bool enableDtr = true;
    std::uint16_t inBufSize = 2048;
    std::uint16_t outBufSize = 2048;
};

class ISerialDevice {
  public:
    virtual ~ISerialDevice() = default;

    // Opens the port named "COM1".."COM4" exclusively; false when it cannot be opened.
    virtual bool Open(const std::string& portName) = 0;
    virtual bool IsOpen() const = 0;
    // Writes the line settings (speed, frame, DTR/RTS, flow control); failures are ignored.
    virtual void ApplyLineSettings(const SerialLineSettings& settings) = 0;
    // Sets the system's queue sizes where the platform has them; failures are ignored.
    virtual void SetQueueSizes(std::uint16_t inSize, std::uint16_t outSize) = 0;
    // Makes reads return at once with what has arrived; failures are ignored.
    virtual void SetReadTimeouts() = 0;
    // Discards what the system holds for the port in the chosen directions.
    virtual void Purge(bool discardInput, bool discardOutput) = 0;
    // Reads up to maxBytes without waiting: the count read (0 when nothing is queued), or
    // nothing when the read failed.
    virtual std::optional<std::size_t> Read(char* buffer, std::size_t maxBytes) = 0;
    virtual void Close() = 0;
};

// The device layer of the platform this is built for.
std::unique_ptr<ISerialDevice> CreatePlatformSerialDevice();
