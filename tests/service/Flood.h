#pragma once
// A flood of connections to the weight service from many source addresses, as an attacker on
// the LAN or a local user makes it, kept up on a thread of its own until destroyed: whatever the
// service closes is opened again at once. POSIX sockets only (no Qt), so that it is cheap and
// also serves the benchmark.
//   Idle      connects and sends nothing;
//   Partial   sends a request head that never ends;
//   Tokenless asks GET /api/v1/weight without the token, then stays connected;
//   Stream    asks for /api/v1/events and never reads.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace waga::flood {

enum class Kind { Idle, Partial, Tokenless, Stream };

struct Plan {
    std::uint32_t server = 0;  // IPv4, host order
    int port = 0;
    std::uint32_t firstSource = 0;  // IPv4, host order: sources are firstSource + 0 .. sources-1
    int sources = 250;
    std::vector<std::pair<Kind, int>> kinds;  // how many connections of each kind are kept
};

class Flood {
  public:
    explicit Flood(Plan plan) : plan_(std::move(plan)), thread_([this] { Run(); }) {}
    ~Flood() {
        stop_ = true;
        thread_.join();
    }
    Flood(const Flood&) = delete;
    Flood& operator=(const Flood&) = delete;

    long Opened() const { return opened_; }       // connections made so far
    int Connected() const { return connected_; }  // held now
    long Failures() const { return failures_; }   // socket, bind or connect refused here

  private:
    struct Slot {
        int fd = -1;
        Kind kind = Kind::Idle;
        bool connecting = false;
        int source = 0;
    };

    std::string Request(const char* target) const {
        in_addr address{htonl(plan_.server)};
        return std::string("GET ") + target + " HTTP/1.1\r\nHost: " + inet_ntoa(address) +
               "\r\n\r\n";
    }

    void Open(Slot& slot) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            ++failures_;
            return;
        }
        if (slot.kind == Kind::Stream) {
            const int small = 4096;  // so that not reading soon shows
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(plan_.firstSource + std::uint32_t(slot.source));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(plan_.port));
        to.sin_addr.s_addr = htonl(plan_.server);
        if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
            (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 &&
             errno != EINPROGRESS)) {
            ++failures_;
            close(fd);
            return;
        }
        slot.fd = fd;
        slot.connecting = true;
        ++opened_;
    }

    void Drop(Slot& slot) {
        if (!slot.connecting) --connected_;
        close(slot.fd);
        slot.fd = -1;
        slot.connecting = false;
    }

    void Connected(Slot& slot) {
        int error = 0;
        socklen_t size = sizeof error;
        getsockopt(slot.fd, SOL_SOCKET, SO_ERROR, &error, &size);
        slot.connecting = false;
        ++connected_;
        if (error != 0) {
            Drop(slot);
            return;
        }
        std::string bytes;
        switch (slot.kind) {
            case Kind::Idle:
                break;
            case Kind::Partial:
                bytes = "GET /api/v1/weight HTTP/1.1\r\nHost:";
                break;
            case Kind::Tokenless:
                bytes = Request("/api/v1/weight");
                break;
            case Kind::Stream:
                bytes = Request("/api/v1/events");
                break;
        }
        if (!bytes.empty() && send(slot.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) {
            Drop(slot);
        }
    }

    void Run() {
        std::vector<Slot> all;
        int n = 0;
        for (const auto& [kind, count] : plan_.kinds) {
            for (int i = 0; i < count; ++i) {
                Slot slot;
                slot.kind = kind;
                slot.source = n++ % plan_.sources;
                all.push_back(slot);
            }
        }
        std::vector<pollfd> polls;
        std::vector<Slot*> which;
        char buffer[16384];
        while (!stop_) {
            polls.clear();
            which.clear();
            for (Slot& slot : all) {
                if (slot.fd < 0) Open(slot);
                if (slot.fd < 0) continue;
                short events = POLLRDHUP;
                if (slot.connecting) events |= POLLOUT;
                if (slot.kind != Kind::Stream) events |= POLLIN;  // a stream is never read
                polls.push_back({slot.fd, events, 0});
                which.push_back(&slot);
            }
            if (poll(polls.data(), polls.size(), 20) <= 0) continue;
            for (std::size_t i = 0; i < polls.size(); ++i) {
                Slot& slot = *which[i];
                const short got = polls[i].revents;
                if (got == 0) continue;
                if (slot.connecting && (got & (POLLOUT | POLLERR | POLLHUP))) {
                    Connected(slot);
                    if (slot.fd < 0) continue;
                }
                if (got & (POLLERR | POLLHUP | POLLRDHUP)) {
                    Drop(slot);
                } else if (got & POLLIN) {
                    const ssize_t read = recv(slot.fd, buffer, sizeof buffer, 0);
                    if (read <= 0 && !(read < 0 && errno == EAGAIN)) Drop(slot);
                }
            }
        }
        for (Slot& slot : all) {
            if (slot.fd >= 0) Drop(slot);
        }
    }

    Plan plan_;
    std::atomic<bool> stop_{false};
    std::atomic<long> opened_{0};
    std::atomic<int> connected_{0};
    std::atomic<long> failures_{0};
    std::thread thread_;  // last: starts once the rest is made
};

}  // namespace waga::flood
