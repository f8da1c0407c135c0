#include "CheckRunner.h"

#include <cstdio>
#include <exception>

namespace {

struct Unmet {
    std::string what;
};
struct Skipped {
    std::string why;
};

void PrintLine(const char* outcome, const char* group, const std::string& name,
               const std::string& text) {
    std::printf("%s %s: %s%s%s\n", outcome, group, name.c_str(), text.empty() ? "" : " -- ",
                text.c_str());
    std::fflush(stdout);
}

}  // namespace

void Verdict::Require(bool met, const std::string& what) {
    if (!met) throw Unmet{what};
}

void Verdict::Skip(const std::string& why) { throw Skipped{why}; }

void Verdict::Note(const std::string& text) { notes_ += (notes_.empty() ? "" : "; ") + text; }

void RunChecks(const char* group, std::span<const Check> checks, Tally& tally) {
    for (const Check& check : checks) {
        Verdict verdict;
        try {
            check.run(verdict);
            ++tally.passed;
            PrintLine("PASS", group, check.name, verdict.Notes());
        } catch (const Unmet& unmet) {
            ++tally.failed;
            const std::string notes = verdict.Notes();
            PrintLine("FAIL", group, check.name,
                      unmet.what + (notes.empty() ? "" : " (" + notes + ")"));
        } catch (const Skipped& skipped) {
            ++tally.skipped;
            PrintLine("SKIP", group, check.name, skipped.why);
        } catch (const std::exception& error) {
            ++tally.failed;
            PrintLine("FAIL", group, check.name, std::string("exception: ") + error.what());
        }
    }
}

int FinishRun(const Tally& tally) {
    std::printf("win32: %d passed, %d failed, %d skipped\n", tally.passed, tally.failed,
                tally.skipped);
    std::fflush(stdout);
    return tally.failed == 0 && tally.passed > 0 ? 0 : 1;
}
