#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

#include "TestSupport.h"

namespace waga::test {

PtyLink::PtyLink(std::string linkName) : linkName_(std::move(linkName)) {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    slavePath_ = name;
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    if (::symlink(slavePath_.c_str(), LinkPath().c_str()) != 0) {
        throw std::runtime_error("symlink failed");
    }
}

PtyLink::~PtyLink() {
    CloseSlave();
    CloseMaster();
}

bool PtyLink::Write(std::string_view bytes) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!bytes.empty()) {
        const ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() > deadline) return false;
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 20);
    }
    return true;
}

int PtyLink::QueuedForReader() const {
    int queued = 0;
    if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &queued) != 0) return -1;
    return queued;
}

void PtyLink::CloseSlave() {
    if (slave_ >= 0) ::close(slave_);
    slave_ = -1;
}

void PtyLink::CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

}  // namespace waga::test
