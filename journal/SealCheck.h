#pragma once
// Checks a journal's seal (SealFormat.h) from the file alone: every row of the chain against
// its link, the links against each other and the head against its signature and, when given,
// the station's key. Reads in one read transaction, so the live journal is checked as it stood
// at one commit while the program goes on writing.

#include <QString>
#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "SealFormat.h"

namespace waga::journal {

struct SealFinding {
    std::int64_t seq = 0;
    QString text;  // Polish
};

struct SealReport {
    bool readable = false;
    QString error;  // why it could not be read
    std::int64_t rows = 0;
    std::int64_t firstSeq = 0, lastSeq = 0;
    std::int64_t sealed = 0, unsealed = 0;
    bool hasHead = false;
    seal::Digest fingerprint{};
    std::int64_t headSeq = 0;
    std::int64_t signedMs = 0;
    std::vector<SealFinding> findings;
    std::int64_t moreFindings = 0;  // past the ones listed
    bool stopped = false;
};

// `expected`: the fingerprint the head must be signed with (the station's); a journal with rows
// and no head is then a finding too. `stop` ends the check early (reported as stopped).
SealReport VerifyJournal(const QString& path, const std::optional<seal::Digest>& expected,
                         const std::atomic<bool>* stop = nullptr);

// The report as waga-journal verify prints it: a summary and one line per finding.
QString SealReportText(const SealReport& report);

}  // namespace waga::journal
