// scale-sim: a weighing scale on a pseudo-terminal, for demonstrations and end-to-end tests.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string_view>

#include "ProgramIdentity.h"
#include "ScaleContent.h"
#include "SimOptions.h"
#include "SimPort.h"

namespace {

using Clock = std::chrono::steady_clock;

// The longest wait for the reader after a stopping signal: a service manager's stop must not
// hang on a reader that has stalled.
constexpr double kStoppedDrainSeconds = 3;

class Simulator {
  public:
    Simulator(const SimOptions& options, SimPort& port, int signalFd)
        : options_(options), port_(port), signalFd_(signalFd), content_(options) {}

    bool OpenOutputs(std::string& error);
    void Run();
    void Drain();
    void PrintSummary() const {
        std::printf("scale-sim: sent %llu lines, %llu bytes\n",
                    static_cast<unsigned long long>(lines_),
                    static_cast<unsigned long long>(bytes_));
    }
    ~Simulator() {
        if (logFd_ >= 0) ::close(logFd_);
        if (timestampsFd_ >= 0) ::close(timestampsFd_);
    }

  private:
    bool WaitFor(Clock::time_point until);  // false when a signal came
    bool WaitForReader();
    bool WriteLine(const std::string& bytes);
    bool SendBurst();
    void RecordTimestamp();
    double Interval(const SimLine& line) const;
    bool Finished() const;

    const SimOptions& options_;
    SimPort& port_;
    int signalFd_;
    ScaleContent content_;
    int logFd_ = -1;
    int timestampsFd_ = -1;
    bool stopped_ = false;
    std::uint64_t lines_ = 0;
    std::uint64_t bytes_ = 0;
    double lineTime_ = 0;  // the schedule's time of the next line, seconds from the start
    Clock::time_point start_;
    Clock::time_point nextHoldCheck_;
};

bool OpenAppend(const std::string& path, int& fd, std::string& error) {
    if (path.empty()) return true;
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) error = "cannot write " + path;
    return fd >= 0;
}

void WriteAllTo(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0 && errno != EINTR) return;
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }
}

bool Simulator::OpenOutputs(std::string& error) {
    return OpenAppend(options_.logPath, logFd_, error) &&
           OpenAppend(options_.timestampsPath, timestampsFd_, error);
}

// Sleeps until the given time unless SIGTERM or SIGINT arrives; to the microsecond, or rounded
// up to whole milliseconds with --pace ms.
bool Simulator::WaitFor(Clock::time_point until) {
    while (!stopped_) {
        auto left = std::chrono::ceil<std::chrono::microseconds>(until - Clock::now());
        if (options_.millisecondPacing) left = std::chrono::ceil<std::chrono::milliseconds>(left);
        if (left.count() <= 0) return true;
        left = std::min<std::chrono::microseconds>(left, std::chrono::seconds(1));
        const timespec timeout{static_cast<time_t>(left.count() / 1000000),
                               static_cast<long>(left.count() % 1000000) * 1000};
        pollfd p{signalFd_, POLLIN, 0};
        if (::ppoll(&p, 1, &timeout, nullptr) > 0) stopped_ = true;
    }
    return false;
}

// With --wait-open, sends only while a program holds the port; after it takes the port
// (and purges what waited), a short pause lets its open finish.
bool Simulator::WaitForReader() {
    if (!options_.waitOpen || Clock::now() < nextHoldCheck_) return true;
    bool waited = false;
    while (!port_.HeldByReader()) {
        waited = true;
        if (!WaitFor(Clock::now() + std::chrono::milliseconds(50))) return false;
    }
    if (waited) {
        if (!WaitFor(Clock::now() + std::chrono::milliseconds(200))) return false;
        start_ = Clock::now() - std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(lineTime_));
    }
    nextHoldCheck_ = Clock::now() + std::chrono::milliseconds(100);
    return true;
}

// Writes the whole line, waiting while the terminal is full; never drops a byte. The log takes
// the line before the terminal does, so a reader never holds a byte the log lacks (the writer may
// lose the processor between the two writes, or be killed there); a line that does not go out
// whole (a stopping signal, a failed terminal) is taken back out of the log.
bool Simulator::WriteLine(const std::string& bytes) {
    if (logFd_ >= 0) WriteAllTo(logFd_, bytes.data(), bytes.size());
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(port_.MasterFd(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            bytes_ += static_cast<std::uint64_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        pollfd p[2] = {{port_.MasterFd(), POLLOUT, 0}, {signalFd_, POLLIN, 0}};
        ::poll(p, 2, 1000);
        if (p[1].revents & POLLIN) {
            stopped_ = true;
            break;
        }
    }
    if (done == bytes.size()) return true;
    if (logFd_ >= 0) {
        const auto sent = static_cast<off_t>(bytes_);
        if (::ftruncate(logFd_, sent) != 0 || ::lseek(logFd_, sent, SEEK_SET) != sent)
            std::cerr << "scale-sim: cannot take unsent bytes out of the log\n";
    }
    return false;
}

void Simulator::RecordTimestamp() {
    if (timestampsFd_ < 0) return;
    timespec mono{}, real{};
    ::clock_gettime(CLOCK_MONOTONIC, &mono);
    ::clock_gettime(CLOCK_REALTIME, &real);
    char text[96];
    const int n =
        std::snprintf(text, sizeof text, "%llu %lld%09ld %lld%09ld\n",
                      static_cast<unsigned long long>(lines_), static_cast<long long>(mono.tv_sec),
                      mono.tv_nsec, static_cast<long long>(real.tv_sec), real.tv_nsec);
    WriteAllTo(timestampsFd_, text, static_cast<std::size_t>(n));
}

// Time until the next line: the rate for readings, and never faster than the line speed
// (a report is printed at the line speed, 9600 bit/s unless --baud says otherwise).
double Simulator::Interval(const SimLine& line) const {
    const double bits = static_cast<double>(line.bytes.size()) * 10;
    if (line.inReport) return bits / (options_.baud ? options_.baud : 9600);
    const double byRate = options_.rate > 0 ? 1 / options_.rate : 0;
    const double byBaud = options_.baud ? bits / options_.baud : 0;
    return std::max(byRate, byBaud);
}

bool Simulator::Finished() const {
    if (stopped_) return true;
    if (options_.count != 0 && lines_ >= options_.count) return true;
    return options_.duration > 0 &&
           Clock::now() - start_ >= std::chrono::duration<double>(options_.duration);
}

void Simulator::Run() {
    if (!WaitFor(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(options_.startDelay)))) {
        return;
    }
    start_ = Clock::now();
    while (!Finished()) {
        if (!WaitForReader()) return;
        if (options_.burstPacing) {
            if (!SendBurst()) return;
            continue;
        }
        const auto due = start_ + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(lineTime_));
        if (!WaitFor(due)) return;
        const SimLine line = content_.NextLine(lineTime_);
        if (!WriteLine(line.bytes)) return;
        RecordTimestamp();
        ++lines_;
        lineTime_ += Interval(line);
    }
}

// The lines due by the next 5 ms step of the schedule, in one write; each line's timestamp is
// the write's end.
bool Simulator::SendBurst() {
    constexpr double kBurstSeconds = 0.005;
    const double burstTime = std::ceil(lineTime_ / kBurstSeconds) * kBurstSeconds;
    if (!WaitFor(start_ + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(burstTime)))) {
        return false;
    }
    std::string burst;
    std::uint64_t count = 0;
    do {
        const SimLine line = content_.NextLine(lineTime_);
        burst += line.bytes;
        ++count;
        lineTime_ += Interval(line);
    } while (lineTime_ <= burstTime && (options_.count == 0 || lines_ + count < options_.count));
    if (!WriteLine(burst)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        RecordTimestamp();
        ++lines_;
    }
    return true;
}

// Gives the reader time to take everything sent before the terminal goes away: closing it
// hangs the reader's side up, and the hang-up discards whatever the reader has not read yet.
// Stopped by a signal, the wait is at most kStoppedDrainSeconds and only while a program holds
// the port (nobody else would take the bytes); a second signal ends it.
void Simulator::Drain() {
    double limit = options_.drainTimeout;
    if (stopped_) {
        if (!port_.HeldByReader()) return;
        signalfd_siginfo taken{};
        while (::read(signalFd_, &taken, sizeof taken) == static_cast<ssize_t>(sizeof taken)) {
        }
        stopped_ = false;
        limit = std::min(limit, kStoppedDrainSeconds);
    }
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(limit));
    // The kernel moves what was written into the reader's queue on a work queue of its own, a
    // piece at a time as the reader makes room, so a queue that reads empty for a moment may
    // still have bytes behind it on a busy machine: it must stay empty for half a second.
    int emptyChecks = 0;
    while (emptyChecks < 20 && Clock::now() < deadline) {
        emptyChecks = port_.QueuedForReader() == 0 ? emptyChecks + 1 : 0;
        if (!WaitFor(Clock::now() + std::chrono::milliseconds(25))) return;
    }
}

int BlockStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    return ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") return PrintVersion("scale-sim");
    const ParseResult parsed = ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::cerr << "scale-sim: " << parsed.error << "\n" << SimUsage();
        return 2;
    }
    SimOptions options = *parsed.options;
    if (options.help) {
        std::cout << SimUsage();
        return 0;
    }
    if (!options.linesPath.empty()) {
        std::ifstream file(options.linesPath, std::ios::binary);
        std::string line;
        while (file && std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            options.lines.push_back(PolishToCp1250(line));
        }
        if (!file.eof()) {
            std::cerr << "scale-sim: cannot read " << options.linesPath << "\n";
            return 1;
        }
        options.count = options.lines.size();
        if (options.count == 0) {
            std::cerr << "scale-sim: " << options.linesPath << " holds no line\n";
            return 1;
        }
    }
    const int signalFd = BlockStopSignals();
    SimPort port;
    std::string error;
    if (!port.Create(options.link, error)) {
        std::cerr << "scale-sim: " << error << "\n";
        return 1;
    }
    Simulator simulator(options, port, signalFd);
    if (!simulator.OpenOutputs(error)) {
        std::cerr << "scale-sim: " << error << "\n";
        return 1;
    }
    simulator.Run();
    simulator.Drain();
    port.Destroy();
    if (!options.quiet) simulator.PrintSummary();
    return 0;
}
