#pragma once
// An Xvfb server on a free display for a test's lifetime, and xdotool queries on it: the built
// program's windows found by title and keys pressed in them, as an operator would.

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace waga::test {

class ChildProcess;

class XServer {
  public:
    XServer();
    virtual ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool Ready() const { return !display_.empty(); }
    // The server dies under its clients (SIGKILL), as a crashed display or an ended session's.
    void Kill();
    const std::string& Display() const { return display_; }

    // Ids of the shown windows titled exactly `title`; with `pid`, only those of that process.
    std::vector<std::string> Windows(const std::string& title, pid_t pid = 0) const;
    // Ids of the shown windows of process `pid`, whatever their titles.
    std::vector<std::string> WindowsOf(pid_t pid) const;
    // Waits until process `pid` shows a window titled `title`; returns its id or "".
    std::string WaitForWindow(const std::string& title, pid_t pid,
                              std::chrono::milliseconds timeout = std::chrono::seconds(15)) const;
    // A window's title (UTF-8), or "".
    std::string WindowTitle(const std::string& windowId) const;
    // The process a window belongs to, or -1.
    int WindowPid(const std::string& windowId) const;
    // Gives the window the keyboard focus and presses `key` (an xdotool key name).
    void PressKey(const std::string& windowId, const std::string& key) const;
    // Clicks the left button at (x, y) of the window's client area.
    void Click(const std::string& windowId, int x, int y) const;
    // The same with several keys, a moment apart (a menu opens between them).
    void PressKeys(const std::string& windowId, const std::vector<std::string>& keys) const;

    // Starts openbox on this display, as an operator's desktop has a window manager that frames
    // every window; true once it manages the screen.
    bool StartWindowManager();

    // Where a shown window is: its client area's corner on the screen, and the corner of the
    // frame the window manager put around it (the same point without one).
    struct Place {
        int clientX = -1, clientY = -1, frameX = -1, frameY = -1;
    };
    Place WindowPlace(const std::string& windowId) const;

  private:
    // Runs a tool on this display (10 s at most) and returns what it printed.
    std::string Run(const std::vector<std::string>& argv) const;

    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> windowManager_;
    std::string display_;
};

}  // namespace waga::test
