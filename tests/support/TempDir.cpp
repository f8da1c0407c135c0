#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "TestSupport.h"

namespace waga::test {

namespace {

bool WritableDir(const std::string& path) {
    struct stat info {};
    return !path.empty() && path.front() == '/' && ::stat(path.c_str(), &info) == 0 &&
           S_ISDIR(info.st_mode) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

// Every folder on the way, the last one included, may be entered by other users.
bool ReachableByOthers(std::filesystem::path path) {
    for (;; path = path.parent_path()) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || (info.st_mode & S_IXOTH) == 0) return false;
        if (path == path.root_path()) return true;
    }
}

std::string ChooseTempRoot() {
    std::vector<std::string> candidates;
    if (const char* tmpdir = std::getenv("TMPDIR")) candidates.emplace_back(tmpdir);
    candidates.insert(candidates.end(), {"/tmp", "/var/tmp", "/dev/shm"});
    std::string firstWritable;
    for (std::string& dir : candidates) {
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        if (!WritableDir(dir)) continue;
        if (ReachableByOthers(dir)) return dir;
        if (firstWritable.empty()) firstWritable = dir;
    }
    if (firstWritable.empty()) throw std::runtime_error("no writable temporary directory");
    return firstWritable;
}

}  // namespace

const std::string& TempRoot() {
    static const std::string root = ChooseTempRoot();
    return root;
}

TempDir::TempDir() {
    std::string pattern = TempRoot() + "/waga-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::File(std::string_view name) const { return path_ + "/" + std::string(name); }

ScopedWorkingDir::ScopedWorkingDir(const std::string& dir)
    : previous_(std::filesystem::current_path().string()) {
    std::filesystem::current_path(dir);
}

ScopedWorkingDir::~ScopedWorkingDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
}

}  // namespace waga::test
