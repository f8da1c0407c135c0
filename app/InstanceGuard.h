#pragma once
// The single-instance guard. On Linux an exclusive flock on a lock file of the user's session;
// on Windows the named file mapping "ApplicationTestMap". Either lives as long as the handle,
// so a copy that crashed never blocks the next one.

#include <string>
#ifndef _WIN32
#include <sys/types.h>
#endif

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
#ifdef _WIN32
    bool Held() const { return mapping_ != nullptr; }
#else
    bool Held() const { return fd_ >= 0; }
#endif

    // Linux: $XDG_RUNTIME_DIR/ApplicationTestMap.lock, or the temporary directory with the user
    // id in the name when the session has no runtime directory. Windows: the mapping's name.
    static std::string LockPath();

  private:
#ifdef _WIN32
    void* mapping_ = nullptr;  // HANDLE of the named file mapping
#else
    int fd_ = -1;
#endif
};

#ifndef _WIN32
// The lock file's path from the runtime directory, the temporary directory and the user id (a
// null or relative directory counts as absent).
std::string InstanceLockPath(const char* runtimeDir, const char* tempDir, uid_t uid);
#endif
