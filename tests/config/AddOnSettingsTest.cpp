// dodatki.ini: the additions' settings, their defaults, what is refused, and the file's mode;
// the store that reads it once and saves it a section at a time.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "AddOnSettings.h"
#include "AddOnSettingsStore.h"
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

TEST(AddOnSettingsFile, AMissingFileIsDefaults) {
    waga::test::TempDir dir;
    const AddOnLoadResult none = LoadAddOnSettings(dir.Path());
    EXPECT_FALSE(none.fileFound);
    EXPECT_EQ(none.settings, AddOnSettings{});
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

// The store: read once; a save writes its section and leaves every other byte of the file as
// read, tells the listeners once, and gives the mode the token needs; a save that fails says why
// and changes neither the file nor the settings.
struct StoreRow {
    const char* what;
    std::optional<std::string> before;  // dodatki.ini at the start; none: a folder of that name
    void (*meanwhile)(const std::string& folder);  // after the store read the file (or null)
    AddOnSection saved;  // Journal: kept 7 days; Service: port 9001 with a token
    std::string after;   // the file's bytes then, or the start of the error a failure gives
    mode_t mode = 0644;  // 0: the save fails
    friend void PrintTo(const StoreRow& row, std::ostream* out) { *out << row.what; }
};

const std::string kJournal7 = "[Dziennik]\nWlaczony=1\nPrzechowuj_dni=7\n";
const std::string kService9001 =
    "[SerwerWagi]\nWlaczony=0\nAdres=127.0.0.1\nPort=9001\nToken=0123456789abcdefgh\nZrodla=\n"
    "Nazwy=\nNieaktualny_po_ms=5000\n";
const std::string kDefaults = FormatAddOnSettings({});

class AddOnStore : public testing::TestWithParam<StoreRow> {};

TEST_P(AddOnStore, SavesOneSectionAndTellsItOnce) {
    const StoreRow& row = GetParam();
    waga::test::TempDir dir;
    const std::string folder = dir.File("stacja");
    const std::string file = folder + "/dodatki.ini";
    std::filesystem::create_directory(folder);
    row.before ? waga::test::WriteFile(file, *row.before)
               : void(std::filesystem::create_directory(file));
    AddOnSettingsStore store(folder);
    if (row.meanwhile) row.meanwhile(folder);
    const AddOnSettings loaded = store.Settings();
    std::vector<AddOnSection> told;
    store.OnChanged([&](AddOnSection section) { told.push_back(section); });
    ServiceSettings service = loaded.service;
    service.port = 9001;
    service.token = "0123456789abcdefgh";
    std::string error;
    const bool saved = row.saved == AddOnSection::Journal
                           ? store.Save(JournalSettings{true, 7}, error)
                           : store.Save(service, error);
    if (row.mode == 0) {
        EXPECT_FALSE(saved);
        EXPECT_EQ(error.rfind(row.after, 0), 0u) << error;
        EXPECT_EQ(told, std::vector<AddOnSection>{});
        EXPECT_EQ(store.Settings(), loaded);
        if (row.before) EXPECT_EQ(waga::test::ReadFile(folder + "-x/dodatki.ini"), *row.before);
        return;
    }
    ASSERT_TRUE(saved) << error;
    EXPECT_EQ(waga::test::ReadFile(file), row.after);
    EXPECT_EQ(told, std::vector<AddOnSection>{row.saved});
    EXPECT_EQ(store.Settings(), ParseAddOnSettings(row.after)) << "the store holds what it wrote";
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, row.mode);
}

INSTANTIATE_TEST_SUITE_P(
    DodatkiIni, AddOnStore,
    testing::Values(
        StoreRow{"a file the program wrote keeps its bytes", kDefaults, nullptr,
                 AddOnSection::Service,
                 "[Dziennik]\nWlaczony=1\nPrzechowuj_dni=366\n\n" + kService9001 + "\n" +
                     kDefaults.substr(kDefaults.find("[Baza")),
                 0600},
        StoreRow{"comments, unknown keys, CR LF and other sections kept byte for byte",
                 "; moje\n[Dziennik]\r\nWlaczony=0\r\n# uwaga\nNieznany=1\n\n[SerwerWagi]\n"
                 "Port=9000\nStary=x\n\n\n[BazaCentralna]\nHost=db\n[Inna]\nA=1",
                 nullptr, AddOnSection::Service,
                 "; moje\n[Dziennik]\r\nWlaczony=0\r\n# uwaga\nNieznany=1\n\n" + kService9001 +
                     "\n\n[BazaCentralna]\nHost=db\n[Inna]\nA=1",
                 0600},
        StoreRow{"a section the file lacks goes at its end", "\xEF\xBB\xBF[SerwerWagi]\nPort=9000",
                 nullptr, AddOnSection::Journal,
                 "\xEF\xBB\xBF[SerwerWagi]\nPort=9000\n\n" + kJournal7},
        StoreRow{"a second header of the section goes",
                 "[Dziennik]\nWlaczony=0\n[SerwerWagi]\nPort=1\n[ Dziennik ]\nPrzechowuj_dni=5\n",
                 nullptr, AddOnSection::Journal, kJournal7 + "[SerwerWagi]\nPort=1\n"},
        StoreRow{"read once: a later change on disk is not read", "[SerwerWagi]\nPort=9000\n",
                 [](const std::string& folder) {
                     waga::test::WriteFile(folder + "/dodatki.ini", "[SerwerWagi]\nPort=1\n");
                 },
                 AddOnSection::Journal, "[SerwerWagi]\nPort=9000\n\n" + kJournal7},
        StoreRow{"a file it could not read is not written over", std::nullopt, nullptr,
                 AddOnSection::Service, "Nie można odczytać pliku dodatki.ini", 0},
        StoreRow{"a failed write", "[Dziennik]\nWlaczony=0\n",
                 [](const std::string& folder) {
                     std::filesystem::rename(folder, folder + "-x");  // the write finds no folder
                 },
                 AddOnSection::Journal, "Nie można zapisać pliku dodatki.ini: ", 0}),
    [](const auto& info) { return "row" + std::to_string(info.index); });

}  // namespace
