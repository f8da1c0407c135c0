#include "TcpGate.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void Reset(int fd) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

bool WriteAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

}  // namespace

TcpGate::TcpGate(int targetPort) : targetPort_(targetPort) {
    if (Listen()) thread_ = std::thread([this] { Run(); });
}

TcpGate::~TcpGate() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    CloseAll();
}

bool TcpGate::Listen() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = Loopback(port_);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    return true;
}

void TcpGate::CloseAll() {
    for (const auto& [a, b] : pairs_) {
        Reset(a);
        Reset(b);
    }
    pairs_.clear();
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
}

void TcpGate::Run() {
    char buffer[65536];
    while (!stop_) {
        if (!open_ && listenFd_ >= 0) CloseAll();
        if (open_ && listenFd_ < 0 && !Listen()) {
            ::usleep(20000);
            continue;
        }
        std::vector<pollfd> fds;
        for (const auto& [a, b] : pairs_) {
            fds.push_back({a, POLLIN, 0});
            fds.push_back({b, POLLIN, 0});
        }
        const std::size_t polledPairs = pairs_.size();
        if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
        std::vector<std::pair<int, int>> kept;
        for (std::size_t p = 0; p < polledPairs; ++p) {
            const auto [a, b] = pairs_[p];
            bool alive = true;
            for (int side = 0; side < 2 && alive; ++side) {
                const pollfd& fd = fds[2 * p + static_cast<std::size_t>(side)];
                if (!(fd.revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = ::recv(fd.fd, buffer, sizeof buffer, 0);
                alive = n > 0 && WriteAll(side == 0 ? b : a, buffer, n);
            }
            if (alive) {
                kept.emplace_back(a, b);
            } else {
                ::close(a);
                ::close(b);
            }
        }
        if (listenFd_ >= 0 && (fds.back().revents & POLLIN)) {
            const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in target = Loopback(targetPort_);
            if (client >= 0 &&
                ::connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) {
                kept.emplace_back(client, server);
            } else {
                if (client >= 0) Reset(client);
                ::close(server);
            }
        }
        pairs_ = std::move(kept);
    }
}
