#include "XServer.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "TestSupport.h"

namespace waga::test {

XServer::XServer() {
    // -displayfd: the server picks a free display and prints its number. -noreset: the server
    // does not reset when its last client (an xdotool run) leaves, so a program connecting at
    // that moment is never refused.
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24",
                                 "-nolisten", "tcp", "-noreset"},
        "/");
    WaitUntil([&] {
        const std::string out = server_->Stdout();
        const std::size_t end = out.find('\n');
        if (end == std::string::npos) return false;
        display_ = std::string(":").append(out, 0, end);
        return true;
    });
}

XServer::~XServer() {
    windowManager_.reset();
    server_->Signal(SIGTERM);
    server_->Wait(std::chrono::seconds(5));
}

// A killed server leaves its lock file and socket behind; they go with it.
void XServer::Kill() {
    windowManager_.reset();
    server_->Signal(SIGKILL);
    server_->Wait(std::chrono::seconds(5));
    const std::string number = display_.substr(1);
    std::remove(("/tmp/.X" + number + "-lock").c_str());
    std::remove(("/tmp/.X11-unix/X" + number).c_str());
}

std::string XServer::Run(const std::vector<std::string>& argv) const {
    // Window titles are UTF-8: a tool running in the C locale would not read "Błąd" as such.
    std::vector<std::string> withDisplay = {"/usr/bin/env", "DISPLAY=" + display_,
                                            "LC_ALL=C.UTF-8"};
    withDisplay.insert(withDisplay.end(), argv.begin(), argv.end());
    ChildProcess tool(withDisplay, "/");
    tool.Wait(std::chrono::seconds(10));
    return tool.Stdout();
}

// The title is compared here, as _NET_WM_NAME (UTF-8) gives it: xdotool's own --name matches
// WM_NAME, which Qt writes in the locale's encoding, so a program run with LANG=C would never
// match a Polish title. (xdotool's conditions are also "any", not "all", by default.)
std::vector<std::string> XServer::Windows(const std::string& title, pid_t pid) const {
    std::vector<std::string> argv = {"/usr/bin/xdotool", "search", "--onlyvisible"};
    if (pid > 0) {
        argv.insert(argv.end(), {"--pid", std::to_string(pid)});
    } else {
        argv.insert(argv.end(), {"--name", ""});  // every shown window
    }
    std::istringstream ids(Run(argv));
    std::vector<std::string> found;
    for (std::string id; ids >> id;) {
        if (Run({"/usr/bin/xdotool", "getwindowname", id}) == title + "\n") found.push_back(id);
    }
    return found;
}

std::vector<std::string> XServer::WindowsOf(pid_t pid) const {
    std::istringstream ids(
        Run({"/usr/bin/xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid)}));
    std::vector<std::string> found;
    for (std::string id; ids >> id;) found.push_back(id);
    return found;
}

std::string XServer::WaitForWindow(const std::string& title, pid_t pid,
                                   std::chrono::milliseconds timeout) const {
    std::string id;
    WaitUntil(
        [&] {
            const std::vector<std::string> found = Windows(title, pid);
            if (found.empty()) return false;
            id = found.front();
            return true;
        },
        timeout);
    return id;
}

int XServer::WindowPid(const std::string& windowId) const {
    const std::string out = Run({"/usr/bin/xdotool", "getwindowpid", windowId});
    return out.empty() ? -1 : std::atoi(out.c_str());
}

void XServer::PressKey(const std::string& windowId, const std::string& key) const {
    Run({"/usr/bin/xdotool", "windowfocus", "--sync", windowId});
    Run({"/usr/bin/xdotool", "key", "--clearmodifiers", key});
}

void XServer::Click(const std::string& windowId, int x, int y) const {
    Run({"/usr/bin/xdotool", "mousemove", "--sync", "--window", windowId, std::to_string(x),
         std::to_string(y), "click", "1"});
}

void XServer::PressKeys(const std::string& windowId, const std::vector<std::string>& keys) const {
    Run({"/usr/bin/xdotool", "windowfocus", "--sync", windowId});
    std::vector<std::string> argv = {"/usr/bin/xdotool", "key", "--clearmodifiers", "--delay",
                                     "400"};
    argv.insert(argv.end(), keys.begin(), keys.end());
    Run(argv);
}

bool XServer::StartWindowManager() {
    windowManager_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/env", "DISPLAY=" + display_, "/usr/bin/openbox"}, "/");
    return WaitUntil([&] {
        return Run({"/usr/bin/xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") !=
               std::string::npos;
    });
}

// xwininfo gives the client's corner on the screen ("Absolute") and within its parent, which
// under a window manager is the frame ("Relative").
XServer::Place XServer::WindowPlace(const std::string& windowId) const {
    std::istringstream info(Run({"/usr/bin/xwininfo", "-id", windowId}));
    int relativeX = 0, relativeY = 0;
    Place place;
    for (std::string line; std::getline(info, line);) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const int value = std::atoi(line.c_str() + colon + 1);
        if (line.find("Absolute upper-left X") != std::string::npos) place.clientX = value;
        if (line.find("Absolute upper-left Y") != std::string::npos) place.clientY = value;
        if (line.find("Relative upper-left X") != std::string::npos) relativeX = value;
        if (line.find("Relative upper-left Y") != std::string::npos) relativeY = value;
    }
    place.frameX = place.clientX - relativeX;
    place.frameY = place.clientY - relativeY;
    return place;
}

}  // namespace waga::test
