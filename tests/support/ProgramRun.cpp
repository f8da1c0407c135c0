#include "ProgramRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDate>
#include <cstdlib>
#include <filesystem>

namespace waga::test {

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
const std::string& PrivateDir(const TempDir& dir, uid_t owner) {
    if (::chown(dir.Path().c_str(), owner, owner) != 0 || ::chmod(dir.Path().c_str(), 0700) != 0) {
        // Left as made; the program then falls back to its temp-directory lock.
    }
    return dir.Path();
}

}  // namespace

GuardDir::GuardDir(uid_t owner) : env_("XDG_RUNTIME_DIR", PrivateDir(dir_, owner)) {}

Workplace::Workplace(uid_t owner) {
    ::chmod(runtime_.Path().c_str(), 0700);
    if (owner != 0) {
        const bool handedOver = ::chown(Dir().c_str(), owner, owner) == 0 &&
                                ::chown(runtime_.Path().c_str(), owner, owner) == 0 &&
                                ::chmod(pty_.SlavePath().c_str(), 0666) == 0;
        if (!handedOver) std::abort();  // the test could only fail in confusing ways
    }
}

std::string DayFileIn(const std::string& dir) {
    return dir + "/" + QDate::currentDate().toString("yyyyMMdd").toStdString();
}

std::string Workplace::DayFile() const { return DayFileIn(Dir()); }

void Workplace::Write(const std::string& name, const std::string& bytes) const {
    WriteFile(File(name), bytes);
}

std::string Workplace::Read(const std::string& name) const { return ReadFile(File(name)); }

std::unique_ptr<ChildProcess> StartProgram(const std::string& workingDir,
                                           const RunOptions& options) {
    std::vector<std::string> argv;
    if (options.asNobody) {
        const std::string id = std::to_string(kNobodyId);
        argv = {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"};
    }
    argv.insert(argv.end(), {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"});
    if (!options.runtimeDir.empty()) argv.push_back("XDG_RUNTIME_DIR=" + options.runtimeDir);
    if (options.display.empty()) {
        argv.push_back("QT_QPA_PLATFORM=offscreen");
    } else {
        argv.push_back("QT_QPA_PLATFORM=xcb");
        argv.push_back("DISPLAY=" + options.display);
    }
    argv.push_back(BinPath("Project1"));
    return std::make_unique<ChildProcess>(argv, workingDir);
}

std::unique_ptr<ChildProcess> StartProgram(const Workplace& place, RunOptions options) {
    options.runtimeDir = place.RuntimeDir();
    return StartProgram(place.Dir(), options);
}

int RunAndClose(const Workplace& place, int signal, const RunOptions& options) {
    // The day's file shows that start-up is over (and the signal handlers are in place), so one
    // left by an earlier run must go first.
    const std::string dayFile = place.DayFile();
    std::filesystem::remove(dayFile);
    auto program = StartProgram(place, options);
    if (!WaitUntil([&] { return std::filesystem::exists(dayFile); })) return -1;
    program->Signal(signal);
    return program->Wait();
}

}  // namespace waga::test
