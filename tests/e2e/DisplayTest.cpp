// The built program on an Xvfb display, where its boxes are real windows that only a key press
// answers: a second copy, and a konfig.ini that cannot be read.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "ProgramRun.h"

using namespace waga::test;

namespace {

using waga::test::WaitUntil;

// Sends a line through the terminal and waits for it in the day's file: the copy holding the
// port reads and records it.
bool RecordsALine(Workplace& place, const std::string& line) {
    const std::size_t before = waga::test::ReadFile(place.DayFile()).size();
    if (!place.Pty().Write(line + "\r\n")) return false;
    return WaitUntil([&] {
        const std::string recorded = waga::test::ReadFile(place.DayFile());
        return recorded.size() > before && recorded.ends_with(line + "\r\n");
    });
}

TEST(SecondCopy, ShowsTheBoxAndEndsByItself) {
    XServer x;
    ASSERT_TRUE(x.Ready());
    Workplace place;
    const std::string handWritten = "Jednostka=g\r\nNumer_portu=2\r\n";
    place.Write("konfig.ini", handWritten);
    auto first = StartProgram(place, {.display = x.Display()});
    ASSERT_FALSE(x.WaitForWindow(kMainTitle, first->Pid()).empty()) << first->Stderr();

    auto second = StartProgram(place, {.display = x.Display()});
    const std::string box = x.WaitForWindow("Błąd", second->Pid());
    ASSERT_FALSE(box.empty()) << second->Stderr();
    EXPECT_TRUE(second->Running());  // waits for the operator
    x.PressKey(box, "Return");

    EXPECT_EQ(second->Wait(std::chrono::seconds(10)), 0) << second->Stderr();
    EXPECT_TRUE(first->Running());
    EXPECT_EQ(place.Read("konfig.ini"), handWritten);
    EXPECT_TRUE(RecordsALine(place, "RAPORT 1"));  // the first copy still holds the port

    first->Signal(SIGTERM);
    EXPECT_EQ(first->Wait(), 0) << first->Stderr();
    EXPECT_NE(place.Read("konfig.ini"), handWritten);  // the first copy's close saved
}

// The box comes first; after it the start-up goes on with the defaults: the port opens (lines
// are recorded), the day's file exists, the window appears, and the close leaves the file alone.
TEST(UnreadableKonfig, BoxThenTheProgramRunsWithDefaults) {
    struct Row {
        const char* name;
        bool asNobody;
    };
    const Row rows[] = {{"a directory named konfig.ini", false},
                        {"a file the user may not read", true}};
    XServer x;
    ASSERT_TRUE(x.Ready());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Workplace place(row.asNobody ? waga::test::kNobodyId : 0);
        const std::string konfig = place.File("konfig.ini");
        if (row.asNobody) {
            place.Write("konfig.ini", "Jednostka=t\r\n");
            ASSERT_EQ(::chmod(konfig.c_str(), 0600), 0);  // root's
        } else {
            std::filesystem::create_directory(konfig);
        }
        auto program = StartProgram(place, {.display = x.Display(), .asNobody = row.asNobody});

        const std::string box = x.WaitForWindow("Project1", program->Pid());
        ASSERT_FALSE(box.empty()) << program->Stderr();
        EXPECT_FALSE(std::filesystem::exists(place.DayFile()));  // start-up waits for the box
        x.PressKey(box, "Return");

        ASSERT_FALSE(x.WaitForWindow(kMainTitle, program->Pid()).empty());
        EXPECT_TRUE(std::filesystem::exists(place.DayFile()));
        EXPECT_TRUE(RecordsALine(place, "RAPORT 2"));
        program->Signal(SIGTERM);
        EXPECT_EQ(program->Wait(), 0) << program->Stderr();
        if (row.asNobody)
            EXPECT_EQ(waga::test::ReadFile(konfig), "Jednostka=t\r\n");
        else
            EXPECT_TRUE(std::filesystem::is_directory(konfig));
    }
}

}  // namespace

namespace {

// A closing signal while a start-up box waits for the operator: the box closes by itself, the rest
// of start-up runs, and the program ends with 0 without waiting for anyone.
TEST(ClosedFromOutside, WhileAStartUpBoxIsOpen) {
    struct Row {
        const char* name;
        bool secondCopy;  // else: konfig.ini is a directory
        const char* boxTitle;
    };
    const Row rows[] = {{"second copy", true, "Błąd"},
                        {"unreadable konfig.ini", false, "Project1"}};
    XServer x;
    ASSERT_TRUE(x.Ready());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Workplace place;
        const std::string handWritten = "Jednostka=g\r\n";
        std::unique_ptr<waga::test::ChildProcess> first;
        if (row.secondCopy) {
            place.Write("konfig.ini", handWritten);
            first = StartProgram(place, {.display = x.Display()});
            ASSERT_FALSE(x.WaitForWindow(kMainTitle, first->Pid()).empty());
        } else {
            std::filesystem::create_directory(place.File("konfig.ini"));
        }
        auto program = StartProgram(place, {.display = x.Display()});
        ASSERT_FALSE(x.WaitForWindow(row.boxTitle, program->Pid()).empty());

        program->Signal(SIGTERM);
        EXPECT_EQ(program->Wait(std::chrono::seconds(10)), 0) << program->Stderr();
        EXPECT_TRUE(std::filesystem::exists(place.DayFile()));
        if (row.secondCopy) {
            EXPECT_EQ(place.Read("konfig.ini"), handWritten);
            EXPECT_TRUE(first->Running());
        } else {
            EXPECT_TRUE(std::filesystem::is_directory(place.File("konfig.ini")));
        }
    }
}

}  // namespace
