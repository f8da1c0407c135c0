#include "ProgramRun.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

using waga::test::ChildProcess;

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

XServer::XServer() {
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp", "-noreset"},
        "/");
    std::string number;
    waga::test::WaitUntil([&] {
        const std::string out = server_->Stdout();
        if (out.find('\n') == std::string::npos) return false;
        number = out.substr(0, out.find('\n'));
        return true;
    });
    if (number.empty()) return;
    display_ = ":" + number;
    displayEnv_ = std::make_unique<ScopedEnv>("DISPLAY", display_);
    platformEnv_ = std::make_unique<ScopedEnv>("QT_QPA_PLATFORM", "xcb");
}

XServer::~XServer() {
    platformEnv_.reset();
    displayEnv_.reset();
    if (server_) {
        server_->Signal(SIGTERM);
        server_->Wait(std::chrono::seconds(5));
    }
}

std::string Output(const std::vector<std::string>& argv) {
    ChildProcess child(argv, "/");
    child.Wait(std::chrono::seconds(10));
    return child.Stdout();
}

std::vector<std::string> WindowsTitled(const std::string& title) {
    std::istringstream ids(
        Output({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "^" + title + "$"}));
    std::vector<std::string> found;
    for (std::string id; ids >> id;) found.push_back(id);
    return found;
}

int WindowPid(const std::string& windowId) {
    const std::string out = Output({"/usr/bin/xdotool", "getwindowpid", windowId});
    return out.empty() ? -1 : std::atoi(out.c_str());
}

void PressKeyIn(const std::string& windowId, const std::string& key) {
    Output({"/usr/bin/xdotool", "windowfocus", "--sync", windowId});
    Output({"/usr/bin/xdotool", "key", "--clearmodifiers", key});
}
