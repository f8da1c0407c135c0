#pragma once
// Who may open a device: its owner, group and mode, and whether this account is in that group,
// for telling the operator the truth when an open is refused for want of permission.

#include <string>

struct DeviceAccess {
    bool known = false;  // false when the device could not be looked at (or on Windows)
    std::string owner;   // user name, or the number when it has none
    std::string group;   // group name, or the number when it has none
    unsigned mode = 0;   // permission bits, e.g. 0660
    // The group is among this process's groups (the account was in it when the session began).
    bool processInGroup = false;
    // The account is listed in the group now (it may have been added since the session began).
    bool accountInGroup = false;
};

// Looks at the device `path` leads to (links followed).
DeviceAccess ReadDeviceAccess(const std::string& path);
