// dodatki.ini: the additions' settings, their defaults, what is refused, and the file's mode.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "AddOnSettings.h"
#include "TestSupport.h"

namespace {

struct ParseRow {
    const char* what;
    std::string text;
    AddOnSettings expected;
    friend void PrintTo(const ParseRow& row, std::ostream* out) { *out << row.what; }
};

AddOnSettings With(void (*change)(AddOnSettings&)) {
    AddOnSettings settings;
    change(settings);
    return settings;
}

class ParseAddOns : public testing::TestWithParam<ParseRow> {};

TEST_P(ParseAddOns, TakesWhatItAcceptsAndKeepsDefaultsElse) {
    EXPECT_EQ(ParseAddOnSettings(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    DodatkiIni, ParseAddOns,
    testing::Values(
        ParseRow{"empty file: every default", "", AddOnSettings{}},
        ParseRow{"journal off, kept 30 days", "[Dziennik]\nWlaczony=0\nPrzechowuj_dni=30\n",
                 With([](AddOnSettings& s) {
                     s.journal = {false, 30};
                 })},
        ParseRow{"byte-order mark, CR LF, spaces around",
                 "\xEF\xBB\xBF[SerwerWagi]\r\n Port = 9000 \r\n",
                 With([](AddOnSettings& s) { s.service.port = 9000; })},
        ParseRow{"a key of another section does not count", "[Dziennik]\nPort=9000\n",
                 AddOnSettings{}},
        ParseRow{"values out of range keep the default",
                 "[SerwerWagi]\nPort=70000\nNieaktualny_po_ms=0\nAdres=\n[Dziennik]\nWlaczony=2\n"
                 "Przechowuj_dni=-5\n[BazaCentralna]\nSSL=prefer\nPort=x\nZbieraj_ms=49\nPosrednik="
                 "yes\n",
                 AddOnSettings{}},
        ParseRow{"text values kept as written (UTF-8)",
                 "[BazaCentralna]\nWlaczona=1\nHost=db.firma.example\nStacja=Brama Łódź\n"
                 "SSL=require\nCA=C:\\Certyfikaty firmy\\główny.crt\n[SerwerWagi]\nToken=a=b\n"
                 "Zrodla=http://a, http://b\nNazwy=waga1.firma.example,waga\n",
                 With([](AddOnSettings& s) {
                     s.central.enabled = true;
                     s.central.host = "db.firma.example";
                     s.central.station = "Brama Łódź";
                     s.central.ssl = "require";
                     s.central.ca = "C:\\Certyfikaty firmy\\główny.crt";
                     s.service.token = "a=b";
                     s.service.origins = "http://a, http://b";
                     s.service.names = "waga1.firma.example,waga";
                 })},
        ParseRow{"a pooler in front, batches gathered for 2 s",
                 "[BazaCentralna]\nZbieraj_ms=2000\nPosrednik=1\n", With([](AddOnSettings& s) {
                     s.central.gatherMs = 2000;
                     s.central.pooler = true;
                 })}));

TEST(AddOnSettingsFile, WritesWhatItReadsWithTheModeTheSecretNeeds) {
    waga::test::TempDir dir;
    AddOnSettings settings;
    settings.journal.keepDays = 10;
    settings.central.station = "Magazyn ż";
    std::string error;
    ASSERT_TRUE(SaveAddOnSettings(settings, error, dir.Path())) << error;
    struct stat info {};
    ASSERT_EQ(stat(dir.File("dodatki.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    EXPECT_EQ(LoadAddOnSettings(dir.Path()).settings, settings);

    settings.service.token = "tajny";
    ASSERT_TRUE(SaveAddOnSettings(settings, error, dir.Path())) << error;
    ASSERT_EQ(stat(dir.File("dodatki.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(LoadAddOnSettings(dir.Path()).settings, settings);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator{}),
              1)
        << "no temporary file is left behind";
}

// A token others may read is used and warned about, as ssh does for a key.
TEST(AddOnSettingsFile, ATokenOthersMayReadIsWarnedAbout) {
    const std::tuple<mode_t, const char*, bool> rows[] = {
        {0600, "Token=0123456789abcdef", false},
        {0644, "Token=0123456789abcdef", true},
        {0640, "Token=0123456789abcdef", true},
        {0604, "Token=0123456789abcdef", true},
        {0644, "Token=", false},  // nothing secret in it
    };
    for (const auto& [mode, line, warns] : rows) {
        waga::test::TempDir dir;
        waga::test::WriteFile(dir.File("dodatki.ini"), std::string("[SerwerWagi]\n") + line + "\n");
        ASSERT_EQ(chmod(dir.File("dodatki.ini").c_str(), mode), 0);
        const AddOnLoadResult loaded = LoadAddOnSettings(dir.Path());
        EXPECT_EQ(!loaded.warningText.empty(), warns) << std::oct << mode << " " << line;
        EXPECT_EQ(loaded.settings.service.token, std::string(line).substr(6));
    }
}

TEST(AddOnSettingsFile, AMissingFileIsDefaultsAndAFailedSaveLeavesTheOldFile) {
    waga::test::TempDir dir;
    const AddOnLoadResult none = LoadAddOnSettings(dir.Path());
    EXPECT_FALSE(none.fileFound);
    EXPECT_EQ(none.settings, AddOnSettings{});

    std::ofstream(dir.File("dodatki.ini")) << "[Dziennik]\nWlaczony=0\n";
    std::string error;
    EXPECT_FALSE(SaveAddOnSettings(AddOnSettings{}, error, dir.File("brak-folderu")));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(LoadAddOnSettings(dir.Path()).settings.journal.enabled);
}

// A dodatki.ini that cannot be read (here a folder of that name) is said so; the additions run
// with their defaults.
TEST(AddOnSettingsFile, AnUnreadableFileIsToldAndGivesTheDefaults) {
    waga::test::TempDir dir;
    std::filesystem::create_directory(dir.File("dodatki.ini"));
    const AddOnLoadResult loaded = LoadAddOnSettings(dir.Path());
    EXPECT_TRUE(loaded.fileFound);
    EXPECT_EQ(loaded.errorText,
              "Nie można odczytać pliku dodatki.ini; dodatki działają z ustawieniami domyślnymi.");
    EXPECT_EQ(loaded.settings, AddOnSettings{});
}

}  // namespace
