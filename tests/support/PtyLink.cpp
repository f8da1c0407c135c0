#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

#include "TestSupport.h"

namespace waga::test {

PtyLink::PtyLink(std::string linkName) : linkName_(std::move(linkName)) {
    std::string error;
    if (!pty_.Open(error)) throw std::runtime_error(error);
    if (::symlink(SlavePath().c_str(), LinkPath().c_str()) != 0) {
        throw std::runtime_error("symlink failed");
    }
}

PtyLink::~PtyLink() { pty_.Close(); }

bool PtyLink::Write(std::string_view bytes) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!bytes.empty()) {
        const ssize_t n = ::write(MasterFd(), bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() > deadline) return false;
        pollfd p{MasterFd(), POLLOUT, 0};
        ::poll(&p, 1, 20);
    }
    return true;
}

}  // namespace waga::test
