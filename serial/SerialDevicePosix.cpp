#include "SerialDevicePosix.h"

#include <fcntl.h>
#include <poll.h>
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

bool SetModemLine(int fd, int line, bool raised) {
    int bits = line;
    return ::ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

int FlushSelector(bool discardInput, bool discardOutput) {
    if (discardInput && discardOutput) return TCIOFLUSH;
    return discardInput ? TCIFLUSH : TCOFLUSH;
}

// Errors after which the device will not come back under this descriptor: the terminal was hung
// up or its driver went away (a USB adapter pulled out).
bool IsLossError(int error) { return error == EIO || error == ENXIO || error == ENODEV; }

OpenResult Refused(OpenFailure failure, int error, const std::string& device) {
    return {failure, error, device};
}

}  // namespace

std::string ResolvePortPath(const std::string& portName, const std::string& devicePrefix) {
    if (portName.size() != 4 || portName.compare(0, 3, "COM") != 0) return {};
    const char digit = portName[3];
    if (digit < '1' || digit > '9') return {};
    if (PathExists(portName)) return portName;
    return devicePrefix + static_cast<char>(digit - 1);
}

std::string PortDeviceName(const std::string& portName, const std::string& devicePrefix) {
    const std::string path = ResolvePortPath(portName, devicePrefix);
    if (path != portName) return path;
    char target[4096];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : path;
}

OpenFailure OpenFailureFromErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case ENOTDIR:
        case ELOOP:
            return OpenFailure::MissingDevice;
        case EACCES:
        case EPERM:
        case EROFS:
            return OpenFailure::PermissionDenied;
        case EBUSY:
        case EWOULDBLOCK:
            return OpenFailure::Busy;
        case ENOTTY:
        case EISDIR:
            return OpenFailure::NotATerminal;
        default:
            return OpenFailure::Other;
    }
}

PosixSerialDevice::PosixSerialDevice(std::string devicePrefix)
    : devicePrefix_(std::move(devicePrefix)) {}

PosixSerialDevice::~PosixSerialDevice() { Close(); }

OpenResult PosixSerialDevice::Open(const std::string& portName) {
    const std::string device = PortDeviceName(portName, devicePrefix_);
    if (IsOpen()) return {OpenFailure::None, 0, device};
    const std::string path = ResolvePortPath(portName, devicePrefix_);
    if (path.empty()) return Refused(OpenFailure::MissingDevice, ENOENT, portName);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Refused(OpenFailureFromErrno(errno), errno, device);
    if (!IsTerminal(fd)) {
        ::close(fd);
        return Refused(OpenFailure::NotATerminal, ENOTTY, device);
    }
    // Exclusive like a Windows port: one holder at a time, in this process or any other.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return Refused(OpenFailureFromErrno(error), error, device);
    }
    (void)::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    return {OpenFailure::None, 0, device};
}

bool PosixSerialDevice::ApplyLineSettings(const SerialLineSettings& settings) {
    if (!IsOpen()) return false;
    termios2 current{};
    const bool read = ::ioctl(fd_, TCGETS2, &current) == 0;
    termios2 wanted = ComputeTermios2(settings, read ? current.c_line : 0);
    const bool written = ::ioctl(fd_, TCSETS2, &wanted) == 0;
    const ModemLineStates lines = ComputeModemLines(settings);
    const bool dtr = SetModemLine(fd_, TIOCM_DTR, lines.dtr);
    const bool rts = SetModemLine(fd_, TIOCM_RTS, lines.rts);
    return read && written && dtr && rts;
}

// The kernel sizes its own queues; there is nothing to set.
bool PosixSerialDevice::SetQueueSizes(std::uint16_t, std::uint16_t) { return IsOpen(); }

// VMIN = VTIME = 0 and O_NONBLOCK already make every read return at once.
bool PosixSerialDevice::SetReadTimeouts() { return IsOpen(); }

bool PosixSerialDevice::Purge(bool discardInput, bool discardOutput) {
    if (!IsOpen()) return false;
    if (!discardInput && !discardOutput) return true;
    return ::ioctl(fd_, TCFLSH, FlushSelector(discardInput, discardOutput)) == 0;
}

// With VMIN = VTIME = 0 a read of an empty queue returns 0 bytes, as does a read of a hung-up
// terminal; only the latter reports POLLHUP.
bool PosixSerialDevice::HungUp() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLNVAL)) != 0;
}

ReadResult PosixSerialDevice::Read(char* buffer, std::size_t maxBytes) {
    if (!IsOpen()) return {ReadStatus::Failed, 0};
    if (maxBytes == 0) return {ReadStatus::Ok, 0};
    const ssize_t n = ::read(fd_, buffer, maxBytes);
    if (n > 0) return {ReadStatus::Ok, static_cast<std::size_t>(n)};
    if (n == 0) return {HungUp() ? ReadStatus::Lost : ReadStatus::Ok, 0};
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return {ReadStatus::Ok, 0};
    return {IsLossError(errno) ? ReadStatus::Lost : ReadStatus::Failed, 0};
}

// stat follows a COMn link to its device: a link whose adapter is unplugged is not present.
bool PosixSerialDevice::Present(const std::string& portName) const {
    const std::string path = ResolvePortPath(portName, devicePrefix_);
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
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
