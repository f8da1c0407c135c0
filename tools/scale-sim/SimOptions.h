#pragma once
// Command-line options of scale-sim and their parser.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class SimMode { Scale, Short, Digits, Mixed, Lines };

struct SimOptions {
    std::string link = "./COM2";
    double rate = 4;          // lines per second; 0 = as fast as the line allows
    std::uint32_t baud = 0;   // 0 = no line-speed limit for readings
    std::uint64_t count = 0;  // 0 = unbounded
    double duration = 0;      // seconds of sending; 0 = unbounded
    double reportEvery = 5;   // seconds between weighing reports; 0 = none
    double startDelay = 0;    // seconds to wait before the first line
    bool waitOpen = false;
    double drainTimeout = 10;  // seconds to wait at the end for the reader to take everything
    bool crOnly = false;
    // Waits rounded up to whole milliseconds: at fast rates the lines due meanwhile go out back
    // to back, a burst about every millisecond. Otherwise every line is written at its own time,
    // to the microsecond, as a UART delivers them.
    bool millisecondPacing = false;
    // Bursts: every 5 ms the lines due since the start go out in one write, so the pace never
    // drifts and the reader gets a chunk of about 29 lines at 115200 bit/s.
    bool burstPacing = false;
    SimMode mode = SimMode::Scale;
    // --lines: the lines of this file (UTF-8, Polish letters sent in Windows-1250), once each,
    // then the simulator stops; main() reads them into `lines`.
    std::string linesPath;
    std::vector<std::string> lines;
    std::uint64_t seed = 1;
    std::string logPath;
    std::string timestampsPath;
    bool quiet = false;
    bool help = false;
};

struct ParseResult {
    std::optional<SimOptions> options;  // empty on error
    std::string error;
};

ParseResult ParseSimOptions(const std::vector<std::string>& args);
std::string SimUsage();
