// soak-watch: the soak run's helper.
//   soak-watch watch FILE SAMPLES [EVERY_MS]
//       Polls FILE's size every EVERY_MS milliseconds (default 1) until SIGTERM or SIGINT and then
//       writes one line "monotonic_ns size" to SAMPLES for every change it saw.
//   soak-watch compare --log SENT --recording FILE [--timestamps TIMES --samples SAMPLES]
//       Compares the recording file with what the simulator sent and prints
//       "lines=N bytes=B mismatched=M measured=K max_delay_ms=D".
#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "SoakCompare.h"

namespace {

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

std::int64_t MonotonicNs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::uint64_t FileSize(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
}

int Watch(const char* file, const char* samplesPath, long everyMs) {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    std::vector<SizeSample> samples;
    std::uint64_t last = 0;
    const timespec tick{everyMs / 1000, (everyMs % 1000) * 1'000'000};
    while (!stopRequested) {
        const std::uint64_t size = FileSize(file);
        if (size != last) samples.push_back({MonotonicNs(), last = size});
        ::nanosleep(&tick, nullptr);
    }
    const std::uint64_t size = FileSize(file);
    if (size != last) samples.push_back({MonotonicNs(), size});
    std::FILE* out = std::fopen(samplesPath, "w");
    if (out == nullptr) {
        std::fprintf(stderr, "soak-watch: cannot write %s\n", samplesPath);
        return 1;
    }
    for (const SizeSample& s : samples) {
        std::fprintf(out, "%" PRId64 " %" PRIu64 "\n", s.monoNs, s.size);
    }
    return std::fclose(out) == 0 ? 0 : 1;
}

bool ReadWhole(const std::string& path, std::string& into) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    into = bytes.str();
    return true;
}

int Compare(const std::map<std::string, std::string>& args) {
    std::string sent, recorded, times, samples;
    if (!args.count("--log") || !args.count("--recording") || !ReadWhole(args.at("--log"), sent)) {
        std::fprintf(stderr, "soak-watch: compare needs a readable --log and --recording\n");
        return 2;
    }
    ReadWhole(args.at("--recording"), recorded);  // a missing file counts as empty
    const std::string expected = ExpectedRecording(sent);
    const std::vector<std::uint64_t> ends = LineEnds(expected);
    DelayResult delays;
    if (args.count("--timestamps") && args.count("--samples") &&
        ReadWhole(args.at("--timestamps"), times) && ReadWhole(args.at("--samples"), samples)) {
        delays = LineDelays(ParseSendTimes(times), ends, ParseSamples(samples));
    }
    std::printf("lines=%zu bytes=%zu mismatched=%" PRIu64 " measured=%" PRIu64
                " max_delay_ms=%.1f\n",
                ends.size(), expected.size(), MismatchedBytes(expected, recorded), delays.measured,
                static_cast<double>(delays.maxDelayNs) / 1e6);
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: soak-watch watch FILE SAMPLES [EVERY_MS]\n"
                 "       soak-watch compare --log SENT --recording FILE "
                 "[--timestamps TIMES --samples SAMPLES]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if ((args.size() == 3 || args.size() == 4) && args[0] == "watch") {
        char* end = nullptr;
        const long everyMs = args.size() == 4 ? std::strtol(argv[4], &end, 10) : 1;
        if (args.size() == 4 && (*end != '\0' || everyMs < 1 || everyMs > 1000)) return Usage();
        return Watch(argv[2], argv[3], everyMs);
    }
    if (args.empty() || args[0] != "compare" || args.size() % 2 == 0) return Usage();
    std::map<std::string, std::string> options;
    for (std::size_t i = 1; i + 1 < args.size(); i += 2) options[args[i]] = args[i + 1];
    return Compare(options);
}
