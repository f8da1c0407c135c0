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

class PosixSerialDevice final : public ISerialDevice {
  public:
    explicit PosixSerialDevice(std::string devicePrefix = kDefaultDevicePrefix);
    ~PosixSerialDevice() override;
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    bool Open(const std::string& portName) override;
    bool IsOpen() const override { return fd_ >= 0; }
    void ApplyLineSettings(const SerialLineSettings& settings) override;
    void SetQueueSizes(std::uint16_t inSize, std::uint16_t outSize) override;
    void SetReadTimeouts() override;
    void Purge(bool discardInput, bool discardOutput) override;
    std::optional<std::size_t> Read(char* buffer, std::size_t maxBytes) override;
    void Close() override;

    // The open descriptor, or -1 (for tests and benchmarks).
    int Descriptor() const { return fd_; }

  private:
    std::string devicePrefix_;
    int fd_ = -1;
};
