#pragma once
// Running the built program as a separate process: its environment (own guard directory, a
// display), an X server for the tests that must see its boxes, and small X queries.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TestSupport.h"

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

// A directory of the program's own for its single-instance guard (XDG_RUNTIME_DIR), so that
// copies started by other tests at the same time cannot meet this test's copies. `owner` is the
// user id that runs the program.
class GuardDir {
  public:
    explicit GuardDir(uid_t owner = 0);

  private:
    waga::test::TempDir dir_;
    ScopedEnv env_;
};

// An Xvfb server on a free display, with DISPLAY and the xcb platform set for the children.
class XServer {
  public:
    XServer();
    ~XServer();
    bool Ready() const { return !display_.empty(); }
    const std::string& Display() const { return display_; }

  private:
    std::unique_ptr<waga::test::ChildProcess> server_;
    std::string display_;
    std::unique_ptr<ScopedEnv> displayEnv_;
    std::unique_ptr<ScopedEnv> platformEnv_;
};

// Runs a program to its end (10 s at most) and returns what it printed.
std::string Output(const std::vector<std::string>& argv);

// Shown X windows whose title is exactly `title`, as decimal ids.
std::vector<std::string> WindowsTitled(const std::string& title);
// Gives a window the keyboard focus and presses a key there (xdotool key names, e.g. "Return").
void PressKeyIn(const std::string& windowId, const std::string& key);
// The process id a window belongs to (_NET_WM_PID), or -1.
int WindowPid(const std::string& windowId);
