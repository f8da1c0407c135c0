#include "SimPort.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

SimPort::~SimPort() { Destroy(); }

bool SimPort::Create(const std::string& linkPath, std::string& error) {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = name;
    termios raw{};
    ::tcgetattr(slave_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    struct stat st {};
    ::fstat(slave_, &st);
    slaveDev_ = st.st_dev;
    slaveIno_ = st.st_ino;

    struct stat existing {};
    if (::lstat(linkPath.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            error = linkPath + " exists and is not a link";
            return false;
        }
        ::unlink(linkPath.c_str());
    }
    if (::symlink(slavePath_.c_str(), linkPath.c_str()) != 0) {
        error = "symlink " + linkPath + ": " + std::strerror(errno);
        return false;
    }
    linkPath_ = linkPath;
    return true;
}

void SimPort::Destroy() {
    if (!linkPath_.empty()) {
        char target[256] = {};
        const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0 && slavePath_ == std::string(target, static_cast<std::size_t>(n))) {
            ::unlink(linkPath_.c_str());
        }
        linkPath_.clear();
    }
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
}

// A program that opened the port holds flock(LOCK_EX) on the device; /proc/locks lists it
// as "<n>: FLOCK ADVISORY WRITE <pid> <major>:<minor>:<inode> 0 EOF".
bool SimPort::HeldByReader() const {
    std::ifstream locks("/proc/locks");
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%lu", major(slaveDev_), minor(slaveDev_),
                  static_cast<unsigned long>(slaveIno_));
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string field;
        bool flock = false;
        while (fields >> field) {
            if (field == "FLOCK") flock = true;
            if (flock && field == wanted) return true;
        }
    }
    return false;
}

int SimPort::QueuedForReader() const {
    int queued = 0;
    return ::ioctl(slave_, FIONREAD, &queued) == 0 ? queued : 0;
}
