// The headless station, waga-stacja, as a process with no display: started with no DISPLAY and
// no Qt platform set, in the folder WAGA_DIR names (its own working directory elsewhere), with a
// pseudo-terminal linked there as COM2. A line from the terminal reaches the day's file, the
// journal and /api/v1/weight; a closing signal ends it with status 0, every line read in the day
// file and the journal, konfig.ini untouched, and one line on standard error per event (the first
// names the version and the SHA-256 of the station's file, as sha256sum has it). A byte 0
// inside a line keeps the rest of the line in the journal, the service and the exports.

#include <gtest/gtest.h>
#include <signal.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTcpServer>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "HttpClient.h"
#include "ProgramRun.h"
#include "TestSupport.h"
#include "Version.h"

using namespace std::chrono_literals;
using namespace waga::test;

namespace {

quint16 FreePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    return probe.serverPort();
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// Every line in the journal, in order, a run of identical readings expanded to its count; and
// each row's unit.
std::vector<std::string> JournalLines(const std::string& folder,
                                      std::vector<std::string>* units = nullptr) {
    ChildProcess tool({BinPath("waga-journal"), "export", "--format", "json"}, folder);
    EXPECT_EQ(tool.Wait(), 0) << tool.Stderr();
    std::vector<std::string> lines;
    for (const QJsonValue& value :
         QJsonDocument::fromJson(QByteArray::fromStdString(tool.Stdout())).array()) {
        const QJsonObject row = value.toObject();
        const std::string bytes =
            QByteArray::fromBase64(row[QStringLiteral("bytes")].toString().toLatin1())
                .toStdString();
        lines.insert(lines.end(), row[QStringLiteral("count")].toInt(), bytes);
        if (units) units->push_back(row[QStringLiteral("unit")].toString().toStdString());
    }
    return lines;
}

// The station links no window system: neither Qt Widgets nor Qt Gui, directly or through a
// library it needs.
TEST(Station, LinksNoWindowLibraries) {
    ChildProcess ldd({"/usr/bin/ldd", BinPath("waga-stacja")}, "/");
    ASSERT_EQ(ldd.Wait(), 0) << ldd.Stderr();
    const std::string libraries = ldd.Stdout();
    ASSERT_NE(libraries.find("libQt6Core"), std::string::npos) << libraries;
    for (const char* window : {"libQt6Widgets", "libQt6Gui", "libxcb", "libX11"})
        EXPECT_EQ(libraries.find(window), std::string::npos) << window << " in\n" << libraries;
}

class StationRun : public testing::TestWithParam<int> {};

TEST_P(StationRun, FeedsEveryPartAndStopsWithNothingLost) {
    Workplace place;  // COM2 -> a pseudo-terminal
    const quint16 port = FreePort();
    ASSERT_NE(port, 0);
    // No Jednostka: the unit is the window program's default, kg.
    const std::string konfig = "Zapisuj_display=1\r\n";
    place.Write("konfig.ini", konfig);
    // The central database on a port where nothing listens: its notice is told.
    place.Write("dodatki.ini", "[SerwerWagi]\nWlaczony=1\nPort=" + std::to_string(port) +
                                   "\n[BazaCentralna]\nWlaczona=1\nHost=127.0.0.1\nPort=" +
                                   std::to_string(FreePort()) +
                                   "\nBaza=waga\nUzytkownik=stacja\nSSL=disable\n");
    TempDir elsewhere;
    ChildProcess station({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u",
                          "QT_QPA_PLATFORM", "WAGA_DIR=" + place.Dir(), BinPath("waga-stacja")},
                         elsewhere.Path());
    ASSERT_TRUE(WaitUntil([&] { return Count(station.Stderr(), "COM2: Połączenie RS232") == 1; }))
        << station.Stderr();

    // One reading: the day's file, the journal and the service have it.
    ASSERT_TRUE(place.Pty().Write(" 12,50\r\n"));
    EXPECT_TRUE(WaitUntil([&] {
        const HttpAnswer answer = Get(port, "/api/v1/weight");
        return answer.Json().value("reading").toString() == QStringLiteral("12,50") &&
               answer.Json().value("unit").toString() == QStringLiteral("kg");
    })) << Get(port, "/api/v1/weight").body.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(place.DayFile()) == " 12,50\r\n"; }));

    // A burst, and the signal as soon as the day's file holds it: the journal's queue is
    // stored before the station ends.
    std::vector<std::string> sent = {" 12,50"};
    std::string burst;
    for (int i = 0; i < 3000; ++i) {
        sent.push_back(i % 3 == 0 ? "  " + std::to_string(i % 7) + ",5"
                                  : "RAPORT " + std::to_string(i));
        burst += sent.back() + "\r\n";
    }
    ASSERT_TRUE(place.Pty().Write(burst));
    std::string expected;
    for (const std::string& line : sent) expected += line + "\r\n";
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(place.DayFile()).size() >= expected.size(); }, 20s))
        << station.Stderr();
    station.Signal(GetParam());
    ASSERT_EQ(station.Wait(), 0) << station.Stderr();

    EXPECT_EQ(ReadFile(place.DayFile()), expected);
    EXPECT_TRUE(JournalLines(place.Dir()) == sent) << "the journal differs from what was read";
    EXPECT_EQ(place.Read("konfig.ini"), konfig);
    const std::string log = station.Stderr();
    ChildProcess sha256sum({"/usr/bin/sha256sum", BinPath("waga-stacja")}, "/");
    ASSERT_EQ(sha256sum.Wait(), 0) << sha256sum.Stderr();
    EXPECT_EQ(log.substr(0, log.find('\n') + 1), std::string("waga-stacja: wersja ") +
                                                     kProgramVersion + ", SHA-256 " +
                                                     sha256sum.Stdout().substr(0, 64) + "\n");
    EXPECT_GE(Count(log, "waga-stacja: Baza centralna: "), 1u) << log;
    EXPECT_EQ(Count(log, "waga-stacja: COM2: port zamknięty\n"), 1u) << log;
    EXPECT_EQ(log.substr(log.size() - std::string("port zamknięty\n").size()), "port zamknięty\n")
        << log;
}

// dodatki.ini that cannot be read is told once; the station runs on with the additions'
// defaults (the journal on), and without konfig.ini with its defaults.
TEST(Station, TellsAnUnreadableDodatkiIniAndRunsOn) {
    Workplace place;
    std::filesystem::create_directory(place.File("dodatki.ini"));
    ChildProcess station({"/usr/bin/env", "-u", "DISPLAY", "-u", "QT_QPA_PLATFORM",
                          "WAGA_DIR=" + place.Dir(), BinPath("waga-stacja")},
                         place.Dir());
    ASSERT_TRUE(WaitUntil([&] { return Count(station.Stderr(), "COM2: Połączenie RS232") == 1; }))
        << station.Stderr();
    ASSERT_TRUE(place.Pty().Write(" 17.70\rTARA\r"));  // the reading is not recorded by default
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(place.DayFile()) == "TARA\r\n"; }));
    station.Signal(SIGTERM);
    ASSERT_EQ(station.Wait(), 0) << station.Stderr();
    EXPECT_EQ(Count(station.Stderr(),
                    "waga-stacja: dodatki.ini: Nie można odczytać pliku "
                    "dodatki.ini; dodatki działają z ustawieniami domyślnymi.\n"),
              1u)
        << station.Stderr();
    // No konfig.ini: every key at the window program's default, the unit kg among them.
    std::vector<std::string> units;
    EXPECT_EQ(JournalLines(place.Dir(), &units), (std::vector<std::string>{" 17.70", "TARA"}));
    EXPECT_EQ(units, (std::vector<std::string>{"kg", "kg"}));
}

// A byte 0 inside a line: the read-out and the report view end the line there, but the additions
// keep the rest, the byte shown as U+2400: the service's event (and /api/v1/weight for a
// reading), the journal's text (/api/v1/lines), the CSV export and the XLSX export as a
// spreadsheet reader sees its cells.
TEST(Station, AByteZeroKeepsTheRestOfTheLineInEveryAddition) {
    struct Case {
        const char* name;
        std::string sent;
        const char* kind;
        QString text;
    };
    const Case cases[] = {
        {"a report", std::string("Brutto\0 12,5 kg", 15), "report",
         QStringLiteral("Brutto\u2400 12,5 kg")},
        {"a reading, the rest no number", std::string(" 12,50\0xyz", 10), "reading",
         QStringLiteral(" 12,50\u2400xyz")},
        {"byte 0 first", std::string("\0TARA", 5), "report", QStringLiteral("\u2400TARA")},
        {"two, then Polish letters", std::string("a\0\0\xB3\xB9", 5), "report",
         QStringLiteral("a\u2400\u2400\u0142\u0105")},
    };
    Workplace place;
    const quint16 port = FreePort();
    ASSERT_NE(port, 0);
    place.Write("dodatki.ini", "[SerwerWagi]\nWlaczony=1\nPort=" + std::to_string(port) + "\n");
    ChildProcess station({"/usr/bin/env", "-u", "DISPLAY", "-u", "QT_QPA_PLATFORM",
                          "WAGA_DIR=" + place.Dir(), BinPath("waga-stacja")},
                         place.Dir());
    ASSERT_TRUE(WaitUntil([&] { return Count(station.Stderr(), "COM2: Połączenie RS232") == 1; }))
        << station.Stderr();
    ASSERT_TRUE(WaitUntil([&] { return Get(port, "/api/v1/health").status == 200; }))
        << station.Stderr();
    SseClient events(port);  // the port is open: its state comes first, and no other
    ASSERT_EQ(events.Answer().status, 200);
    ASSERT_EQ(events.Take(1).value(0).name, "status");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(place.Pty().Write(c.sent + "\r\n"));
        const QList<SseEvent> got = events.Take(1);
        ASSERT_EQ(got.size(), 1);
        EXPECT_EQ(got[0].name, c.kind);
        EXPECT_EQ(got[0].data.value("text").toString().toStdString(), c.text.toStdString());
        if (std::string_view(c.kind) == "reading") {
            const QString reading = QString(c.text).remove(u' ');
            EXPECT_TRUE(WaitUntil([&] {
                return Get(port, "/api/v1/weight").Json().value("reading").toString() == reading;
            })) << Get(port, "/api/v1/weight").body.toStdString();
        }
    }
    QStringList journal;
    EXPECT_TRUE(WaitUntil([&] {
        journal.clear();
        for (const QJsonValue& row : Get(port, "/api/v1/lines").Json().value("lines").toArray())
            journal << row.toObject().value("text").toString();
        return journal.size() == std::ssize(cases);
    })) << journal.join(u'|').toStdString();
    station.Signal(SIGTERM);
    ASSERT_EQ(station.Wait(), 0) << station.Stderr();

    ChildProcess csv({BinPath("waga-journal"), "export", "--format", "csv"}, place.Dir());
    ASSERT_EQ(csv.Wait(), 0) << csv.Stderr();
    ChildProcess xlsx({BinPath("waga-journal"), "export", "--format", "xlsx", "--output",
                       place.File("eksport.xlsx")},
                      place.Dir());
    ASSERT_EQ(xlsx.Wait(), 0) << xlsx.Stderr();
    ChildProcess cells({"/usr/bin/env", "PYTHONIOENCODING=utf-8", "/usr/bin/python3", "-c",
                        "import openpyxl, sys\n"
                        "sheet = openpyxl.load_workbook(sys.argv[1]).active\n"
                        "for row in sheet.iter_rows(min_row=2, values_only=True):\n"
                        "    print(row[4])\n",
                        place.File("eksport.xlsx")},
                       place.Dir());
    ASSERT_EQ(cells.Wait(), 0) << cells.Stderr();
    const QStringList sheet =
        QString::fromStdString(cells.Stdout()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(sheet.size(), std::ssize(cases)) << cells.Stdout();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(journal.value(static_cast<qsizetype>(i)).toStdString(),
                  cases[i].text.toStdString());
        EXPECT_NE(csv.Stdout().find(";\"" + cases[i].text.toStdString() + "\";"), std::string::npos)
            << csv.Stdout();
        EXPECT_EQ(sheet[static_cast<qsizetype>(i)].toStdString(), cases[i].text.toStdString());
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, StationRun, testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) {
                             return info.param == SIGTERM ? "SIGTERM" : "SIGINT";
                         });

}  // namespace
