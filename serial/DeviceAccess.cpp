#include "DeviceAccess.h"

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

std::string UserName(uid_t uid) {
    const passwd* entry = ::getpwuid(uid);
    return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    const group* entry = ::getgrgid(gid);
    return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

bool ProcessInGroup(gid_t gid) {
    if (::getegid() == gid) return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// The account's groups as the group database lists them now.
bool AccountInGroup(gid_t gid) {
    const passwd* account = ::getpwuid(::getuid());
    if (account == nullptr) return false;
    if (account->pw_gid == gid) return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    return std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

}  // namespace

DeviceAccess ReadDeviceAccess(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
    DeviceAccess access;
    access.known = true;
    access.owner = UserName(st.st_uid);
    access.group = GroupName(st.st_gid);
    access.mode = st.st_mode & 07777;
    access.processInGroup = ProcessInGroup(st.st_gid);
    access.accountInGroup = access.processInGroup || AccountInGroup(st.st_gid);
    return access;
}

#else

DeviceAccess ReadDeviceAccess(const std::string&) { return {}; }

#endif
