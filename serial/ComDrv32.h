#pragma once
// TCommPortDriver: owns one serial port, applies the line settings, polls it on the
// user-interface thread and hands every batch of received bytes to OnReceiveData.
// It only receives and never reports anything to the operator itself.

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

#include "ComPortTypes.h"

class TCommPortDriver;
class ISerialDevice;
struct SerialLineSettings;

// Raised from the polling tick: DataSize is 1 .. ComPortInBufSize, DataPtr points into the
// component's receive buffer and stays valid until the next poll.
using TComPortReceiveDataEvent =
    std::function<void(TCommPortDriver* Sender, const char* DataPtr, std::int32_t DataSize)>;

class TCommPortDriver : public QObject {
    Q_OBJECT
  public:
    explicit TCommPortDriver(QObject* owner = nullptr);
    // For tests and other platforms: a component over a given device layer.
    TCommPortDriver(QObject* owner, std::unique_ptr<ISerialDevice> device);
    ~TCommPortDriver() override;

    bool OpenPort();
    void ClosePort();
    bool IsPortOpen() const;
    void ApplyPortSettings();
    void PurgeBuffers(bool discardInput, bool discardOutput);

    TComPortNumber ComPort() const { return comPort_; }
    void SetComPort(TComPortNumber value);
    TComPortBaudRate ComPortSpeed() const { return speed_; }
    void SetComPortSpeed(TComPortBaudRate value);
    TComPortDataBits ComPortDataBits() const { return dataBits_; }
    void SetComPortDataBits(TComPortDataBits value);
    TComPortStopBits ComPortStopBits() const { return stopBits_; }
    void SetComPortStopBits(TComPortStopBits value);
    TComPortParity ComPortParity() const { return parity_; }
    void SetComPortParity(TComPortParity value);
    TComPortHwHandshaking ComPortHwHandshaking() const { return hwHandshaking_; }
    void SetComPortHwHandshaking(TComPortHwHandshaking value);
    TComPortSwHandshaking ComPortSwHandshaking() const { return swHandshaking_; }
    void SetComPortSwHandshaking(TComPortSwHandshaking value);
    std::uint16_t ComPortInBufSize() const { return inBufSize_; }
    void SetComPortInBufSize(std::uint16_t value);
    std::uint16_t ComPortOutBufSize() const { return outBufSize_; }
    void SetComPortOutBufSize(std::uint16_t value);
    std::uint16_t ComPortPollingDelay() const { return pollingDelay_; }
    void SetComPortPollingDelay(std::uint16_t value);
    bool EnableDTROnOpen() const { return enableDtrOnOpen_; }
    void SetEnableDTROnOpen(bool value);
    std::uint16_t OutputTimeout() const { return outputTimeout_; }
    void SetOutputTimeout(std::uint16_t value);
    const TComPortReceiveDataEvent& OnReceiveData() const { return onReceiveData_; }
    void SetOnReceiveData(TComPortReceiveDataEvent handler);

  protected:
    // PollPort: each tick of the polling timer reads the port and raises OnReceiveData.
    void timerEvent(QTimerEvent* event) override;

  private:
    void PollPort();
    SerialLineSettings LineSettings() const;
    void StartPolling();
    void StopPolling();
    // Stores a line setting and, while open, applies all settings at once.
    template <typename T>
    void StoreLineSetting(T& field, T value);

    std::unique_ptr<ISerialDevice> device_;
    TComPortNumber comPort_ = pnCOM2;
    TComPortBaudRate speed_ = br9600;
    TComPortDataBits dataBits_ = db8BITS;
    TComPortStopBits stopBits_ = sb1BITS;
    TComPortParity parity_ = ptNONE;
    TComPortHwHandshaking hwHandshaking_ = hhNONE;
    TComPortSwHandshaking swHandshaking_ = shNONE;
    std::uint16_t inBufSize_ = 2048;
    std::uint16_t outBufSize_ = 2048;
    TComPortReceiveDataEvent onReceiveData_;
    std::uint16_t pollingDelay_ = 50;
    bool enableDtrOnOpen_ = true;
    std::uint16_t outputTimeout_ = 4000;
    int timerId_ = 0;
    std::unique_ptr<char[]> buffer_;
};
