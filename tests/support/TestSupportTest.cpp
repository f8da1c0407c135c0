#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "TestSupport.h"

using namespace waga::test;

TEST(PtyLinkTest, LinkLeadsToRawSlaveAndEverythingIsRemoved) {
    std::string dir;
    {
        PtyLink pty;
        dir = pty.Dir();
        EXPECT_EQ(std::filesystem::read_symlink(pty.LinkPath()), pty.SlavePath());
        ASSERT_TRUE(pty.Write("a\r\n\x03"));
        ASSERT_TRUE(WaitUntil([&] { return pty.QueuedForReader() == 4; }));
        const int fd = ::open(pty.LinkPath().c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        char got[8] = {};
        EXPECT_EQ(::read(fd, got, sizeof got), 4);
        EXPECT_EQ(std::string(got, 4), "a\r\n\x03");  // raw: no translation, no signal
        ::close(fd);
    }
    EXPECT_FALSE(std::filesystem::exists(dir));
}

TEST(RunAsNobodyTest, ChildRunsWithoutPrivilegesAndReportsItsResult) {
    const int uid = RunAsNobody([] { return ::geteuid() == 0 ? 1 : 0; });
    EXPECT_EQ(uid, 0);
    EXPECT_EQ(RunAsNobody([] { return 42; }), 42);
    EXPECT_EQ(RunInChild([] { return 7; }), 7);
}

TEST(CaptureOutputTest, CollectsBothStreams) {
    CaptureOutput capture;
    std::printf("out ");
    std::fflush(stdout);
    std::fprintf(stderr, "err");
    EXPECT_EQ(capture.Finish(), "out err");
}

TEST(ChildProcessTest, ReportsExitStatusSignalAndOutput) {
    TempDir dir;
    ChildProcess ok({"/bin/sh", "-c", "pwd; echo oops >&2; exit 3"}, dir.Path());
    EXPECT_EQ(ok.Wait(), 3);
    EXPECT_EQ(ok.Stdout(), dir.Path() + "\n");
    EXPECT_EQ(ok.Stderr(), "oops\n");

    ChildProcess sleeper({"/bin/sleep", "30"}, dir.Path());
    EXPECT_TRUE(sleeper.Running());
    sleeper.Signal(SIGTERM);
    EXPECT_EQ(sleeper.Wait(), 128 + SIGTERM);
}
