// service-load: the weight service's load generator (POSIX, no Qt), so that the figures measure
// the server and not the client.
//
//   service-load latency --fd N --port P [--clients 20] [--rate 5760] [--seconds 20]
//       Writes numbered readings ("1\r", "2\r", ...) to the pseudo-terminal master N at `rate`
//       lines a second while `clients` event-stream clients read /api/v1/events; prints the
//       delay from each line's CR to its event at each client (p50, p99, max) and lost events.
//   service-load get --port P [--clients 20] [--seconds 10] [--path /api/v1/weight]
//       `clients` keep-alive connections each asking again as soon as answered; prints
//       requests a second and the answer time (p50, p99).
//   service-load hold --port P --seconds S
//       Holds one event-stream client open (the idle figure is taken meanwhile).
//   service-load flood --port P --token T [--asks 200]
//       The token holder's GET /api/v1/weight, each on a new connection from 127.0.0.1 with
//       the token: alone, then while 250 addresses of 127/8 flood the service (300 each of idle
//       connections, heads that never end, requests without the token, event streams that
//       never read); prints the share answered and the answer time (p50, p99) of both.
//
// Output: one line of key=value pairs.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Flood.h"

namespace {

std::int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Each connection from an address of its own in 127/8, as clients on different computers: the
// service limits what one address may hold (32 connections, 8 event streams).
int Connect(int port) {
    static std::atomic<unsigned> next{0};
    const unsigned n = next++ % (250 * 250);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl((127u << 24) | ((n / 250 + 1) << 8) | (n % 250 + 2));
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void SendAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            poll(&p, 1, 100);
            continue;
        }
        if (n <= 0) {
            std::perror("write");
            std::exit(1);
        }
        done += static_cast<std::size_t>(n);
    }
}

double Percentile(std::vector<std::int64_t>& values, double p) {
    if (values.empty()) return 0;
    const std::size_t k = std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
    return values[k] / 1e6;
}

std::map<std::string, std::string> Options(int argc, char** argv) {
    std::map<std::string, std::string> options;
    for (int i = 2; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
    return options;
}

int Int(const std::map<std::string, std::string>& options, const char* key, int fallback) {
    const auto it = options.find(key);
    return it == options.end() ? fallback : std::atoi(it->second.c_str());
}

int Latency(const std::map<std::string, std::string>& options) {
    const int master = Int(options, "--fd", -1);
    const int port = Int(options, "--port", 0);
    const int clients = Int(options, "--clients", 20);
    const int rate = Int(options, "--rate", 5760);
    const int seconds = Int(options, "--seconds", 20);
    const std::size_t lines = static_cast<std::size_t>(rate) * seconds;
    std::vector<std::atomic<std::int64_t>> sent(lines + 1);

    std::vector<int> fds;
    for (int i = 0; i < clients; ++i) {
        const int fd = Connect(port);
        SendAll(fd, "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        fcntl(fd, F_SETFL, O_NONBLOCK);
        fds.push_back(fd);
    }
    usleep(300000);  // every client is registered before the first line

    std::atomic<bool> writing{true};
    std::thread writer([&] {
        const std::int64_t start = NowNs();
        std::size_t written = 0;
        std::string batch;
        while (written < lines) {
            const std::int64_t now = NowNs();
            const std::size_t due = std::min<std::size_t>(
                lines, static_cast<std::size_t>((now - start) / 1e9 * rate) + 1);
            batch.clear();
            const std::size_t first = written + 1;
            for (; written < due; ++written) batch += std::to_string(written + 1) + "\r";
            if (!batch.empty()) {
                const std::int64_t t = NowNs();
                for (std::size_t k = first; k <= written; ++k) sent[k].store(t);
                SendAll(master, batch);
            }
            timespec pause{0, 1000000};  // 1 ms: about 6 lines a write at 5,760 lines/s
            nanosleep(&pause, nullptr);
        }
        writing = false;
    });

    std::vector<std::int64_t> delays;
    delays.reserve(lines * clients);
    std::vector<std::string> pending(fds.size());
    std::vector<std::size_t> received(fds.size(), 0);
    std::vector<pollfd> polls;
    for (int fd : fds) polls.push_back({fd, POLLIN, 0});
    std::int64_t quietSince = 0;
    char buffer[1 << 16];
    while (true) {
        const int ready = poll(polls.data(), polls.size(), 50);
        const std::int64_t now = NowNs();
        if (ready <= 0) {
            if (!writing) {
                if (quietSince == 0) quietSince = now;
                if (now - quietSince > 2000000000LL) break;  // 2 s with nothing more
            }
            continue;
        }
        quietSince = 0;
        for (std::size_t c = 0; c < polls.size(); ++c) {
            if (!(polls[c].revents & (POLLIN | POLLHUP))) continue;
            const ssize_t n = read(fds[c], buffer, sizeof buffer);
            if (n <= 0) continue;
            std::string& text = pending[c];
            text.append(buffer, static_cast<std::size_t>(n));
            // Only whole events are read; a partial one waits for the rest.
            const std::size_t whole = text.rfind("\n\n");
            if (whole == std::string::npos) continue;
            std::size_t at = 0;
            static const char kKey[] = "\"text\":\"";
            while ((at = text.find(kKey, at)) != std::string::npos && at < whole) {
                const std::size_t begin = at + sizeof kKey - 1;
                const std::size_t end = text.find('"', begin);
                if (end == std::string::npos) break;
                const std::size_t k = std::strtoull(text.c_str() + begin, nullptr, 10);
                if (k >= 1 && k <= lines) {
                    const std::int64_t t = sent[k].load();
                    if (t > 0) delays.push_back(now - t);
                    ++received[c];
                }
                at = end;
            }
            text.erase(0, whole + 2);
        }
    }
    writer.join();
    std::size_t lost = 0;
    for (std::size_t r : received) lost += r < lines ? lines - r : 0;
    std::vector<std::int64_t> copy = delays;
    std::printf(
        "lines=%zu clients=%d rate=%d events=%zu lost=%zu p50_ms=%.2f p99_ms=%.2f "
        "max_ms=%.2f\n",
        lines, clients, rate, delays.size(), lost, Percentile(copy, 0.50), Percentile(copy, 0.99),
        Percentile(copy, 1.0));
    for (int fd : fds) close(fd);
    return 0;
}

int Get(const std::map<std::string, std::string>& options) {
    const int port = Int(options, "--port", 0);
    const int clients = Int(options, "--clients", 20);
    const int seconds = Int(options, "--seconds", 10);
    const std::string path = options.count("--path") ? options.at("--path") : "/api/v1/weight";
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    struct Client {
        int fd;
        std::int64_t asked;
        std::string answer;
    };
    std::vector<Client> all;
    std::vector<pollfd> polls;
    for (int i = 0; i < clients; ++i) {
        Client c{Connect(port), NowNs(), {}};
        SendAll(c.fd, request);
        polls.push_back({c.fd, POLLIN, 0});
        all.push_back(c);
    }
    std::vector<std::int64_t> times;
    std::size_t errors = 0;
    const std::int64_t start = NowNs();
    const std::int64_t end = start + static_cast<std::int64_t>(seconds) * 1000000000;
    char buffer[1 << 16];
    while (NowNs() < end) {
        if (poll(polls.data(), polls.size(), 100) <= 0) continue;
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (!(polls[i].revents & (POLLIN | POLLHUP))) continue;
            Client& c = all[i];
            const ssize_t n = read(c.fd, buffer, sizeof buffer);
            if (n <= 0) {  // closed: count it and connect again
                ++errors;
                close(c.fd);
                c.fd = Connect(port);
                polls[i].fd = c.fd;
                c.answer.clear();
                c.asked = NowNs();
                SendAll(c.fd, request);
                continue;
            }
            c.answer.append(buffer, static_cast<std::size_t>(n));
            const std::size_t headerEnd = c.answer.find("\r\n\r\n");
            if (headerEnd == std::string::npos) continue;
            std::size_t length = 0;
            for (const char* key : {"Content-Length: ", "content-length: "}) {
                const std::size_t at = c.answer.find(key);
                if (at != std::string::npos && at < headerEnd) {
                    length = std::strtoull(c.answer.c_str() + at + 16, nullptr, 10);
                }
            }
            if (c.answer.size() < headerEnd + 4 + length) continue;
            const std::int64_t now = NowNs();
            if (c.answer.compare(0, 12, "HTTP/1.1 200") != 0 &&
                c.answer.compare(0, 12, "HTTP/1.0 200") != 0) {
                ++errors;
            }
            times.push_back(now - c.asked);
            c.answer.erase(0, headerEnd + 4 + length);
            c.asked = now;
            SendAll(c.fd, request);
        }
    }
    const double elapsed = (NowNs() - start) / 1e9;
    std::vector<std::int64_t> copy = times;
    std::printf("requests=%zu seconds=%.1f rps=%.0f p50_ms=%.3f p99_ms=%.3f errors=%zu\n",
                times.size(), elapsed, times.size() / elapsed, Percentile(copy, 0.50),
                Percentile(copy, 0.99), errors);
    for (const Client& c : all) close(c.fd);
    return 0;
}

int Hold(const std::map<std::string, std::string>& options) {
    const int fd = Connect(Int(options, "--port", 0));
    SendAll(fd, "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const std::int64_t end =
        NowNs() + static_cast<std::int64_t>(Int(options, "--seconds", 20)) * 1000000000;
    std::size_t bytes = 0;
    char buffer[4096];
    while (NowNs() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            bytes += static_cast<std::size_t>(n);
        }
    }
    std::printf("held=1 bytes=%zu\n", bytes);
    close(fd);
    return 0;
}

// One GET with the token on a new connection; its time in ns, negative when not answered 200
// within 5 s.
std::int64_t AskWithToken(int port, const std::string& token) {
    const std::int64_t start = NowNs();
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    SendAll(fd, "GET /api/v1/weight HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token +
                    "\r\n\r\n");
    std::string answer;
    char buffer[4096];
    const std::int64_t deadline = start + 5000000000LL;
    while (NowNs() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(n));
        const std::size_t headerEnd = answer.find("\r\n\r\n");
        const std::size_t at = answer.find("Content-Length: ");
        if (headerEnd == std::string::npos || at == std::string::npos) continue;
        if (answer.size() >= headerEnd + 4 + std::strtoull(answer.c_str() + at + 16, nullptr, 10)) {
            close(fd);
            return answer.compare(0, 12, "HTTP/1.1 200") == 0 ? NowNs() - start : -1;
        }
    }
    close(fd);
    return -1;
}

int FloodFigures(const std::map<std::string, std::string>& options) {
    const int port = Int(options, "--port", 0);
    const int asks = Int(options, "--asks", 200);
    const std::string token = options.count("--token") ? options.at("--token") : "";
    const auto measure = [&](const char* name) {
        std::vector<std::int64_t> times;
        int served = 0;
        for (int i = 0; i < asks; ++i) {
            const std::int64_t ns = AskWithToken(port, token);
            if (ns >= 0) ++served;
            times.push_back(ns >= 0 ? ns : 5000000000LL);
        }
        std::printf("%s_served=%.1f %s_p50_ms=%.1f %s_p99_ms=%.1f ", name, 100.0 * served / asks,
                    name, Percentile(times, 0.50), name, Percentile(times, 0.99));
    };
    measure("alone");
    using waga::flood::Kind;
    waga::flood::Plan plan{
        (127u << 24) | 1u,
        port,
        (127u << 24) | 2u,
        250,
        {{Kind::Idle, 300}, {Kind::Partial, 300}, {Kind::Tokenless, 300}, {Kind::Stream, 300}}};
    waga::flood::Flood flood(plan);
    const std::int64_t until = NowNs() + 10000000000LL;
    while (flood.Connected() < 1000 && NowNs() < until) usleep(10000);
    const int held = flood.Connected();
    measure("flood");
    std::printf("held=%d\n", held);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: service-load latency|get|hold|flood --port P ...\n");
        return 2;
    }
    const std::string mode = argv[1];
    const auto options = Options(argc, argv);
    if (mode == "latency") return Latency(options);
    if (mode == "get") return Get(options);
    if (mode == "hold") return Hold(options);
    if (mode == "flood") return FloodFigures(options);
    std::fprintf(stderr, "service-load: unknown mode %s\n", mode.c_str());
    return 2;
}
