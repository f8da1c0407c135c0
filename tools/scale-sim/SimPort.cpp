#include "SimPort.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

SimPort::~SimPort() { Destroy(); }

bool SimPort::Create(const std::string& linkPath, std::string& error) {
    if (!pty_.Open(error)) return false;
    struct stat st {};
    ::fstat(pty_.SlaveFd(), &st);
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
    if (::symlink(pty_.SlavePath().c_str(), linkPath.c_str()) != 0) {
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
        if (n > 0 && pty_.SlavePath() == std::string(target, static_cast<std::size_t>(n))) {
            ::unlink(linkPath_.c_str());
        }
        linkPath_.clear();
    }
    pty_.Close();
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

int SimPort::QueuedForReader() const { return std::max(pty_.QueuedForReader(), 0); }
