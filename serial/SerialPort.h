#pragma once
// SerialPort: the serial port component. It owns one serial port, applies the line settings,
// reads it on the user-interface thread and announces every batch of received bytes with
// dataReceived.
// Where the system can tell when bytes arrive (a descriptor to watch, on POSIX), the port is read
// as soon as they do: light traffic is read on every arrival, a busy port is left alone for
// PollingDelay after each read (ReadPacing), so an idle port costs no wake-ups and a busy one is
// read once per PollingDelay; elsewhere it is read on a PollingDelay timer. A port that is gone
// (hang-up, adapter pulled out) announces portLost once and is read no more. The component only
// receives and never reports anything to the operator itself; any number of objects may listen
// to its signals.

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "ReadPacing.h"
#include "SerialDevice.h"

class QSocketNotifier;

class SerialPort : public QObject {
    Q_OBJECT
  public:
    explicit SerialPort(QObject* owner = nullptr);
    // For tests and other platforms: a component over a given device layer.
    SerialPort(QObject* owner, std::unique_ptr<ISerialDevice> device);
    ~SerialPort() override;

    // True when the port is open (also when it already was). A refusal's cause stays available
    // in LastOpenResult until the next attempt.
    bool OpenPort();
    const OpenResult& LastOpenResult() const { return lastOpen_; }
    // Whether the port's device is there now (cheap; no open), for retrying after a loss.
    bool DevicePresent() const { return device_->Present(PortName(comPort_)); }
    void ClosePort();
    bool IsPortOpen() const;
    void ApplyPortSettings();
    void PurgeBuffers(bool discardInput, bool discardOutput);

    // The port: it changes only while closed.
    PortNumber ComPort() const { return comPort_; }
    void SetComPort(PortNumber value);

    // The line settings. One changed while the port is open is applied at once, with all the
    // others, and both queues are purged; a value out of its enumeration's range is ignored.
    const SerialLineSettings& LineSettings() const { return settings_; }
    BaudRate ComPortSpeed() const { return settings_.speed; }
    void SetComPortSpeed(BaudRate value);
    void SetComPortDataBits(DataBits value);
    void SetComPortStopBits(StopBits value);
    void SetComPortParity(Parity value);
    void SetComPortHwHandshaking(HwHandshaking value);
    void SetComPortSwHandshaking(SwHandshaking value);
    // Raise DTR on open (taken by the next open or setting change).
    void SetEnableDTROnOpen(bool value) { settings_.enableDtr = value; }

    // The receive buffer (replaced only while closed) and the output queue's size.
    std::uint16_t ComPortInBufSize() const { return settings_.inBufSize; }
    void SetComPortInBufSize(std::uint16_t value);
    void SetComPortOutBufSize(std::uint16_t value) { settings_.outBufSize = value; }

    std::uint16_t ComPortPollingDelay() const { return pollingDelay_; }
    void SetComPortPollingDelay(std::uint16_t value);
    // Kept for the component's users; the program never sends, so nothing uses it.
    std::uint16_t OutputTimeout() const { return outputTimeout_; }
    void SetOutputTimeout(std::uint16_t value) { outputTimeout_ = value; }

    // True while the component waits for bytes without any timer (an idle watched port).
    bool WaitingWithoutTimer() const;

  signals:
    // Announced from a read: size is 1 .. ComPortInBufSize, data points into the component's
    // receive buffer and stays valid until the next read, so listeners connect directly (never
    // queued). A listener may run a modal box's event loop: reading goes on meanwhile.
    void dataReceived(const char* data, int size);
    // Announced once when the open port is gone; the port stays open (and unread) until closed.
    void portLost();

  protected:
    // On the timer path each tick reads the port.
    void timerEvent(QTimerEvent* event) override;

  private:
    // Reads once, then announces dataReceived or portLost. `rearm` (told whether the read filled
    // the buffer, and how many bytes came) runs before either event, so that reading goes on while
    // a listener runs a modal box's event loop (a recording error).
    void ReadPort(const std::function<void(bool bufferFull, std::size_t count)>& rearm);
    void OnReadable();
    void StartWatching();
    void StopWatching();
    void StartPolling();
    void StopPolling();
    // Stores a line setting and, while open, applies all settings at once.
    template <typename T>
    void StoreLineSetting(T SerialLineSettings::*field, T value);

    std::unique_ptr<ISerialDevice> device_;
    PortNumber comPort_ = pnCOM2;
    SerialLineSettings settings_;  // 9600 bit/s, 8 data bits, no parity, one stop bit, DTR
    std::uint16_t pollingDelay_ = 50;
    std::uint16_t outputTimeout_ = 4000;
    int timerId_ = 0;                      // the polling timer (timer path)
    QSocketNotifier* notifier_ = nullptr;  // the watched descriptor (watched path)
    QTimer standDown_;                     // the rest after a busy read before watching again
    ReadPacing pacing_;
    std::unique_ptr<char[]> buffer_;
    OpenResult lastOpen_;
};
