// The single-instance guard: where its lock file lives, and the lock itself.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "InstanceGuard.h"
#include "TestSupport.h"

namespace {

struct PathRow {
    const char* runtimeDir;
    const char* tempDir;
    uid_t uid;
    const char* expected;
};

TEST(InstanceLockPath, RuntimeDirectoryFirstThenTheTemporaryDirectoryWithTheUser) {
    const PathRow rows[] = {
        {"/run/user/1000", "/var/tmp", 1000, "/run/user/1000/ApplicationTestMap.lock"},
        {"/run/user/1000/", nullptr, 1000, "/run/user/1000/ApplicationTestMap.lock"},
        {nullptr, "/var/tmp", 1000, "/var/tmp/ApplicationTestMap-1000.lock"},
        {"", "/var/tmp/", 0, "/var/tmp/ApplicationTestMap-0.lock"},
        {"run/user", nullptr, 42, "/tmp/ApplicationTestMap-42.lock"},  // relative: not used
        {nullptr, "tmp", 7, "/tmp/ApplicationTestMap-7.lock"},
        {"/", nullptr, 0, "/ApplicationTestMap.lock"},
    };
    for (const PathRow& row : rows) {
        SCOPED_TRACE(row.expected);
        EXPECT_EQ(InstanceLockPath(row.runtimeDir, row.tempDir, row.uid), row.expected);
    }
}

TEST(InstanceGuard, OneHolderAtATime) {
    waga::test::TempDir dir;
    const std::string path = dir.File("ApplicationTestMap.lock");
    InstanceGuard first;
    InstanceGuard second;

    EXPECT_EQ(first.Acquire(path), InstanceGuard::Result::Acquired);
    EXPECT_EQ(second.Acquire(path), InstanceGuard::Result::AlreadyRunning);
    EXPECT_FALSE(second.Held());
    first.Release();
    EXPECT_EQ(second.Acquire(path), InstanceGuard::Result::Acquired);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// A copy that ended without releasing (crash, kill) leaves no lock behind.
TEST(InstanceGuard, AnEndedHolderNeverBlocksTheNext) {
    waga::test::TempDir dir;
    const std::string path = dir.File("ApplicationTestMap.lock");
    const int child = waga::test::RunInChild([&] {
        InstanceGuard* leaked = new InstanceGuard;  // never released: the process just ends
        return leaked->Acquire(path) == InstanceGuard::Result::Acquired ? 0 : 1;
    });
    ASSERT_EQ(child, 0);
    InstanceGuard next;
    EXPECT_EQ(next.Acquire(path), InstanceGuard::Result::Acquired);
}

TEST(InstanceGuard, UnusableLockFileCountsAsFirstCopy) {
    waga::test::TempDir dir;
    const std::string planted = dir.File("ApplicationTestMap.lock");
    std::filesystem::create_symlink(dir.File("elsewhere"), planted);
    InstanceGuard guard;

    EXPECT_EQ(guard.Acquire(planted), InstanceGuard::Result::Unavailable);  // link not followed
    EXPECT_FALSE(std::filesystem::exists(dir.File("elsewhere")));
    EXPECT_EQ(guard.Acquire(dir.File("missing/ApplicationTestMap.lock")),
              InstanceGuard::Result::Unavailable);
    EXPECT_FALSE(guard.Held());
}

}  // namespace
