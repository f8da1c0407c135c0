#pragma once
// A station for the fault tests: a folder with its journal, a feeder that writes lines into the
// journal from its own thread the way the journal does (runs of identical readings, changing
// readings, reports, a port loss now and then), and the check that the central rows equal the
// journal's.

#include <QString>
#include <atomic>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "CentralCheck.h"
#include "CentralServer.h"
#include "TestSupport.h"

namespace central {
void PrintTo(const RowsDigest& digest, std::ostream* os);  // for the assertions' messages
}  // namespace central

class Feeder {
  public:
    // Writes about `linesPerSecond` lines a second into `journalPath` until Stop().
    Feeder(const QString& journalPath, int linesPerSecond, int firstValue = 0);
    ~Feeder() { Stop(); }
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;
    void Stop();
    long Lines() const { return lines_; }
    bool Failed() const { return failed_; }

  private:
    std::atomic<bool> stop_{false};
    std::atomic<long> lines_{0};
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

// Writes `rows` lines at once (a backlog), each a different reading; false on a write failure.
bool WriteBacklog(const QString& journalPath, int rows, int firstValue = 0);

// The journal's digest through a connection of its own; a failure to read it fails the test.
std::optional<central::RowsDigest> JournalDigest(const QString& journalPath);
// The acknowledged position's seq in the journal's upload_state (0 before the first); a failure
// to read it fails the test (and gives -1).
qint64 AckedSeq(const QString& journalPath);

// How long the tests keep the server away (WAGA_CENTRAL_TEST_OUTAGE_S, default 3 s; the issue's
// real durations are 30 s and a minute).
std::chrono::milliseconds OutageDuration();

// Waits (up to `timeout`) until the central rows of `station` equal the journal's; returns the
// last pair of digests seen, for the assertion.
struct DigestPair {
    std::optional<central::RowsDigest> journal;
    std::optional<central::RowsDigest> central;
};
// Asserts that both digests were read, are not empty and are equal.
void ExpectEqualDigests(const DigestPair& digests);

DigestPair WaitForEqualRows(CentralServer& server, const QString& station,
                            const QString& journalPath,
                            std::chrono::milliseconds timeout = std::chrono::seconds(60));
