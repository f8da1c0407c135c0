// The recording file: exact bytes, and every way the append can fail.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "CoreTestSupport.h"
#include "RecordingFile.h"

using namespace std::string_literals;

namespace {

TEST(RecordingFileTest, AppendsRawBytesThenCrLfInArrivalOrder) {
    TempDir dir;
    const std::string name = dir.File("20240102");
    WriteFile(name, "earlier\r\n");
    std::string every;
    for (int b = 0; b < 256; ++b) every.push_back(static_cast<char>(b));
    const std::vector<std::string> lines = {" 12,50", "", "   ", every, "1.5\0kg\xFF"s};
    std::string expected = "earlier\r\n";
    for (const auto& line : lines) {
        ASSERT_TRUE(AppendRecordLine(name, line));
        expected += line + "\r\n";
    }
    EXPECT_EQ(ReadFile(name), expected);
}

TEST(RecordingFileTest, ExistsAndCreate) {
    TempDir dir;
    const std::string name = dir.File("new");
    EXPECT_FALSE(RecordingFileExists(name));
    EXPECT_FALSE(RecordingFileExists(""));
    EXPECT_TRUE(RecordingFileExists(dir.Path()));
    ASSERT_TRUE(CreateEmptyFile(name));
    EXPECT_TRUE(RecordingFileExists(name));
    WriteFile(name, "content");
    ASSERT_TRUE(CreateEmptyFile(name));  // truncates
    EXPECT_EQ(ReadFile(name), "");
    EXPECT_FALSE(CreateEmptyFile(dir.File("missing/new")));
    EXPECT_FALSE(CreateEmptyFile(""));
}

// Two report lines, each a chunk, to a recording file that cannot take them: recording goes off
// first, then exactly one box; both lines still reach the report view.
bool OneFailure(const std::string& file) {
    SinkRig rig(file);
    rig.Feed("TARA\r");
    rig.Feed("NETTO\r");
    return rig.boxes.recordingWhenShown == std::vector<bool>{false} &&
           rig.displays.report == std::vector<std::string>{"TARA", "NETTO"} &&
           !rig.switches.Recording() && !rig.recording.FileOpen();
}

struct BadName {
    std::string label;
    std::string name;  // "@" stands for the temp folder
};

std::ostream& operator<<(std::ostream& out, const BadName& c) { return out << c.label; }

class BadRecordingFileTest : public ::testing::TestWithParam<BadName> {};

TEST_P(BadRecordingFileTest, OneErrorBoxRecordingOffNothingCreated) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("folder"));
    std::filesystem::create_symlink("/dev/full", dir.File("full"));
    const auto before = std::filesystem::recursive_directory_iterator(dir.Path());
    std::vector<std::filesystem::path> entries(begin(before), end(before));

    std::string name = GetParam().name;
    if (name.starts_with('@')) name = dir.Path() + name.substr(1);
    const auto openFiles = [] {
        const auto fds = std::filesystem::directory_iterator("/proc/self/fd");
        return std::distance(begin(fds), end(fds));
    };
    const auto filesBefore = openFiles();
    EXPECT_TRUE(OneFailure(name));
    EXPECT_EQ(openFiles(), filesBefore) << "the failed append must release the file";

    const auto after = std::filesystem::recursive_directory_iterator(dir.Path());
    EXPECT_EQ(std::vector<std::filesystem::path>(begin(after), end(after)), entries);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder")));
}

INSTANTIATE_TEST_SUITE_P(Names, BadRecordingFileTest,
                         ::testing::Values(BadName{"Empty", ""}, BadName{"Directory", "@/folder"},
                                           BadName{"DirectoryWithSlash", "@/folder/"},
                                           BadName{"MissingFile", "@/20240102"},
                                           BadName{"MissingFolder", "@/nowhere/20240102"},
                                           BadName{"FileAsFolder", "@/full/x"},
                                           BadName{"FullDisk", "@/full"},
                                           BadName{"DevFull", "/dev/full"}),
                         [](const auto& info) { return info.param.label; });

// Root ignores permissions, so the append runs in a child that has given up root.
TEST(BadRecordingFileTest, NoWritePermission) {
    TempDir dir;
    ::chmod(dir.Path().c_str(), 0755);
    const std::string name = dir.File("rec");
    WriteFile(name, "kept\r\n");
    ::chmod(name.c_str(), 0644);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(OneFailure(name) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not one failure, 2: could not drop root";
    EXPECT_EQ(ReadFile(name), "kept\r\n");
}

}  // namespace

namespace {

// One chunk's lines go through one open; the file is closed when the chunk is done, so a file
// deleted or renamed between chunks is found missing by the next chunk's first line.
TEST(RecordingWriterTest, OneOpenPerChunkAndADeletionSeenAtTheNextChunk) {
    TempDir dir;
    const std::string name = dir.File("rec");
    CreateEmptyFile(name);
    RecordingWriter writer;
    ASSERT_TRUE(writer.Append(name, "A"));
    ASSERT_TRUE(std::filesystem::remove(name));  // deleted while the chunk is worked through
    EXPECT_TRUE(writer.Append(name, "B"));       // the open file takes the chunk's last line
    writer.Close();
    EXPECT_FALSE(writer.Append(name, "C"));  // the next chunk finds it gone, and creates nothing
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(std::filesystem::exists(name));

    CreateEmptyFile(name);
    const std::string other = dir.File("other");
    CreateEmptyFile(other);
    ASSERT_TRUE(writer.Append(name, "D"));
    ASSERT_TRUE(writer.Append(other, "E"));  // another name: that file is opened instead
    writer.Close();
    EXPECT_EQ(ReadFile(name), "D\r\n");
    EXPECT_EQ(ReadFile(other), "E\r\n");
}

// A chunk's lines go to the file in one write. When the file takes only part of them (here a
// file-size limit stands in for a full disk), it keeps the whole lines that fitted and nothing of
// the one cut: what a write a line would have left. The limit holds in a child process.
TEST(RecordingWriterTest, AWriteCutShortKeepsTheWholeLinesThatFitted) {
    const std::string before = "earlier\r\n";  // 9 bytes, then lines ending at 16, 18 and 31
    const std::vector<std::string> lines = {"12,50", "", "TARA 1,2 kg"};
    const struct {
        long limit;
        int kept;  // lines
    } cases[] = {{9, 0}, {12, 0}, {16, 1}, {17, 1}, {18, 2}, {30, 2}, {31, 3}, {4096, 3}};
    for (const auto& c : cases) {
        TempDir dir;
        const std::string name = dir.File("rec");
        WriteFile(name, before);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit limit{static_cast<rlim_t>(c.limit), static_cast<rlim_t>(c.limit)};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
            std::signal(SIGXFSZ, SIG_IGN);
            RecordingWriter writer;
            for (const std::string& line : lines)
                if (!writer.Append(name, line)) ::_exit(4);
            const bool flushed = writer.Flush();
            if (writer.Holds() || writer.IsOpen() != flushed) ::_exit(5);  // a failure closes it
            ::_exit(flushed ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.kept == 3 ? 0 : 1) << "limit " << c.limit;
        std::string expected = before;
        for (int i = 0; i < c.kept; ++i) expected += lines[static_cast<std::size_t>(i)] + "\r\n";
        EXPECT_EQ(ReadFile(name), expected) << "limit " << c.limit;
    }
}

}  // namespace
