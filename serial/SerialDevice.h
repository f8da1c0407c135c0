#pragma once
// The device layer under the serial port component: the few operating-system operations the
// component needs of a serial port. Standard C++ only; one implementation per platform. Every
// call reports whether the system did what was asked; the component decides what to ignore.

#include <cstddef>
#include <memory>
#include <string>

#include "PortTypes.h"

// Everything ApplyPortSettings hands to the device: the line settings and the queue sizes.
struct SerialLineSettings {
    BaudRate speed = br9600;
    DataBits dataBits = db8BITS;
    StopBits stopBits = sb1BITS;
    Parity parity = ptNONE;
    HwHandshaking hwHandshaking = hhNONE;
    SwHandshaking swHandshaking = shNONE;
    bool enableDtr = true;
    std::uint16_t inBufSize = 2048;
    std::uint16_t outBufSize = 2048;
};

// Why a port did not open.
enum class OpenFailure {
    None,              // it opened
    MissingDevice,     // no such device (a link that leads nowhere, an adapter not plugged in)
    PermissionDenied,  // the user may not open it (on Linux: not in the group dialout)
    Busy,              // another program (or this one) holds it
    NotATerminal,      // the path is something other than a serial port
    Other              // any other refusal; systemError says which
};

struct OpenResult {
    OpenFailure failure = OpenFailure::None;
    int systemError = 0;  // errno (POSIX) or GetLastError (Windows) of the refused call
    std::string device;   // what was opened or tried: a device path, or the Windows port name

    bool Opened() const { return failure == OpenFailure::None; }
};

// The outcome of one read.
enum class ReadStatus {
    Ok,      // `count` bytes arrived (0 when nothing was queued)
    Failed,  // a read error that may pass: nothing arrived
    Lost     // the port is gone (hang-up, adapter removed): no read will succeed again
};

struct ReadResult {
    ReadStatus status = ReadStatus::Ok;
    std::size_t count = 0;
};

class ISerialDevice {
  public:
    virtual ~ISerialDevice() = default;

    // Opens the port named "COM1".."COM4" exclusively.
    virtual OpenResult Open(const std::string& portName) = 0;
    virtual bool IsOpen() const = 0;
    // Writes the line settings (speed, frame, DTR/RTS, flow control); false when the system
    // refused any of them.
    virtual bool ApplyLineSettings(const SerialLineSettings& settings) = 0;
    // Sets the system's queue sizes where the platform has them; false when refused.
    virtual bool SetQueueSizes(std::uint16_t inSize, std::uint16_t outSize) = 0;
    // Makes reads return at once with what has arrived; false when refused.
    virtual bool SetReadTimeouts() = 0;
    // Discards what the system holds for the port in the chosen directions; false when refused.
    virtual bool Purge(bool discardInput, bool discardOutput) = 0;
    // Reads up to maxBytes without waiting.
    virtual ReadResult Read(char* buffer, std::size_t maxBytes) = 0;
    virtual void Close() = 0;
    // A descriptor that becomes readable when data arrives or the port is lost, for reading
    // on arrival instead of on a clock; -1 where the platform has none (Windows) or while closed.
    virtual int WaitableDescriptor() const = 0;
    // Whether the device a port name stands for is there now, cheaply and without opening it
    // (a file-system look-up on POSIX; Windows has nothing cheaper than the open, so true).
    virtual bool Present(const std::string& portName) const = 0;
};

// The device layer of the platform this is built for.
std::unique_ptr<ISerialDevice> CreatePlatformSerialDevice();
