#pragma once
// The POSIX device layer: "COMn" is the file or link COMn in the working directory if one
// exists, else <device prefix><n-1> (/dev/ttyS0 for COM1). The path must be a terminal
// (character device); it is opened non-blocking and held exclusively.

#include <string>

#include "SerialDevice.h"

inline constexpr const char* kDefaultDevicePrefix = "/dev/ttyS";

// The path opened for a port name such as "COM2"; empty when the name is not "COM" + digit.
std::string ResolvePortPath(const std::string& portName,
                            const std::string& devicePrefix = kDefaultDevicePrefix);

// The device a port name stands for, as an operator would name it: the target of a COMn link
// (as written in the link), the COMn file itself, or the default device.
std::string PortDeviceName(const std::string& portName,
                           const std::string& devicePrefix = kDefaultDevicePrefix);

// The cause of a refused open() or flock() from its errno.
OpenFailure OpenFailureFromErrno(int error);

class PosixSerialDevice final : public ISerialDevice {
  public:
    explicit PosixSerialDevice(std::string devicePrefix = kDefaultDevicePrefix);
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    OpenResult Open(const std::string& portName) override;
    bool IsOpen() const override { return fd_ >= 0; }
    bool ApplyLineSettings(const SerialLineSettings& settings) override;
    bool SetQueueSizes(std::uint16_t inSize, std::uint16_t outSize) override;
    bool SetReadTimeouts() override;
    bool Purge(bool discardInput, bool discardOutput) override;
    ReadResult Read(char* buffer, std::size_t maxBytes) override;
    void Close() override;
    int WaitableDescriptor() const override { return fd_; }
    bool Present(const std::string& portName) const override;

  private:
    bool HungUp() const;

    std::string devicePrefix_;
    int fd_ = -1;
};
