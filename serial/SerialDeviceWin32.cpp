// The Windows device layer: the port is opened with CreateFileA and driven with the
// communications functions; results of the setting calls are ignored.
#include <windows.h>

#include "DcbFields.h"
#include "SerialDevice.h"

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

class Win32SerialDevice final : public ISerialDevice {
  public:
    ~Win32SerialDevice() override { Close(); }

    bool Open(const std::string& portName) override {
        if (IsOpen()) return true;
        HANDLE h = CreateFileA(portName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        handle_ = h;
        return true;
    }

    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    void ApplyLineSettings(const SerialLineSettings& settings) override {
        if (!IsOpen()) return;
        DCB dcb = ToWindowsDcb(ComputeDcbFields(settings));
        (void)SetCommState(handle_, &dcb);
    }

    void SetQueueSizes(std::uint16_t inSize, std::uint16_t outSize) override {
        if (IsOpen()) (void)SetupComm(handle_, inSize, outSize);
    }

    void SetReadTimeouts() override {
        if (!IsOpen()) return;
        COMMTIMEOUTS timeouts;
        ZeroMemory(&timeouts, sizeof(timeouts));
        timeouts.ReadIntervalTimeout = 1;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = 1;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = 0;
        (void)SetCommTimeouts(handle_, &timeouts);
    }

    void Purge(bool discardInput, bool discardOutput) override {
        if (!IsOpen()) return;
        DWORD flags = 0;
        if (discardInput) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
        if (discardOutput) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
        (void)PurgeComm(handle_, flags);
    }

    std::optional<std::size_t> Read(char* buffer, std::size_t maxBytes) override {
        if (!IsOpen()) return std::nullopt;
        DWORD bytesRead = 0;
        if (!ReadFile(handle_, buffer, static_cast<DWORD>(maxBytes), &bytesRead, nullptr)) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(bytesRead);
    }

    void Close() override {
        if (!IsOpen()) return;
        (void)CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<ISerialDevice> CreatePlatformSerialDevice() {
    return std::make_unique<Win32SerialDevice>();
}
