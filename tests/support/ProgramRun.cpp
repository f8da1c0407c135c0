#include "ProgramRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDate>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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

// A POSIX zone whose local time is now 12:00: the offset from UTC is (12:00 - UTC now), within
// half a day either way, written with the sign the other way round as POSIX zones have it.
std::string MiddayZone() {
    const long secondsToday = static_cast<long>(std::time(nullptr) % 86400);
    const long east = 12 * 3600 - secondsToday;
    const long west = east < 0 ? -east : east;
    char zone[32];
    std::snprintf(zone, sizeof zone, "WAG%c%ld:%02ld:%02ld", east >= 0 ? '-' : '+', west / 3600,
                  west / 60 % 60, west % 60);
    return zone;
}

}  // namespace

ScopedMiddayZone::ScopedMiddayZone() : env_(std::make_unique<ScopedEnv>("TZ", MiddayZone())) {
    ::tzset();
}

ScopedMiddayZone::~ScopedMiddayZone() {
    env_.reset();
    ::tzset();
}

namespace {

// Owned by the user and closed to others, as a runtime directory must be.
const std::string& PrivateDir(const TempDir& dir, uid_t owner) {
    if (::chown(dir.Path().c_str(), owner, owner) != 0 || ::chmod(dir.Path().c_str(), 0700) != 0) {
        // Left as made; the program then falls back to its temp-directory lock.
    }
    return dir.Path();
}

// LSAN_OPTIONS with the file named by its suppressions option replaced by `copy` (the file is
// copied there); unchanged when it names none.
std::string WithSuppressionsCopiedTo(const std::string& options, const std::string& copy) {
    const std::string key = "suppressions=";
    std::size_t at = 0;
    while ((at = options.find(key, at)) != std::string::npos) {
        if (at == 0 || options[at - 1] == ':' ||
            std::isspace(static_cast<unsigned char>(options[at - 1])))
            break;
        at += key.size();
    }
    if (at == std::string::npos) return options;
    std::size_t begin = at + key.size();
    std::size_t end = begin;
    std::string path;
    if (begin < options.size() && (options[begin] == '\'' || options[begin] == '"')) {
        end = options.find(options[begin], begin + 1);
        if (end == std::string::npos) return options;
        path = options.substr(begin + 1, end - begin - 1);
        ++end;
    } else {
        end = options.find_first_of(": \t\n", begin);
        if (end == std::string::npos) end = options.size();
        path = options.substr(begin, end - begin);
    }
    std::error_code error;
    if (!std::filesystem::copy_file(path, copy, error) || ::chmod(copy.c_str(), 0644) != 0)
        return options;
    return options.substr(0, begin) + "'" + copy + "'" + options.substr(end);
}

// What the unprivileged user runs: a copy of the program in a folder every user may enter, since
// the build tree may lie under one closed to others (mktemp -d makes its folder 0700). The leak
// checker's suppressions file, when LSAN_OPTIONS names one, is copied beside it for the same
// reason. Made once per test process and removed at its exit.
class CopiesForOthers {
  public:
    CopiesForOthers() : program_(dir_.File("Project1")) {
        std::error_code error;
        std::filesystem::copy_file(BinPath("Project1"), program_, error);
        if (error || ::chmod(program_.c_str(), 0755) != 0) std::abort();
        if (const char* options = std::getenv("LSAN_OPTIONS"))
            lsanOptions_ = WithSuppressionsCopiedTo(options, dir_.File("lsan.supp"));
    }
    const std::string& Program() const { return program_; }
    const std::optional<std::string>& LsanOptions() const { return lsanOptions_; }

  private:
    TempDir dir_;
    std::string program_;
    std::optional<std::string> lsanOptions_;
};

const CopiesForOthers& Copies() {
    static const CopiesForOthers copies;
    return copies;
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

// The program names its day's file once, after the date at its start, so the file is looked for
// rather than named from the date now: a check made just after midnight still finds it.
std::string DayFileIn(const std::string& dir) {
    const QDate today = QDate::currentDate();
    std::string newest;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        const QDate date =
            QDate::fromString(QString::fromStdString(name), QStringLiteral("yyyyMMdd"));
        if (name.size() == 8 && date.isValid() && std::abs(date.daysTo(today)) <= 1 &&
            name > newest)
            newest = name;
    }
    return dir + "/" +
           (newest.empty() ? today.toString(QStringLiteral("yyyyMMdd")).toStdString() : newest);
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
    if (options.asNobody && Copies().LsanOptions()) {
        argv.push_back("LSAN_OPTIONS=" + *Copies().LsanOptions());
    }
    argv.insert(argv.end(), options.wrapper.begin(), options.wrapper.end());
    argv.push_back(options.asNobody ? Copies().Program() : BinPath("Project1"));
    return std::make_unique<ChildProcess>(argv, workingDir);
}

std::unique_ptr<ChildProcess> StartProgram(const Workplace& place, RunOptions options) {
    options.runtimeDir = place.RuntimeDir();
    return StartProgram(place.Dir(), options);
}

int RunAndClose(const Workplace& place, int signal, const RunOptions& options) {
    // The day's file shows that start-up is over (and the signal handlers are in place), so one
    // left by an earlier run must go first.
    while (std::filesystem::remove(place.DayFile())) {
    }
    auto program = StartProgram(place, options);
    if (!WaitUntil([&] { return std::filesystem::exists(place.DayFile()); })) return -1;
    program->Signal(signal);
    return program->Wait();
}

}  // namespace waga::test
