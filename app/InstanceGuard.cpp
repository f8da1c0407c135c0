#include "InstanceGuard.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace {

bool UsableDir(const char* dir) { return dir != nullptr && dir[0] == '/'; }

std::string Join(std::string dir, const std::string& name) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir != "/") dir += '/';
    return dir + name;
}

}  // namespace

std::string InstanceLockPath(const char* runtimeDir, const char* tempDir, uid_t uid) {
    if (UsableDir(runtimeDir)) return Join(runtimeDir, "ApplicationTestMap.lock");
    const std::string name = "ApplicationTestMap-" + std::to_string(uid) + ".lock";
    return Join(UsableDir(tempDir) ? tempDir : "/tmp", name);
}

std::string InstanceGuard::LockPath() {
    return InstanceLockPath(std::getenv("XDG_RUNTIME_DIR"), std::getenv("TMPDIR"), ::getuid());
}

InstanceGuard::Result InstanceGuard::Acquire() { return Acquire(LockPath()); }

// O_NOFOLLOW: in a shared temporary directory a planted link must not redirect the lock file.
InstanceGuard::Result InstanceGuard::Acquire(const std::string& path) {
    Release();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Result::Unavailable;
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked == 0) {
        fd_ = fd;
        return Result::Acquired;
    }
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? Result::AlreadyRunning : Result::Unavailable;
}

void InstanceGuard::Release() {
    if (fd_ < 0) return;
    ::close(fd_);  // closing the only descriptor drops the lock
    fd_ = -1;
}
