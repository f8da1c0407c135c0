#include "ProgramRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>


ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (previous_) {
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

namespace {
// Owned by the user and closed to others, as a runtime directory must be.
const std::string& PrivateDir(const waga::test::TempDir& dir, uid_t owner) {
    if (::chown(dir.Path().c_str(), owner, owner) != 0 || ::chmod(dir.Path().c_str(), 0700) != 0) {
        // Left as made; the program then falls back to its temp-directory lock.
    }
    return dir.Path();
}
}  // namespace

GuardDir::GuardDir(uid_t owner) : env_("XDG_RUNTIME_DIR", PrivateDir(dir_, owner)) {}

ChildDisplay::ChildDisplay() {
    if (!Ready()) return;
    displayEnv_ = std::make_unique<ScopedEnv>("DISPLAY", Display());
    platformEnv_ = std::make_unique<ScopedEnv>("QT_QPA_PLATFORM", "xcb");
}
