#pragma once
// The built program as a separate process, the way an operator starts it: in a working directory
// (with a pseudo-terminal linked as COM2), with its own runtime directory for the single-instance
// guard, offscreen or on an Xvfb display (XServer.h), as root or as the unprivileged user.

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

#include "TestSupport.h"
#include "XServer.h"

namespace waga::test {

// The main window's title, as the window manager and xdotool see it.
inline const std::string kMainTitle = "Program do komunikacji z wagą.";

// Sets an environment variable for the helper's lifetime (children inherit it).
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Sets TZ, for the helper's lifetime, to a zone where it is now about noon. A test that has to know
// the day's file name before the program picks it (the program names the file after the date at
// its start) then cannot be caught by midnight. Children inherit the zone.
class ScopedMiddayZone {
  public:
    ScopedMiddayZone();
    ~ScopedMiddayZone();
    ScopedMiddayZone(const ScopedMiddayZone&) = delete;
    ScopedMiddayZone& operator=(const ScopedMiddayZone&) = delete;

  private:
    std::unique_ptr<ScopedEnv> env_;
};

// A directory of the program's own for its single-instance guard (XDG_RUNTIME_DIR, set for the
// helper's lifetime), so that copies started by other tests at the same time cannot meet this
// test's copies. `owner` is the user id that runs the program.
class GuardDir {
  public:
    explicit GuardDir(uid_t owner = 0);
    const std::string& Path() const { return dir_.Path(); }

  private:
    TempDir dir_;
    ScopedEnv env_;
};

// A working directory with a pseudo-terminal linked as COM2 (the directory is the PtyLink's own)
// and a runtime directory for the guard.
class Workplace {
  public:
    // `owner`: the user the program runs as; the directory, the terminal and the runtime
    // directory are handed to that user.
    explicit Workplace(uid_t owner = 0);

    const std::string& Dir() const { return pty_.Dir(); }
    std::string File(const std::string& name) const { return Dir() + "/" + name; }
    PtyLink& Pty() { return pty_; }
    const std::string& RuntimeDir() const { return runtime_.Path(); }
    // The day's recording file (see DayFileIn).
    std::string DayFile() const;
    void Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;

  private:
    PtyLink pty_;
    TempDir runtime_;
};

struct RunOptions {
    std::string display{};  // empty: offscreen
    bool asNobody = false;
    std::string runtimeDir{};  // XDG_RUNTIME_DIR; empty: the test's own (see GuardDir)
    // A command the program runs under (strace ...), given the program's command line last.
    std::vector<std::string> wrapper{};
};

// The day's recording file in `dir`: the newest file named after a date (yyyyMMdd) within a day of
// today, so that one made just before midnight is still found; today's name when there is none.
std::string DayFileIn(const std::string& dir);

// Starts build/bin/Project1 in `workingDir`.
std::unique_ptr<ChildProcess> StartProgram(const std::string& workingDir,
                                           const RunOptions& options = {});
// Starts it in the workplace, with the workplace's runtime directory.
std::unique_ptr<ChildProcess> StartProgram(const Workplace& place, RunOptions options = {});

// Runs the program until its start-up is over (the day's recording file, removed first if an
// earlier run left it, exists again), then sends `signal` and returns the exit status (-1: it
// never started or did not end).
int RunAndClose(const Workplace& place, int signal, const RunOptions& options = {});

}  // namespace waga::test
