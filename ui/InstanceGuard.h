#pragma once
// The single-instance guard: an exclusive flock on a lock file of the user's session. The lock
// lives as long as the descriptor, so a copy that crashed never blocks the next one.

#include <sys/types.h>

#include <string>

class InstanceGuard {
  public:
    enum class Result {
        Acquired,        // this is the first copy
        AlreadyRunning,  // another copy holds the lock
        Unavailable      // the lock file could not be opened or locked: run as a first copy
    };

    InstanceGuard() = default;
    ~InstanceGuard() { Release(); }
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // Takes the lock on `path` (default: LockPath()) without waiting.
    Result Acquire();
    Result Acquire(const std::string& path);
    // Gives the lock up; harmless when nothing is held.
    void Release();
    bool Held() const { return fd_ >= 0; }

    // $XDG_RUNTIME_DIR/ApplicationTestMap.lock, or the temporary directory with the user id in
    // the name when the session has no runtime directory.
    static std::string LockPath();

  private:
    int fd_ = -1;
};

// The lock file's path from the runtime directory, the temporary directory and the user id (a
// null or relative directory counts as absent).
std::string InstanceLockPath(const char* runtimeDir, const char* tempDir, uid_t uid);
