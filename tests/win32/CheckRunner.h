#pragma once
// A minimal runner for the Win32 layer's checks: a table of named checks, one output line for
// each, and a closing tally. A check fails on its first unmet requirement; it may also be
// skipped when the line under Wine cannot show what it is about.

#include <functional>
#include <span>
#include <string>

class Verdict {
  public:
    // Ends the check as failed when `met` is false.
    void Require(bool met, const std::string& what);
    // Ends the check as skipped, saying why it cannot be shown.
    [[noreturn]] void Skip(const std::string& why);
    // Adds an observation to the check's line (an error code, a time).
    void Note(const std::string& text);
    const std::string& Notes() const { return notes_; }

  private:
    std::string notes_;
};

struct Check {
    std::string name;
    std::function<void(Verdict&)> run;
};

struct Tally {
    int passed = 0;
    int failed = 0;
    int skipped = 0;
};

// Runs the checks in order, printing "PASS|FAIL|SKIP group: name [notes]" for each.
void RunChecks(const char* group, std::span<const Check> checks, Tally& tally);
// Prints "win32: N passed, M failed, K skipped"; the exit status for the run.
int FinishRun(const Tally& tally);
