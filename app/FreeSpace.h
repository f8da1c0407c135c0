#pragma once
// Start-up's free-space check: the bytes available to this user on the working directory's
// drive, and the warning when they are fewer than 1,000,000.

#include <QString>
#include <cstdint>

inline constexpr std::int64_t kMinimumFreeBytes = 1'000'000;  // not 1,048,576

// Bytes available to the user where the working directory lies; -1 when the query fails.
std::int64_t FreeBytesOfWorkingDirectory();

// Signed comparison, so a failed query (-1) counts as too little.
inline bool TooLittleFreeSpace(std::int64_t freeBytes) { return freeBytes < kMinimumFreeBytes; }

// "Zbyt mało wolnego miejsca na dysku!\rProgram potrzebuje około 1MB wolnej przestrzeni do
// prawidłowego funkcjonowania."
QString LowFreeSpaceText();
