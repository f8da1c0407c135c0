#pragma once
// File operations of the recording file, with the standard library only.

#include <string>
#include <string_view>

// Opens an existing file (never creates it) for reading and writing, appends the line's bytes
// and CR LF, closes it. False on any failure; the file is released in every case, and a failed
// append cuts the file back to its earlier size (no partial line stays behind).
bool AppendRecordLine(const std::string& fileName, std::string_view line);

// True when a file (or anything else) of that name exists.
bool RecordingFileExists(const std::string& fileName);

// Creates the file empty (create or truncate for writing, then close). False on failure.
bool CreateEmptyFile(const std::string& fileName);
