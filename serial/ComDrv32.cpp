#include "ComDrv32.h"

#include <QTimerEvent>
#include <algorithm>
#include <utility>

#include "SerialDevice.h"

namespace {

// Windows never ticks faster than every 10 ms; a zero interval here would spin the loop.
constexpr int kMinimumTimerInterval = 10;

template <typename Enum>
bool InRange(Enum value, int count) {
    return static_cast<int>(value) < count;
}

}  // namespace

TCommPortDriver::TCommPortDriver(QObject* owner)
    : TCommPortDriver(owner, CreatePlatformSerialDevice()) {}

TCommPortDriver::TCommPortDriver(QObject* owner, std::unique_ptr<ISerialDevice> device)
    : QObject(owner),
      device_(device ? std::move(device) : CreatePlatformSerialDevice()),
      buffer_(new char[inBufSize_]) {}

// The port is closed and the timer stopped before the receive buffer goes.
TCommPortDriver::~TCommPortDriver() {
    ClosePort();
    buffer_.reset();
}

bool TCommPortDriver::OpenPort() {
    if (IsPortOpen()) return true;
    const std::string name = std::string("COM") + static_cast<char>('1' + comPort_);
    if (!device_->Open(name)) return false;
    ApplyPortSettings();
    device_->SetReadTimeouts();
    StartPolling();
    return true;
}

void TCommPortDriver::ClosePort() {
    if (!IsPortOpen()) return;
    StopPolling();
    device_->Close();
}

bool TCommPortDriver::IsPortOpen() const { return device_->IsOpen(); }

void TCommPortDriver::ApplyPortSettings() {
    if (!IsPortOpen()) return;
    device_->ApplyLineSettings(LineSettings());
    PurgeBuffers(true, true);
    device_->SetQueueSizes(inBufSize_, outBufSize_);
}

void TCommPortDriver::PurgeBuffers(bool discardInput, bool discardOutput) {
    if (!IsPortOpen()) return;
    device_->Purge(discardInput, discardOutput);
}

void TCommPortDriver::timerEvent(QTimerEvent*) { PollPort(); }

void TCommPortDriver::PollPort() {
    if (!IsPortOpen()) return;
    const std::optional<std::size_t> count = device_->Read(buffer_.get(), inBufSize_);
    if (!count || *count == 0 || !onReceiveData_) return;
    // Qt never re-enters a timer whose event is still being handled; a fresh timer keeps the
    // ticks coming while the handler runs a modal box's event loop (a recording error).
    StopPolling();
    StartPolling();
    onReceiveData_(this, buffer_.get(), static_cast<std::int32_t>(*count));
}

SerialLineSettings TCommPortDriver::LineSettings() const {
    SerialLineSettings s;
    s.speed = speed_;
    s.dataBits = dataBits_;
    s.stopBits = stopBits_;
    s.parity = parity_;
    s.hwHandshaking = hwHandshaking_;
    s.swHandshaking = swHandshaking_;
    s.enableDtr = enableDtrOnOpen_;
    s.inBufSize = inBufSize_;
    s.outBufSize = outBufSize_;
    return s;
}

void TCommPortDriver::StartPolling() {
    timerId_ = startTimer(std::max<int>(pollingDelay_, kMinimumTimerInterval));
}

void TCommPortDriver::StopPolling() {
    if (timerId_ != 0) killTimer(timerId_);
    timerId_ = 0;
}

template <typename T>
void TCommPortDriver::StoreLineSetting(T& field, T value) {
    field = value;
    ApplyPortSettings();  // does nothing while closed
}

void TCommPortDriver::SetComPort(TComPortNumber value) {
    if (IsPortOpen() || !InRange(value, kComPortCount)) return;
    comPort_ = value;
}

void TCommPortDriver::SetComPortSpeed(TComPortBaudRate value) {
    if (InRange(value, kBaudRateCount)) StoreLineSetting(speed_, value);
}

void TCommPortDriver::SetComPortDataBits(TComPortDataBits value) {
    if (InRange(value, db8BITS + 1)) StoreLineSetting(dataBits_, value);
}

void TCommPortDriver::SetComPortStopBits(TComPortStopBits value) {
    if (InRange(value, sb2BITS + 1)) StoreLineSetting(stopBits_, value);
}

void TCommPortDriver::SetComPortParity(TComPortParity value) {
    if (InRange(value, ptSPACE + 1)) StoreLineSetting(parity_, value);
}

void TCommPortDriver::SetComPortHwHandshaking(TComPortHwHandshaking value) {
    if (InRange(value, hhRTSCTS + 1)) StoreLineSetting(hwHandshaking_, value);
}

void TCommPortDriver::SetComPortSwHandshaking(TComPortSwHandshaking value) {
    if (InRange(value, shXONXOFF + 1)) StoreLineSetting(swHandshaking_, value);
}

// The buffer is replaced only while closed; its old contents are not kept.
void TCommPortDriver::SetComPortInBufSize(std::uint16_t value) {
    if (IsPortOpen() || value == inBufSize_) return;
    buffer_.reset();
    inBufSize_ = value;
    buffer_.reset(new char[inBufSize_]);
}

// Used only as the output queue size of the next ApplyPortSettings.
void TCommPortDriver::SetComPortOutBufSize(std::uint16_t value) { outBufSize_ = value; }

void TCommPortDriver::SetComPortPollingDelay(std::uint16_t value) {
    if (value == pollingDelay_) return;
    const bool polling = IsPortOpen();
    if (polling) StopPolling();
    pollingDelay_ = value;
    if (polling) StartPolling();
}

void TCommPortDriver::SetEnableDTROnOpen(bool value) { enableDtrOnOpen_ = value; }

void TCommPortDriver::SetOutputTimeout(std::uint16_t value) { outputTimeout_ = value; }

void TCommPortDriver::SetOnReceiveData(TComPortReceiveDataEvent handler) {
    onReceiveData_ = std::move(handler);
}
