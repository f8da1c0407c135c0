#pragma once
// The journal's check at start: SQLite's quick_check over the whole file, on a thread and a
// read-only connection of its own, so that the first line is stored meanwhile as usual. A file
// damaged in the middle (pages overwritten, say) would otherwise go unnoticed until a read of
// those rows failed, an export perhaps much later.

#include <QString>
#include <functional>
#include <mutex>
#include <thread>

struct sqlite3;

namespace waga::journal {

class StartCheck {
  public:
    // Checks the journal at `path` at once. `damaged` is called on the check's thread, once,
    // with what SQLite found (its first few findings), when the file is damaged; not when it is
    // sound, cannot be opened (the writer tells that) or the check was stopped.
    StartCheck(QString path, std::function<void(const QString& found)> damaged);
    // Stops a check still running (SQLite's interrupt) and waits for its thread.
    ~StartCheck();
    StartCheck(const StartCheck&) = delete;
    StartCheck& operator=(const StartCheck&) = delete;

  private:
    void Run(const QString& path, const std::function<void(const QString&)>& damaged);

    std::mutex mutex_;
    sqlite3* running_ = nullptr;  // the check's connection while it runs
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace waga::journal
