#pragma once
// How a station never hands out a sequence number twice, whatever happens to its journal file
// (a write-ahead log deleted, an older copy put back, a damaged file moved aside).
//
// The first number of a run of the program is the largest of:
//   - the file's highest seq + 1;
//   - the mark: one number in a small file beside the journal (dziennik.seq), outside the
//     database and its write-ahead log, always above every seq stored. The writer's thread moves
//     it a block ahead before it stores a row at or above it, so the window's thread never waits
//     for it; at start it is written a block above the first number, which also covers the
//     numbers the weight service shows before their rows are stored;
//   - the UTC clock in microseconds: numbers rise by one a line, far slower than the clock, so
//     a station whose mark went with the file (a whole folder restored) still starts above
//     every number it gave. The mark covers a clock that was set back.
// Within a run the numbers rise by one a row; between runs they jump.

#include <QString>
#include <cstdint>
#include <optional>

namespace waga::journal {

inline constexpr std::int64_t kSeqMarkBlock = 100000;

// The UTC clock in microseconds.
std::int64_t UtcNowUs();

std::int64_t FirstSeqOfRun(std::optional<std::int64_t> fileHighest,
                           std::optional<std::int64_t> mark, std::int64_t clockUs);

// The mark in `path`: nullopt in `mark` when there is no file. False with `error` (Polish) when
// the file is there but cannot be read or holds anything but one number.
bool ReadSeqMark(const QString& path, std::optional<std::int64_t>& mark, QString& error);
// Replaces the mark (written whole to a temporary file, synced, then renamed over it).
bool WriteSeqMark(const QString& path, std::int64_t mark, QString& error);

}  // namespace waga::journal
