#pragma once
// The soak run's verdict: what the recording file should hold for the bytes the simulator sent,
// how many bytes differ or are missing, and how long each line took from leaving the simulator to
// appearing in the file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the program must record for a sent byte stream when every line is recorded: line feeds
// are dropped, each carriage return ends a line written with CR LF. Bytes after the last CR are
// an unfinished line and are not expected.
std::string ExpectedRecording(std::string_view sent);

// Offsets just past each line's CR LF in ExpectedRecording(sent), one per line in order.
std::vector<std::uint64_t> LineEnds(std::string_view expected);

// Bytes of `actual` that differ from `expected` at the same position, plus the bytes missing
// from or extra at the end of `actual`. 0 means equal.
std::uint64_t MismatchedBytes(std::string_view expected, std::string_view actual);

// One observation of the recording file: its size at a monotonic time.
struct SizeSample {
    std::int64_t monoNs = 0;
    std::uint64_t size = 0;
};

// When each line was sent (monotonic ns), in line order.
struct DelayResult {
    std::uint64_t measured = 0;   // lines whose end showed up in the file
    std::int64_t maxDelayNs = 0;  // largest delay among them
};

// For each line, the first sample whose size reaches the line's end gives its arrival; the delay
// is the arrival less the send time. Both sequences are in time order.
DelayResult LineDelays(const std::vector<std::int64_t>& sentNs,
                       const std::vector<std::uint64_t>& lineEnds,
                       const std::vector<SizeSample>& samples);

// Parsers for the two text files: scale-sim --timestamps ("index mono_ns real_ns" per line) and
// the watcher's samples ("mono_ns size" per line). Malformed lines are skipped.
std::vector<std::int64_t> ParseSendTimes(std::string_view text);
std::vector<SizeSample> ParseSamples(std::string_view text);
