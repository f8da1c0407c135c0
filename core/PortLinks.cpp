#include "PortLinks.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

LinkResult Failure(const std::error_code& error) {
    return {LinkOutcome::Failed, error.value(), false, {}};
}

// Makes a link to `target` under a name not taken yet beside `linkPath` (".COM2.new0", ...);
// returns that name, or empty with `error` set.
std::string MakeTemporaryLink(const fs::path& linkPath, const std::string& target,
                              std::error_code& error) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path name = linkPath.parent_path() / ".";
        name += linkPath.filename();
        name += ".new" + std::to_string(attempt);
        fs::create_symlink(target, name, error);
        if (!error) return name.string();
        if (error != std::errc::file_exists) return {};
    }
    return {};
}

}  // namespace

LinkResult AssignPortLink(const std::string& linkPath, const std::string& target) {
    std::error_code error;
    const fs::file_status existing = fs::symlink_status(linkPath, error);
    if (error && existing.type() != fs::file_type::not_found) return Failure(error);
    const bool replacing = fs::is_symlink(existing);
    if (fs::exists(existing) && !replacing) {
        return {LinkOutcome::NotALink, 0, fs::is_directory(existing), {}};
    }
    LinkResult result{replacing ? LinkOutcome::Replaced : LinkOutcome::Made, 0, false, {}};
    if (replacing) result.previousTarget = fs::read_symlink(linkPath, error).string();

    const std::string temporary = MakeTemporaryLink(linkPath, target, error);
    if (temporary.empty()) return Failure(error);
    fs::rename(temporary, linkPath, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return Failure(error);
    }
    return result;
}

// Devices are compared by their paths with every link resolved (std::filesystem::equivalent does
// not compare character devices).
std::string StableDeviceName(const std::string& device, const std::string& byIdFolder) {
    std::error_code error;
    const fs::path wanted = fs::canonical(device, error);
    if (error) return {};
    fs::directory_iterator entries(byIdFolder, error);
    if (error) return {};
    std::vector<std::string> matches;
    for (const fs::directory_entry& entry : entries) {
        std::error_code unresolved;
        const fs::path resolved = fs::canonical(entry.path(), unresolved);
        if (!unresolved && resolved == wanted) matches.push_back(entry.path().string());
    }
    if (matches.empty()) return {};
    return *std::min_element(matches.begin(), matches.end());
}

DevicePathCheck CheckDevicePath(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (path.empty() || error || !std::filesystem::exists(status)) return DevicePathCheck::Missing;
    return status.type() == std::filesystem::file_type::character
               ? DevicePathCheck::CharacterDevice
               : DevicePathCheck::NotACharacterDevice;
}
