// The Windows device layer: the port is opened with CreateFileA and driven with the
// communications functions; results of the setting calls are ignored.
#include <windows.h>

#include "DcbFields.h"
#include "SerialDevice.h"
#include "Win32Errors.h"

namespace {

DCB ToWindowsDcb(const DcbFields& f) {
    DCB dcb;
    ZeroMemory(&dcb, sizeof(dcb));
    dcb.DCBlength = f.DCBlength;
    dcb.BaudRate = f.BaudRate;
    dcb.fBinary = f.fBinary;
    dcb.fParity = f.fParity;
    dcb.fOutxCtsFlow = f.fOutxCtsFlow;
    dcb.fOutxDsrFlow = f.fOutxDsrFlow;
    dcb.fDtrControl = f.fDtrControl;
    dcb.fDsrSensitivity = f.fDsrSensitivity;
    dcb.fTXContinueOnXoff = f.fTXContinueOnXoff;
    dcb.fOutX = f.fOutX;
    dcb.fInX = f.fInX;
    dcb.fErrorChar = f.fErrorChar;
    dcb.fNull = f.fNull;
    dcb.fRtsControl = f.fRtsControl;
    dcb.fAbortOnError = f.fAbortOnError;
    dcb.XonLim = f.XonLim;
    dcb.XoffLim = f.XoffLim;
    dcb.ByteSize = f.ByteSize;
    dcb.Parity = f.Parity;
    dcb.StopBits = f.StopBits;
    dcb.XonChar = f.XonChar;
    dcb.XoffChar = f.XoffChar;
    dcb.ErrorChar = f.ErrorChar;
    dcb.EofChar = f.EofChar;
    dcb.EvtChar = f.EvtChar;
    return dcb;
}

static_assert(sizeof(DCB) == 28, "DCBlength is written as 28");
static_assert(DTR_CONTROL_ENABLE == kDtrControlEnable && DTR_CONTROL_DISABLE == kDtrControlDisable);
static_assert(RTS_CONTROL_HANDSHAKE == kRtsControlHandshake &&
              RTS_CONTROL_DISABLE == kRtsControlDisable);
static_assert(ONESTOPBIT == sb1BITS && ONE5STOPBITS == sb1HALFBITS && TWOSTOPBITS == sb2BITS);
static_assert(NOPARITY == ptNONE && ODDPARITY == ptODD && EVENPARITY == ptEVEN &&
              MARKPARITY == ptMARK && SPACEPARITY == ptSPACE);
static_assert(ERROR_FILE_NOT_FOUND == win32_error::kFileNotFound &&
              ERROR_PATH_NOT_FOUND == win32_error::kPathNotFound &&
              ERROR_ACCESS_DENIED == win32_error::kAccessDenied &&
              ERROR_INVALID_HANDLE == win32_error::kInvalidHandle &&
              ERROR_NOT_READY == win32_error::kNotReady &&
              ERROR_BAD_COMMAND == win32_error::kBadCommand &&
              ERROR_GEN_FAILURE == win32_error::kGenFailure &&
              ERROR_SHARING_VIOLATION == win32_error::kSharingViolation &&
              ERROR_OPERATION_ABORTED == win32_error::kOperationAborted &&
              ERROR_DEVICE_NOT_CONNECTED == win32_error::kDeviceNotConnected &&
              ERROR_DEVICE_REMOVED == win32_error::kDeviceRemoved);

class Win32SerialDevice final : public ISerialDevice {
  public:
    ~Win32SerialDevice() override { Close(); }

    OpenResult Open(const std::string& portName) override {
        if (IsOpen()) return {OpenFailure::None, 0, portName};
        HANDLE h = CreateFileA(portName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            return {OpenFailureFromWin32Error(error), static_cast<int>(error), portName};
        }
        handle_ = h;
        return {OpenFailure::None, 0, portName};
    }

    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    bool ApplyLineSettings(const SerialLineSettings& settings) override {
        if (!IsOpen()) return false;
        DCB dcb = ToWindowsDcb(ComputeDcbFields(settings));
        return SetCommState(handle_, &dcb) != 0;
    }

    bool SetQueueSizes(std::uint16_t inSize, std::uint16_t outSize) override {
        return IsOpen() && SetupComm(handle_, inSize, outSize) != 0;
    }

    // Reads return at once: after the first byte, 1 ms without another ends the read, and an
    // empty queue returns after 1 ms with nothing.
    bool SetReadTimeouts() override {
        if (!IsOpen()) return false;
        COMMTIMEOUTS timeouts;
        ZeroMemory(&timeouts, sizeof(timeouts));
        timeouts.ReadIntervalTimeout = 1;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = 1;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = 0;
        return SetCommTimeouts(handle_, &timeouts) != 0;
    }

    bool Purge(bool discardInput, bool discardOutput) override {
        if (!IsOpen()) return false;
        DWORD flags = 0;
        if (discardInput) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
        if (discardOutput) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
        return PurgeComm(handle_, flags) != 0;
    }

    // ClearCommError first: it fails at once for a removed device, and it clears any line error
    // that would otherwise hold up the read.
    ReadResult Read(char* buffer, std::size_t maxBytes) override {
        if (!IsOpen()) return {ReadStatus::Failed, 0};
        DWORD lineErrors = 0;
        if (!ClearCommError(handle_, &lineErrors, nullptr)) return Failure();
        DWORD bytesRead = 0;
        if (!ReadFile(handle_, buffer, static_cast<DWORD>(maxBytes), &bytesRead, nullptr)) {
            return Failure();
        }
        return {ReadStatus::Ok, static_cast<std::size_t>(bytesRead)};
    }

    void Close() override {
        if (!IsOpen()) return;
        (void)CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    // Windows has no descriptor to watch: the component reads on its timer.
    int WaitableDescriptor() const override { return -1; }
    bool Present(const std::string&) const override { return true; }

  private:
    static ReadResult Failure() {
        return {IsWin32DeviceGoneError(GetLastError()) ? ReadStatus::Lost : ReadStatus::Failed, 0};
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<ISerialDevice> CreatePlatformSerialDevice() {
    return std::make_unique<Win32SerialDevice>();
}
