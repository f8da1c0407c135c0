#include "LineAssembler.h"

#include <utility>

namespace {
bool IsLineEndByte(char byte) { return byte == '\r' || byte == '\n'; }
}  // namespace

LineAssembler::LineAssembler(LineSink sink) : sink_(std::move(sink)) {}

void LineAssembler::ClearPendingLine() { pending_.clear(); }

void LineAssembler::Receive(const char* data, std::int32_t size) {
    if (data == nullptr || size <= 0) return;
    // The caller's buffer may be reused by a nested call, so the chunk is copied first. A
    // nested call (from inside the sink) only adds its bytes behind ours and goes on consuming
    // from next_, which keeps every line in arrival order.
    input_.append(data, static_cast<std::size_t>(size));
    ConsumeInput();
}

void LineAssembler::ConsumeInput() {
    while (next_ < input_.size()) {
        // A full pending line is handed over when one more content byte arrives, so a line of
        // exactly the bound followed by its carriage return stays one line.
        if (pending_.size() >= kMaxPendingLine && !IsLineEndByte(input_[next_])) {
            HandOverPendingLine();
            continue;
        }
        const std::size_t end = ContentEnd();
        pending_.append(input_, next_, end - next_);
        next_ = end;
        if (next_ < input_.size() && IsLineEndByte(input_[next_])) {
            const char byte = input_[next_++];
            if (byte == '\r') HandOverPendingLine();
        }
    }
    // Everything looked at (also by any nested call): start the queue afresh.
    input_.clear();
    next_ = 0;
}

std::size_t LineAssembler::ContentEnd() const {
    const std::size_t room = kMaxPendingLine - pending_.size();
    const std::size_t limit = input_.size() - next_ < room ? input_.size() : next_ + room;
    std::size_t pos = next_;
    while (pos < limit && input_[pos] != '\r' && input_[pos] != '\n') ++pos;
    return pos;
}

void LineAssembler::HandOverPendingLine() {
    // The line leaves pending_ before the sink runs: a nested call starts a fresh line.
    const Win1250Text line(pending_);
    pending_.clear();
    sink_(line);
}
