#pragma once
// What the simulated scale sends, line by line: drifting and settling weight readings, weighing
// reports in Polish (Windows-1250 bytes), short counter lines, or arbitrary bytes.
// Deterministic for a given seed and line-time sequence.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "SimOptions.h"

// Converts UTF-8 text made of ASCII and Polish letters to Windows-1250 bytes.
std::string PolishToCp1250(const std::string& utf8);

struct SimLine {
    std::string bytes;  // including the line end
    bool inReport = false;
};

// A weight that moves toward a target, settles there, and then gets a new target.
class WeightModel {
  public:
    explicit WeightModel(std::uint64_t seed);
    // The next reading, e.g. " 12.50"; `settledNow` tells when a load has just settled.
    std::string NextReading(bool& settledNow);

  private:
    std::mt19937_64 random_;
    double current_ = 0;
    double target_ = 0;
    int stableReadings_ = 0;
    int holdReadings_ = 4;
};

class ScaleContent {
  public:
    ScaleContent(const SimOptions& options);
    // The next line; `lineTime` is the sending schedule's time in seconds, which decides
    // when a report is due.
    SimLine NextLine(double lineTime);

  private:
    std::string End() const { return crOnly_ ? "\r" : "\r\n"; }
    void StartReport(double lineTime);
    std::string NoiseLine();

    SimMode mode_;
    bool crOnly_;
    double reportEvery_;
    double nextReport_;
    std::mt19937_64 random_;
    WeightModel weight_;
    std::vector<std::string> pendingReport_;  // lines still to send, without line ends
    std::vector<double> weighings_;           // settled loads since the last report
    int reportNumber_ = 0;
    std::uint64_t shortCounter_ = 0;
    std::vector<std::string> lines_;  // --lines, in Windows-1250
};
