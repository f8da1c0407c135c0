#pragma once
// File operations of the recording file.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The recording file, held open while one received chunk is worked through. It is opened at the
// first line that must be recorded (an existing file only: never created here), so a file that
// is missing or refused fails at that line. The chunk's lines are then collected and go to the
// file in one write when the owner flushes at the chunk's end: the same bytes as a write a line,
// at a system call a chunk. The owner closes the file after the flush, so a file deleted or
// renamed between chunks is found missing at the next one, and nothing is held open while the
// program waits. A write that fails, or writes only part of the lines, cuts the file back to the
// end of the last whole line it took: the file then holds what a write a line would have left.
class RecordingWriter {
  public:
    RecordingWriter() = default;
    ~RecordingWriter();  // flushes, then closes the file
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Takes the line's bytes and CR LF for `fileName`, opening it first when another file (or
    // none) is open; the lines held for another file are flushed first. False when the file
    // cannot be opened or that flush fails; the file is closed then.
    bool Append(const std::string& fileName, std::string_view line);
    // Writes the lines taken since the last flush. False on any failure: the file is cut back to
    // its last whole line and closed, and the lines not written are dropped.
    bool Flush();
    // Flushes (a failure there goes unreported: flush first to know), then closes.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    bool Holds() const { return !pending_.empty(); }

  private:
    bool Open(const std::string& fileName);
    void Release();  // closes the file without writing
    // Removes the `extra` bytes a failed write left after the last whole line.
    void CutBack(std::int64_t extra);

    int fd_ = -1;
    std::string openName_;
    std::string pending_;            // the lines taken, each with its CR LF
    std::vector<std::size_t> ends_;  // where each of them ends in pending_
};

// Appends one line to the file on its own: open, write, close (the file is released in every
// case; a failed append leaves no partial line behind).
bool AppendRecordLine(const std::string& fileName, std::string_view line);

// True when a file (or anything else) of that name exists.
bool RecordingFileExists(const std::string& fileName);

// Creates the file empty (create or truncate for writing, then close). False on failure.
bool CreateEmptyFile(const std::string& fileName);
