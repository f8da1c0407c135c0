#include "SerialPort.h"

#include <QSocketNotifier>
#include <QTimerEvent>
#include <algorithm>
#include <utility>

namespace {

// Windows never ticks faster than every 10 ms; a zero interval here would spin the loop.
constexpr int kMinimumTimerInterval = 10;

int Interval(std::uint16_t pollingDelay) {
    return std::max<int>(pollingDelay, kMinimumTimerInterval);
}

template <typename Enum>
bool InRange(Enum value, int count) {
    return static_cast<int>(value) < count;
}

}  // namespace

SerialPort::SerialPort(QObject* owner) : SerialPort(owner, CreatePlatformSerialDevice()) {}

SerialPort::SerialPort(QObject* owner, std::unique_ptr<ISerialDevice> device)
    : QObject(owner),
      device_(device ? std::move(device) : CreatePlatformSerialDevice()),
      buffer_(new char[settings_.inBufSize]) {
    standDown_.setSingleShot(true);
    // A coarse timer may end a 50 ms stand-down up to 2.5 ms late; a busy port is read every
    // polling delay, not every delay and a bit.
    standDown_.setTimerType(Qt::PreciseTimer);
    connect(&standDown_, &QTimer::timeout, this, [this] {
        if (notifier_ != nullptr) notifier_->setEnabled(true);
    });
}

// The port is closed and the timer stopped before the receive buffer goes.
SerialPort::~SerialPort() {
    ClosePort();
    buffer_.reset();
}

bool SerialPort::OpenPort() {
    if (IsPortOpen()) return true;
    lastOpen_ = device_->Open(PortName(comPort_));
    if (!lastOpen_.Opened()) return false;
    ApplyPortSettings();
    (void)device_->SetReadTimeouts();  // refused settings are ignored, as on Windows
    StartWatching();
    return true;
}

void SerialPort::ClosePort() {
    if (!IsPortOpen()) return;
    StopWatching();
    device_->Close();
}

bool SerialPort::IsPortOpen() const { return device_->IsOpen(); }

void SerialPort::ApplyPortSettings() {
    if (!IsPortOpen()) return;
    (void)device_->ApplyLineSettings(settings_);
    PurgeBuffers(true, true);
    (void)device_->SetQueueSizes(settings_.inBufSize, settings_.outBufSize);
}

void SerialPort::PurgeBuffers(bool discardInput, bool discardOutput) {
    if (!IsPortOpen()) return;
    (void)device_->Purge(discardInput, discardOutput);
}

void SerialPort::StartWatching() {
    const int fd = device_->WaitableDescriptor();
    if (fd < 0) {
        StartPolling();
        return;
    }
    pacing_.Reset();
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { OnReadable(); });
}

// The notifier stops watching before the descriptor is closed. It is deleted later: this may run
// inside its own signal (a loss seen by a read it started).
void SerialPort::StopWatching() {
    StopPolling();
    standDown_.stop();
    if (notifier_ == nullptr) return;
    notifier_->setEnabled(false);
    notifier_->deleteLater();
    notifier_ = nullptr;
}

bool SerialPort::WaitingWithoutTimer() const {
    return notifier_ != nullptr && notifier_->isEnabled() && !standDown_.isActive() &&
           timerId_ == 0;
}

// Light traffic is watched again at once; see ReadPacing for when the port is left alone.
void SerialPort::OnReadable() {
    notifier_->setEnabled(false);
    ReadPort([this](bool bufferFull, std::size_t count) {
        const int rest =
            pacing_.AfterRead(count, bufferFull, ReadPacing::Clock::now(), Interval(pollingDelay_));
        if (rest == 0 && !bufferFull) {
            notifier_->setEnabled(true);
        } else {
            standDown_.start(rest);
        }
    });
}

// Qt never re-enters a timer whose event is still being handled; a fresh timer keeps the ticks
// coming while the handler runs a modal box's event loop.
void SerialPort::timerEvent(QTimerEvent*) {
    ReadPort([this](bool, std::size_t) {
        StopPolling();
        StartPolling();
    });
}

void SerialPort::ReadPort(const std::function<void(bool bufferFull, std::size_t count)>& rearm) {
    if (!IsPortOpen()) return;
    const ReadResult read = device_->Read(buffer_.get(), settings_.inBufSize);
    if (read.status == ReadStatus::Lost) {
        StopWatching();
        emit portLost();
        return;
    }
    rearm(read.count == settings_.inBufSize, read.count);
    if (read.status != ReadStatus::Ok || read.count == 0) return;
    emit dataReceived(buffer_.get(), static_cast<int>(read.count));
}

void SerialPort::StartPolling() { timerId_ = startTimer(Interval(pollingDelay_)); }

void SerialPort::StopPolling() {
    if (timerId_ != 0) killTimer(timerId_);
    timerId_ = 0;
}

template <typename T>
void SerialPort::StoreLineSetting(T SerialLineSettings::*field, T value) {
    settings_.*field = value;
    ApplyPortSettings();  // does nothing while closed
}

void SerialPort::SetComPort(PortNumber value) {
    if (IsPortOpen() || !InRange(value, kComPortCount)) return;
    comPort_ = value;
}

void SerialPort::SetComPortSpeed(BaudRate value) {
    if (InRange(value, kBaudRateCount)) StoreLineSetting(&SerialLineSettings::speed, value);
}

void SerialPort::SetComPortDataBits(DataBits value) {
    if (InRange(value, kDataBitsCount)) StoreLineSetting(&SerialLineSettings::dataBits, value);
}

void SerialPort::SetComPortStopBits(StopBits value) {
    if (InRange(value, kStopBitsCount)) StoreLineSetting(&SerialLineSettings::stopBits, value);
}

void SerialPort::SetComPortParity(Parity value) {
    if (InRange(value, kParityCount)) StoreLineSetting(&SerialLineSettings::parity, value);
}

void SerialPort::SetComPortHwHandshaking(HwHandshaking value) {
    if (InRange(value, kHwHandshakingCount))
        StoreLineSetting(&SerialLineSettings::hwHandshaking, value);
}

void SerialPort::SetComPortSwHandshaking(SwHandshaking value) {
    if (InRange(value, kSwHandshakingCount))
        StoreLineSetting(&SerialLineSettings::swHandshaking, value);
}

// The buffer is replaced only while closed; its old contents are not kept.
void SerialPort::SetComPortInBufSize(std::uint16_t value) {
    if (IsPortOpen() || value == settings_.inBufSize) return;
    buffer_.reset();
    settings_.inBufSize = value;
    buffer_.reset(new char[settings_.inBufSize]);
}

// A running polling timer takes the new delay at once; a stand-down, from the next read.
void SerialPort::SetComPortPollingDelay(std::uint16_t value) {
    if (value == pollingDelay_) return;
    const bool polling = timerId_ != 0;
    if (polling) StopPolling();
    pollingDelay_ = value;
    if (polling) StartPolling();
}
