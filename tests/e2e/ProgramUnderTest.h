#pragma once
// The built program as a separate process, the way an operator starts it: in a working directory
// with a pseudo-terminal linked as COM2, its own runtime directory for the single-instance guard,
// offscreen or on an Xvfb display (XServer.h), as root or as the unprivileged user.

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "XServer.h"

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

using waga::test::XServer;
