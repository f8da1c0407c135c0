#pragma once
// The built program as a separate process, the way an operator starts it: in a working directory
// with a pseudo-terminal linked as COM2, its own runtime directory for the single-instance guard,
// offscreen or on an Xvfb display, as root or as the unprivileged user. An X server helper finds
// the program's windows by title and presses keys in them with xdotool.

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"

// A working directory with a pseudo-terminal linked as COM2 (the directory is the PtyLink's own).
class Workplace {
  public:
    // `owner`: the user the program runs as; the directory, the terminal and the runtime
    // directory are handed to that user.
    explicit Workplace(uid_t owner = 0);

    const std::string& Dir() const { return pty_.Dir(); }
    std::string File(const std::string& name) const { return Dir() + "/" + name; }
    waga::test::PtyLink& Pty() { return pty_; }
    const std::string& RuntimeDir() const { return runtime_.Path(); }
    // The recording file named after today's local date.
    std::string DayFile() const;
    void Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;

  private:
    waga::test::PtyLink pty_;
    waga::test::TempDir runtime_;
};

struct RunOptions {
    std::string display;  // empty: offscreen
    bool asNobody = false;
};

// Starts build/bin/Project1 in the workplace.
std::unique_ptr<waga::test::ChildProcess> StartProgram(const Workplace& place,
                                                       const RunOptions& options = {});

// Runs the program until its start-up is over (the day's recording file, removed first if an
// earlier run left it, exists again), then sends
// `signal` and returns the exit status (-1: it never started or did not end).
int RunAndClose(const Workplace& place, int signal, const RunOptions& options = {});

// An Xvfb server on a free display for the test's lifetime.
class XServer {
  public:
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool Ready() const { return !display_.empty(); }
    const std::string& Display() const { return display_; }

    // Ids of the shown windows titled exactly `title` that belong to process `pid`.
    std::vector<std::string> Windows(const std::string& title, pid_t pid) const;
    // Waits until process `pid` shows a window titled `title`; returns its id or "".
    std::string WaitForWindow(const std::string& title, pid_t pid,
                              std::chrono::milliseconds timeout = std::chrono::seconds(15)) const;
    // Gives the window the keyboard focus and presses `key` (an xdotool key name).
    void PressKey(const std::string& windowId, const std::string& key) const;

  private:
    std::string Run(const std::vector<std::string>& argv) const;

    std::unique_ptr<waga::test::ChildProcess> server_;
    std::string display_;
};
