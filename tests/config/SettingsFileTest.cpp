// LoadConfig and SaveConfig against real files, with permission faults made real by running a
// child process as the user nobody.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "SettingsTestSupport.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using waga::test::ReadFile;
using waga::test::RunAsNobody;

namespace {

// A temporary directory open to every user, so that the unprivileged child may write in it.
struct Dir {
    waga::test::TempDir temp;
    Dir() { fs::permissions(temp.Path(), fs::perms::all); }
    ~Dir() { fs::permissions(temp.Path(), fs::perms::all); }
    fs::path path() const { return temp.Path(); }
    fs::path operator/(const std::string& name) const { return path() / name; }
};

std::vector<std::string> Entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LoadConfig, NoFileChangesNothingSilently) {
    Dir dir;
    FakeSettingsTarget target;
    const SettingsLoadResult result = LoadConfig(target, dir / "konfig.ini");
    EXPECT_EQ(result.status, SettingsLoadStatus::NoFile);
    EXPECT_EQ(target.setterCalls, 0);
}

TEST(LoadConfig, AppliesEveryAcceptedSettingToTheTarget) {
    Dir dir;
    WriteFile(dir / "konfig.ini",
              "Numer_portu=3\r\nPredkosc_transmisji=57600\r\nZapis_do_pliku=0\r\n"
              "Zapisuj_display=1\r\nWyswietlaj_display=1\r\nMaksym_ilosc_lini=9\r\n"
              "Kasuj_poczatek=0\r\nJednostka=t\r\n");
    FakeSettingsTarget target;
    EXPECT_EQ(LoadConfig(target, dir / "konfig.ini").status, SettingsLoadStatus::Applied);
    EXPECT_EQ(target.port, pnCOM3);
    EXPECT_EQ(target.speed, br57600);
    EXPECT_FALSE(target.recording);
    EXPECT_TRUE(target.recordReadings);
    EXPECT_TRUE(target.showReadings);
    EXPECT_EQ(target.maxReportLines, 300);  // 9 is outside 10..5000
    EXPECT_EQ(target.maxLinesText, "300");  // the edit is left to start-up
    EXPECT_FALSE(target.deleteOldest);
    EXPECT_EQ(target.unit, "t");
    EXPECT_EQ(target.setterCalls, 7);
}

TEST(LoadConfig, ADirectoryNamedKonfigIniIsReportedAndChangesNothing) {
    Dir dir;
    fs::create_directory(dir / "konfig.ini");
    FakeSettingsTarget target;
    const SettingsLoadResult result = LoadConfig(target, dir / "konfig.ini");
    EXPECT_EQ(result.status, SettingsLoadStatus::Unreadable);
    EXPECT_NE(result.errorText.find("konfig.ini"), std::string::npos);
    EXPECT_EQ(target.setterCalls, 0);
}

TEST(LoadConfig, AFileTheUserMayNotReadIsReportedAndChangesNothing) {
    Dir dir;
    WriteFile(dir / "konfig.ini", "Numer_portu=4\r\n");
    fs::permissions(dir / "konfig.ini", fs::perms::owner_read | fs::perms::owner_write);
    const int code = RunAsNobody([&] {
        FakeSettingsTarget target;
        const SettingsLoadResult result = LoadConfig(target, dir / "konfig.ini");
        if (result.status != SettingsLoadStatus::Unreadable) return 1;
        return target.setterCalls == 0 && target.port == pnCOM2 ? 0 : 2;
    });
    EXPECT_EQ(code, 0);
}

TEST(SaveConfig, WritesTheEightDefaultLines) {
    Dir dir;
    FakeSettingsTarget target;
    EXPECT_TRUE(SaveConfig(target, dir / "konfig.ini"));
    EXPECT_EQ(ReadFile(dir / "konfig.ini"), kDefaultFile);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"konfig.ini"});
}

TEST(SaveConfig, SettingsSurviveASaveAndALoad) {
    Dir dir;
    FakeSettingsTarget before;
    before.port = pnCOM4;
    before.speed = br115200;
    before.recording = false;
    before.recordReadings = before.showReadings = true;
    before.maxLinesText = "1234";
    before.deleteOldest = false;
    before.unit = "g";
    ASSERT_TRUE(SaveConfig(before, dir / "konfig.ini"));
    FakeSettingsTarget after;
    ASSERT_EQ(LoadConfig(after, dir / "konfig.ini").status, SettingsLoadStatus::Applied);
    EXPECT_EQ(after.port, pnCOM4);
    EXPECT_EQ(after.speed, br115200);
    EXPECT_FALSE(after.recording);
    EXPECT_TRUE(after.recordReadings && after.showReadings);
    EXPECT_EQ(after.maxReportLines, 1234);
    EXPECT_FALSE(after.deleteOldest);
    EXPECT_EQ(after.unit, "g");
}

TEST(SaveConfig, ReplacesAHandEditedFileWholeAndKeepsItsPermissions) {
    Dir dir;
    WriteFile(dir / "konfig.ini", std::string(5000, 'x'));
    fs::permissions(dir / "konfig.ini",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    FakeSettingsTarget target;
    ASSERT_TRUE(SaveConfig(target, dir / "konfig.ini"));
    EXPECT_EQ(ReadFile(dir / "konfig.ini"), kDefaultFile);
    EXPECT_EQ(fs::status(dir / "konfig.ini").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(SaveConfig, ASymbolicLinkKeepsPointingAtTheUpdatedFile) {
    Dir dir;
    fs::create_directory(dir / "real");
    WriteFile(dir / "real" / "ustawienia.ini", "old");
    fs::create_symlink("real/ustawienia.ini", dir / "konfig.ini");
    FakeSettingsTarget target;
    ASSERT_TRUE(SaveConfig(target, dir / "konfig.ini"));
    EXPECT_TRUE(fs::is_symlink(dir / "konfig.ini"));
    EXPECT_EQ(ReadFile(dir / "real" / "ustawienia.ini"), kDefaultFile);
}

// Permission faults: each row prepares the directory as root, then the child (nobody) saves.
struct UnwritableRow {
    const char* what;
    std::function<void(const Dir&)> prepare;
    friend void PrintTo(const UnwritableRow& row, std::ostream* out) { *out << row.what; }
};

class SaveConfigUnwritable : public testing::TestWithParam<UnwritableRow> {};

TEST_P(SaveConfigUnwritable, LeavesEverythingAsItWas) {
    Dir dir;
    GetParam().prepare(dir);
    const auto entriesBefore = Entries(dir.path());
    const bool wasFile = fs::is_regular_file(dir / "konfig.ini");
    const std::string bytesBefore = wasFile ? ReadFile(dir / "konfig.ini") : "";
    const int code = RunAsNobody([&] {
        FakeSettingsTarget target;
        target.port = pnCOM4;
        return SaveConfig(target, dir / "konfig.ini") ? 1 : 0;
    });
    EXPECT_EQ(code, 0) << "SaveConfig must report the failure";
    fs::permissions(dir.path(), fs::perms::all);
    EXPECT_EQ(Entries(dir.path()), entriesBefore) << "no temporary file may be left behind";
    if (wasFile) {
        EXPECT_EQ(ReadFile(dir / "konfig.ini"), bytesBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Konfig, SaveConfigUnwritable,
    testing::Values(UnwritableRow{"read-only konfig.ini in a writable directory",
                                  [](const Dir& d) {
                                      WriteFile(d / "konfig.ini", "Numer_portu=1\r\n");
                                      fs::permissions(d / "konfig.ini", fs::perms::owner_read |
                                                                            fs::perms::group_read |
                                                                            fs::perms::others_read);
                                  }},
                    UnwritableRow{"konfig.ini owned by root, readable by all",
                                  [](const Dir& d) {
                                      WriteFile(d / "konfig.ini", "Jednostka=t\r\n");
                                      fs::permissions(d / "konfig.ini", fs::perms::owner_read |
                                                                            fs::perms::owner_write |
                                                                            fs::perms::others_read);
                                  }},
                    UnwritableRow{"a directory named konfig.ini",
                                  [](const Dir& d) { fs::create_directory(d / "konfig.ini"); }},
                    UnwritableRow{"no konfig.ini in a read-only directory",
                                  [](const Dir& d) {
                                      fs::permissions(d.path(), fs::perms::owner_all |
                                                                    fs::perms::group_read |
                                                                    fs::perms::group_exec |
                                                                    fs::perms::others_read |
                                                                    fs::perms::others_exec);
                                  }}),
    [](const auto& info) { return RowName(info.param.what, info.index); });

void ExpectRewrittenInPlace(const std::string& before);

// No temporary file can be made beside it, but the file itself may be written: the settings
// are rewritten in place rather than lost.
TEST(SaveConfig, WritableFileInAReadOnlyDirectoryIsRewrittenInPlace) {
    for (const std::string& before :
         {std::string("Numer_portu=3\r\n"), "Numer_portu=3\r\n" + std::string(600, '#')}) {
        SCOPED_TRACE(before.size());
        ExpectRewrittenInPlace(before);
    }
}

void ExpectRewrittenInPlace(const std::string& before) {
    Dir dir;
    WriteFile(dir / "konfig.ini", before);
    fs::permissions(dir / "konfig.ini", fs::perms::all);
    fs::permissions(dir.path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    const auto entriesBefore = Entries(dir.path());
    const int code = RunAsNobody([&] {
        FakeSettingsTarget target;
        target.port = pnCOM4;
        return SaveConfig(target, dir / "konfig.ini") ? 1 : 0;
    });
    fs::permissions(dir.path(), fs::perms::all);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(Entries(dir.path()), entriesBefore);
    FakeSettingsTarget expected;
    expected.port = pnCOM4;
    EXPECT_EQ(ReadFile(dir / "konfig.ini"), FormatSettings(CollectSettings(expected)));
}

TEST(SaveConfig, ADirectoryNamedKonfigIniStaysADirectory) {
    Dir dir;
    fs::create_directory(dir / "konfig.ini");
    WriteFile(dir / "konfig.ini" / "inside", "keep");
    FakeSettingsTarget target;
    EXPECT_FALSE(SaveConfig(target, dir / "konfig.ini"));
    EXPECT_EQ(ReadFile(dir / "konfig.ini" / "inside"), "keep");
}

}  // namespace
