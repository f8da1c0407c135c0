// The COMn links: made, replaced, refused over a file or folder, refused by the system; and the
// stable by-id name of a device, found in a fake /dev/serial/by-id folder.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "PortLinks.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using waga::test::TempDir;

namespace {

// The names in a folder, to see that no temporary link is left behind.
std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

enum class Before { Nothing, LinkElsewhere, DanglingLink, RegularFile, Folder };

struct AssignRow {
    const char* name;
    Before before;
    LinkOutcome outcome;
    const char* previousTarget;  // Replaced: the old link's target
};

void PrintTo(const AssignRow& row, std::ostream* out) { *out << row.name; }

class AssignPortLinkTest : public testing::TestWithParam<AssignRow> {};

TEST_P(AssignPortLinkTest, LeavesTheNameAsTheOutcomeSays) {
    const AssignRow& row = GetParam();
    TempDir dir;
    const std::string link = dir.File("COM2");
    switch (row.before) {
        case Before::Nothing:
            break;
        case Before::LinkElsewhere:
            fs::create_symlink("/dev/ttyS1", link);
            break;
        case Before::DanglingLink:
            fs::create_symlink("/nonexistent/ttyUSB7", link);
            break;
        case Before::RegularFile:
            waga::test::WriteFile(link, "dane operatora");
            break;
        case Before::Folder:
            fs::create_directory(link);
            waga::test::WriteFile(link + "/plik", "x");
            break;
    }

    const LinkResult result = AssignPortLink(link, "/dev/serial/by-id/usb-VEK_RS232-if00-port0");

    EXPECT_EQ(result.outcome, row.outcome);
    EXPECT_EQ(result.systemError, 0);
    EXPECT_EQ(result.previousTarget, row.previousTarget);
    EXPECT_EQ(result.existingIsFolder, row.before == Before::Folder);
    if (row.outcome == LinkOutcome::NotALink) {
        EXPECT_FALSE(fs::is_symlink(fs::symlink_status(link)));
        if (row.before == Before::RegularFile) {
            EXPECT_EQ(waga::test::ReadFile(link), "dane operatora");
        } else {
            EXPECT_EQ(waga::test::ReadFile(link + "/plik"), "x");
        }
    } else {
        ASSERT_TRUE(fs::is_symlink(fs::symlink_status(link)));
        EXPECT_EQ(fs::read_symlink(link), "/dev/serial/by-id/usb-VEK_RS232-if00-port0");
    }
    EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"COM2"});
}

INSTANTIATE_TEST_SUITE_P(
    PortLinks, AssignPortLinkTest,
    testing::Values(
        AssignRow{"nothing_there_is_made", Before::Nothing, LinkOutcome::Made, ""},
        AssignRow{"a_link_is_replaced", Before::LinkElsewhere, LinkOutcome::Replaced, "/dev/ttyS1"},
        AssignRow{"a_link_to_nothing_is_replaced", Before::DanglingLink, LinkOutcome::Replaced,
                  "/nonexistent/ttyUSB7"},
        AssignRow{"a_regular_file_is_left_alone", Before::RegularFile, LinkOutcome::NotALink, ""},
        AssignRow{"a_folder_is_left_alone", Before::Folder, LinkOutcome::NotALink, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Refusals by the system, seen by an unprivileged user (root may write anywhere). The result
// travels back as the child's exit status: the errno of a failure, 255 for any other outcome.
struct FailureRow {
    const char* name;
    bool folderExists;
    bool linkBefore;
    int expectedErrno;
};

void PrintTo(const FailureRow& row, std::ostream* out) { *out << row.name; }

class AssignPortLinkFailureTest : public testing::TestWithParam<FailureRow> {};

TEST_P(AssignPortLinkFailureTest, ReportsTheErrorAndChangesNothing) {
    const FailureRow& row = GetParam();
    TempDir dir;
    const std::string folder = dir.File("praca");
    if (row.folderExists) fs::create_directory(folder);
    if (row.linkBefore) fs::create_symlink("/dev/ttyS1", folder + "/COM2");
    if (row.folderExists) ::chmod(folder.c_str(), 0555);

    const int code = waga::test::RunAsNobody([&] {
        const LinkResult result = AssignPortLink(folder + "/COM2", "/dev/ttyUSB0");
        return result.outcome == LinkOutcome::Failed ? result.systemError : 255;
    });

    EXPECT_EQ(code, row.expectedErrno);
    if (row.folderExists) {
        ::chmod(folder.c_str(), 0755);
        const std::set<std::string> expected =
            row.linkBefore ? std::set<std::string>{"COM2"} : std::set<std::string>{};
        EXPECT_EQ(Names(folder), expected);
        if (row.linkBefore) {
            EXPECT_EQ(fs::read_symlink(folder + "/COM2"), "/dev/ttyS1");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PortLinks, AssignPortLinkFailureTest,
                         testing::Values(FailureRow{"missing_folder", false, false, ENOENT},
                                         FailureRow{"unwritable_folder", true, false, EACCES},
                                         FailureRow{"unwritable_folder_keeps_the_old_link", true,
                                                    true, EACCES}),
                         [](const auto& info) { return std::string(info.param.name); });

// A fake by-id folder: regular files stand for the devices, links in by-id lead to them.
class StableDeviceNameTest : public testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(dir_.File("dev"));
        fs::create_directory(byId_);
        for (const char* device : {"ttyUSB0", "ttyUSB1", "ttyS0"}) {
            waga::test::WriteFile(dir_.File("dev/") + device, "");
        }
        fs::create_symlink("../ttyUSB0", byId_ + "/usb-VEK_Adapter_0001-if00-port0");
        fs::create_symlink(dir_.File("dev/ttyUSB1"), byId_ + "/usb-VEK_Adapter_0002-if00-port0");
        fs::create_symlink(dir_.File("dev/ttyUSB1"), byId_ + "/usb-Inny_0002-if00-port0");
        fs::create_symlink(dir_.File("dev/ttyUSB9"), byId_ + "/usb-VEK_Wyjety-if00-port0");
        fs::create_symlink(dir_.File("dev/ttyUSB0"), dir_.File("COM2"));
    }
    TempDir dir_;
    const std::string byId_ = dir_.File("dev/by-id");
};

TEST_F(StableDeviceNameTest, FindsTheLinkThatLeadsToTheSameDevice) {
    struct Row {
        std::string device;
        std::string expected;
    };
    const std::vector<Row> rows = {
        // A relative link is followed from the by-id folder, as the system's own links are.
        {dir_.File("dev/ttyUSB0"), byId_ + "/usb-VEK_Adapter_0001-if00-port0"},
        {dir_.File("COM2"), byId_ + "/usb-VEK_Adapter_0001-if00-port0"},  // through a link
        {dir_.File("dev/ttyUSB1"), byId_ + "/usb-Inny_0002-if00-port0"},  // first by name
        {dir_.File("dev/ttyS0"), ""},                                     // no stable name
        {dir_.File("dev/ttyUSB9"), ""},                                   // not present
    };
    for (const Row& row : rows) {
        EXPECT_EQ(StableDeviceName(row.device, byId_), row.expected) << row.device;
    }
}

TEST_F(StableDeviceNameTest, AMissingFolderGivesNoName) {
    EXPECT_EQ(StableDeviceName(dir_.File("dev/ttyUSB0"), dir_.File("no-by-id")), "");
}

// A typed device path: what it leads to, links followed.
TEST(CheckDevicePath, OnlyACharacterDeviceIsTakenForAPort) {
    waga::test::PtyLink pty("COM9");
    TempDir dir;
    waga::test::WriteFile(dir.File("data.bin"), "x");
    fs::create_symlink(pty.SlavePath(), dir.File("by-path-name"));
    fs::create_symlink(dir.File("gone"), dir.File("dangling"));
    const struct {
        std::string path;
        DevicePathCheck check;
    } rows[] = {
        {pty.SlavePath(), DevicePathCheck::CharacterDevice},
        {dir.File("by-path-name"), DevicePathCheck::CharacterDevice},  // a link to a terminal
        {"/dev/null", DevicePathCheck::CharacterDevice},  // refused later, as no terminal
        {dir.File("data.bin"), DevicePathCheck::NotACharacterDevice},
        {dir.Path(), DevicePathCheck::NotACharacterDevice},
        {dir.File("dangling"), DevicePathCheck::Missing},
        {dir.File("gone"), DevicePathCheck::Missing},
        {"", DevicePathCheck::Missing},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(CheckDevicePath(row.path), row.check);
    }
}

}  // namespace
