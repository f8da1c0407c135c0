#pragma once
// File operations of the recording file.

#include <cstdint>
#include <string>
#include <string_view>

// The recording file, held open while one received chunk is worked through. It is opened at the
// first line that must be recorded (an existing file only: never created here) and appended to
// with one write per line; the owner closes it when the chunk is done, so a file deleted or
// renamed between chunks is found missing at the next one, and nothing is held open while the
// program waits. A write that fails, or writes only part of the line, cuts the file back to
// where the line began and closes it.
class RecordingWriter {
  public:
    RecordingWriter() = default;
    ~RecordingWriter() { Close(); }
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Appends the line's bytes and CR LF to `fileName`, opening it first when another file (or
    // none) is open. False on any failure; the file is closed then.
    bool Append(const std::string& fileName, std::string_view line);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

  private:
    bool Open(const std::string& fileName);
    // Removes the `written` bytes a failed write left at the end of the file.
    void CutBack(std::int64_t written);

    int fd_ = -1;
    std::string openName_;
    std::string record_;  // the line with its CR LF, written in one call
};

// Appends one line to the file on its own: open, write, close (the file is released in every
// case; a failed append leaves no partial line behind).
bool AppendRecordLine(const std::string& fileName, std::string_view line);

// True when a file (or anything else) of that name exists.
bool RecordingFileExists(const std::string& fileName);

// Creates the file empty (create or truncate for writing, then close). False on failure.
bool CreateEmptyFile(const std::string& fileName);
