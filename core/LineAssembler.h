#pragma once
// Cuts the received byte stream into lines (the logic behind ComPortDriverReceiveData).
// A carriage return ends a line, a line feed is dropped, every other byte is line content.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "Win1250.h"

class LineAssembler {
  public:
    using LineSink = std::function<void(const Win1250Text& line)>;

    // Bytes pending without a carriage return are handed over as one line at this size,
    // so memory stays bounded and nothing is dropped.
    static constexpr std::size_t kMaxPendingLine = 1048576;

    explicit LineAssembler(LineSink sink);

    // Takes one chunk. The chunk is copied before any line is handed over, and each line is
    // taken out of PendingLine before the sink runs, so a sink that feeds further chunks while it
    // works neither loses nor doubles any byte; lines keep their order.
    void Receive(const char* data, std::int32_t size);

    // Empties PendingLine (after a successful reopen of the port).
    void ClearPendingLine();

    const std::string& PendingLine() const { return pending_; }

  private:
    // Works through input_ from next_ to its end; also entered by nested calls.
    void ConsumeInput();
    // End of the run of line content starting at next_: the first CR or LF, or where pending_
    // would reach kMaxPendingLine, or the end of input_.
    std::size_t ContentEnd() const;
    // Takes the line out of pending_, then hands it to the sink.
    void HandOverPendingLine();

    LineSink sink_;
    std::string pending_;
    std::string input_;     // received bytes not yet looked at
    std::size_t next_ = 0;  // position of the next byte of input_ to look at
};
