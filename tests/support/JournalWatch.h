#pragma once
// The journal as tests and benchmarks watch it from outside: the seqs its sink hands out (a
// follower of the sink, as the weight service's sink is one) and the rows its writer committed
// (WriterOptions::afterCommit, on the writer's thread). Header only: include it with the
// journal's headers on the path.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "JournalRows.h"
#include "JournalWriter.h"

namespace waga::test {

// The seq of the row the last line went into (0 before the first line).
class SeqTap final : public INumberedLineSink {
  public:
    void OnNumberedLine(const LineEvent& /*event*/, std::int64_t seq, bool /*grew*/) override {
        last = seq;
    }
    void OnNumberedPortState(const PortStateEvent& /*event*/, std::int64_t /*seq*/) override {}
    std::int64_t last = 0;
};

// The writer's commits. Hook() before the writer is made; the watch must outlive the writer.
class CommitWatch {
  public:
    // Sets `options.afterCommit`, calling the one already set first.
    void Hook(waga::journal::WriterOptions& options) {
        options.afterCommit = [this, chained = options.afterCommit](std::int64_t highest) {
            if (chained) chained(highest);
            {
                std::lock_guard lock(mutex_);
                highest_ = std::max(highest_, highest);
                ++commits_;
            }
            changed_.notify_all();
        };
    }
    // Waits until rows up to `seq` are committed; false when `timeout` passed first.
    bool WaitFor(std::int64_t seq, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return highest_ >= seq; });
    }
    // Waits until the writer has committed `count` times in all.
    bool WaitForCommits(int count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return commits_ >= count; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::int64_t highest_ = 0;
    int commits_ = 0;
};

}  // namespace waga::test
