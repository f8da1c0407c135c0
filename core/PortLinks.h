#pragma once
// The COMn links of the working directory: assigning a device to a port by making or replacing
// the link COMn, and finding a device's stable name under /dev/serial/by-id. Standard C++ only.

#include <string>

// Where the system keeps names of serial devices that stay the same when a USB adapter is
// plugged into another socket.
inline constexpr const char* kSerialByIdFolder = "/dev/serial/by-id";

enum class LinkOutcome {
    Made,      // there was nothing of that name; the link was made
    Replaced,  // a link of that name led elsewhere (or nowhere); it now leads to the target
    NotALink,  // a file or folder of that name is there; it was left alone
    Failed     // the system refused; systemError says why
};

struct LinkResult {
    LinkOutcome outcome = LinkOutcome::Failed;
    int systemError = 0;            // Failed: errno of the refused call
    bool existingIsFolder = false;  // NotALink: what stands there is a folder, not a file
    std::string previousTarget;     // Replaced: where the old link led
};

// Makes `linkPath` a symbolic link to `target`. Only a link (or nothing) is replaced. The new
// link is made under a temporary name beside it and renamed over the old one, so the name never
// goes missing in between.
LinkResult AssignPortLink(const std::string& linkPath, const std::string& target);

// The entry of `byIdFolder` (its full path) that leads to the same device as `device`; empty when
// there is none or the folder does not exist. The first by name when several do.
std::string StableDeviceName(const std::string& device,
                             const std::string& byIdFolder = kSerialByIdFolder);

// What a typed device path leads to (links followed): only a character device can be a serial
// port (whether it answers as a terminal shows when the port is opened).
enum class DevicePathCheck { CharacterDevice, Missing, NotACharacterDevice };
DevicePathCheck CheckDevicePath(const std::string& path);

// Whether ports are assigned by links. Not on Windows, where COM1..COM4 are the system's own
// names for its ports.
constexpr bool PortAssignmentOffered() {
#ifdef _WIN32
    return false;
#else
    return true;
#endif
}
