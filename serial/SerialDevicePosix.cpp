#include "SerialDevicePosix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "TermiosSettings.h"

namespace {

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Only a terminal is a serial port: a character device that answers terminal requests.
bool IsTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    termios2 t{};
    return ::ioctl(fd, TCGETS2, &t) == 0;
}

void SetModemLine(int fd, int line, bool raised) {
    int bits = line;
    (void)::ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &bits);
}

}  // namespace

std::string ResolvePortPath(const std::string& portName, const std::string& devicePrefix) {
    if (portName.size() != 4 || portName.compare(0, 3, "COM") != 0) return {};
    const char digit = portName[3];
    if (digit < '1' || digit > '9') return {};
    if (PathExists(portName)) return portName;
    return devicePrefix + static_cast<char>(digit - 1);
}

PosixSerialDevice::PosixSerialDevice(std::string devicePrefix)
    : devicePrefix_(std::move(devicePrefix)) {}

PosixSerialDevice::~PosixSerialDevice() { Close(); }

bool PosixSerialDevice::Open(const std::string& portName) {
    if (IsOpen()) return true;
    const std::string path = ResolvePortPath(portName, devicePrefix_);
    if (path.empty()) return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // Exclusive like a Windows port: one holder at a time, in this process or any other.
    if (!IsTerminal(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    (void)::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    return true;
}

void PosixSerialDevice::ApplyLineSettings(const SerialLineSettings& settings) {
    if (!IsOpen()) return;
    termios2 current{};
    const cc_t line = ::ioctl(fd_, TCGETS2, &current) == 0 ? current.c_line : 0;
    termios2 wanted = ComputeTermios2(settings, line);
    (void)::ioctl(fd_, TCSETS2, &wanted);
    const ModemLineStates lines = ComputeModemLines(settings);
    SetModemLine(fd_, TIOCM_DTR, lines.dtr);
    SetModemLine(fd_, TIOCM_RTS, lines.rts);
}

// The kernel sizes its own queues; there is nothing to set.
void PosixSerialDevice::SetQueueSizes(std::uint16_t, std::uint16_t) {}

// VMIN = VTIME = 0 and O_NONBLOCK already make every read return at once.
void PosixSerialDevice::SetReadTimeouts() {}

void PosixSerialDevice::Purge(bool discardInput, bool discardOutput) {
    if (!IsOpen()) return;
    if (discardInput && discardOutput) {
        (void)::ioctl(fd_, TCFLSH, TCIOFLUSH);
    } else if (discardInput) {
        (void)::ioctl(fd_, TCFLSH, TCIFLUSH);
    } else if (discardOutput) {
        (void)::ioctl(fd_, TCFLSH, TCOFLUSH);
    }
}

std::optional<std::size_t> PosixSerialDevice::Read(char* buffer, std::size_t maxBytes) {
    if (!IsOpen()) return std::nullopt;
    if (maxBytes == 0) return 0;
    const ssize_t n = ::read(fd_, buffer, maxBytes);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    return std::nullopt;
}

void PosixSerialDevice::Close() {
    if (!IsOpen()) return;
    // Clear the exclusive flag: a pseudo-terminal outlives this descriptor, and a flag left
    // set would refuse this user's next open.
    (void)::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

std::unique_ptr<ISerialDevice> CreatePlatformSerialDevice() {
    return std::make_unique<PosixSerialDevice>();
}
