// FormCreate with the real window, real pseudo-terminals and real boxes: what the operator finds
// after start-up for each kind of konfig.ini and port, the free-space threshold, a second copy,
// an unreadable konfig.ini, and the close.

#include <sys/file.h>

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <QTabWidget>
#include <filesystem>

#include "InstanceGuard.h"
#include "MessageBoxes.h"
#include "StartupFixture.h"

namespace {

const QString kOpenedCom2 =
    QString::fromUtf8("Połączenie RS232, COM2, prędkość: 2400 rozpoczęte. ");
const QString kStartFailed = QString::fromUtf8(
    "BŁĄD W TRAKCIE PRÓBY NAWIĄZANIA POŁĄCZENIA z WAGĄ! SPRAWDŹ KONFIGURACJE KOMPUTERA oraz "
    "KABEL i PONOWNIE URUCHOM PROGRAM!");

struct StartRow {
    const char* name;
    const char* konfig;       // nullptr: no konfig.ini
    const char* presentPort;  // linked to a pseudo-terminal
    const char* absentPort;   // linked to nothing (nullptr: none)
    QString status;
    const char* limitText;
    BaudRate speed;
    bool dayFileCreated;
};

void PrintTo(const StartRow& row, std::ostream* out) { *out << row.name; }

class StartSequence : public StartupFixture, public ::testing::WithParamInterface<StartRow> {};

TEST_P(StartSequence, LeavesTheWindowAsTheOperatorExpects) {
    const StartRow& row = GetParam();
    if (row.konfig != nullptr) WriteWorkFile("konfig.ini", row.konfig);
    LinkPort(row.presentPort);
    if (row.absentPort != nullptr) AbsentPort(row.absentPort);
    ModalAnswerer answerer;

    Startup().FormCreate();

    EXPECT_TRUE(answerer.Seen().empty()) << answerer.Seen().front().text.toStdString();
    EXPECT_EQ(StatusText(Form()), row.status);
    EXPECT_EQ(Find<QLineEdit>(Form(), "Emaxlinie")->text().toStdString(), row.limitText);
    EXPECT_EQ(Program().Port().ComPortSpeed(), row.speed);
    EXPECT_EQ(Program().Port().LineSettings().dataBits, db8BITS);
    EXPECT_EQ(Program().Port().LineSettings().parity, ptNONE);
    EXPECT_EQ(ActivePage(Form()), 0);
    EXPECT_TRUE(Find<QAction>(Form(), "Mwaga")->isChecked());
    EXPECT_EQ(Find<QLabel>(Form(), "Ivek")->toolTip(),
              QString::fromUtf8("INTERNET: www.vek.example\nEMAIL: biuro@vek.example"));
    EXPECT_EQ(WorkFile(Switches().RecordingFileName()),
              DayFile());  // named relative to the directory
    EXPECT_EQ(std::filesystem::exists(DayFile()), row.dayFileCreated);
    EXPECT_EQ(Form().pos(), QPoint(0, 0));
    EXPECT_FALSE(Startup().QuitPosted());
    EXPECT_TRUE(Startup().HoldsInstanceGuard());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StartSequence,
    ::testing::Values(
        StartRow{"NoKonfigCom2Present", nullptr, "COM2", nullptr, kOpenedCom2, "300", br2400, true},
        StartRow{"NoKonfigCom2Absent", nullptr, "COM3", "COM2", kStartFailed, "300", br2400, true},
        StartRow{"KonfigCom3At9600", "Numer_portu=3\r\nPredkosc_transmisji=9600\r\n", "COM3",
                 nullptr, QString::fromUtf8("Połączenie RS232, COM3, prędkość: 9600 rozpoczęte. "),
                 "300", br9600, true},
        StartRow{"KonfigRecordingOffAndLimit", "Zapis_do_pliku=0\r\nMaksym_ilosc_lini=500\r\n",
                 "COM2", nullptr, kOpenedCom2, "500", br2400, false},
        StartRow{"KonfigLimitNotAccepted", "Maksym_ilosc_lini=abc\r\n", "COM2", nullptr,
                 kOpenedCom2, "300", br2400, true},
        StartRow{"KonfigSpeedTheDialogCannotShow", "Predkosc_transmisji=57600\r\n", "COM2", nullptr,
                 QString::fromUtf8("Połączenie RS232, COM2, prędkość: 57600 rozpoczęte. "), "300",
                 br57600, true}),
    [](const ::testing::TestParamInfo<StartRow>& info) { return std::string(info.param.name); });

// ---- A port that fails at start ----

// Each cause of a failed start, and what comes of it while the program runs on: only a missing
// device is tried again (quietly, the failure text kept), and the terminal that appears later is
// then opened and announced with the usual text.
enum class StartCause { NoLink, LinkToNothing, RegularFile, HeldByAnotherProgram };

struct StartFailureRow {
    const char* name;
    StartCause cause;
    bool retried;
};

void PrintTo(const StartFailureRow& row, std::ostream* out) { *out << row.name; }

class StartFailure : public StartupFixture, public ::testing::WithParamInterface<StartFailureRow> {
  protected:
    void Prepare(StartCause cause) {
        switch (cause) {
            case StartCause::NoLink:
                break;
            case StartCause::LinkToNothing:  // an adapter's by-id name, the adapter unplugged
                AbsentPort("COM2");
                break;
            case StartCause::RegularFile:
                WriteWorkFile("COM2", "not a port");
                break;
            case StartCause::HeldByAnotherProgram:
                ASSERT_EQ(::flock(LinkPort("COM2").SlaveFd(), LOCK_EX | LOCK_NB), 0);
                break;
        }
    }
};

TEST_P(StartFailure, OnlyAMissingDeviceIsTriedAgain) {
    const StartFailureRow& row = GetParam();
    Prepare(row.cause);
    ModalAnswerer answerer;

    Startup().FormCreate();
    EXPECT_EQ(StatusText(Form()), kStartFailed);
    EXPECT_EQ(Program().Session().Retrying(), row.retried);

    // The scale comes: a terminal behind COM2, in place of whatever was there.
    std::filesystem::remove(WorkFile("COM2"));
    waga::test::PtyLink& pty = LinkPort("COM2");
    const bool opened = waga::test::RunEventsUntil([&] { return Program().Port().IsPortOpen(); },
                                                   std::chrono::milliseconds(2500));
    EXPECT_EQ(opened, row.retried);
    if (row.retried) {
        EXPECT_EQ(StatusText(Form()),
                  QString::fromUtf8("Połączenie RS232, COM2, prędkość: 2400 rozpoczęte."));
        EXPECT_TRUE(Find<QStatusBar>(Form(), "StatusBar")->toolTip().isEmpty());
        EXPECT_FALSE(Program().Session().Retrying());
        ASSERT_TRUE(pty.Write("RAPORT 1\r\n"));
        const std::string dayFile = std::filesystem::path(DayFile()).filename();
        EXPECT_TRUE(
            waga::test::RunEventsUntil([&] { return ReadWorkFile(dayFile) == "RAPORT 1\r\n"; }));
    } else {
        EXPECT_EQ(StatusText(Form()), kStartFailed);
    }
    EXPECT_TRUE(answerer.Seen().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StartFailure,
    ::testing::Values(StartFailureRow{"NoLink", StartCause::NoLink, true},
                      StartFailureRow{"LinkToAnUnpluggedAdapter", StartCause::LinkToNothing, true},
                      StartFailureRow{"NotATerminal", StartCause::RegularFile, false},
                      StartFailureRow{"HeldByAnotherProgram", StartCause::HeldByAnotherProgram,
                                      false}),
    [](const ::testing::TestParamInfo<StartFailureRow>& info) {
        return std::string(info.param.name);
    });

// ---- Free space ----

struct FreeSpaceRow {
    const char* name;
    std::int64_t freeBytes;
    bool warned;
};

void PrintTo(const FreeSpaceRow& row, std::ostream* out) { *out << row.name; }

class FreeSpaceCheck : public StartupFixture, public ::testing::WithParamInterface<FreeSpaceRow> {};

TEST_P(FreeSpaceCheck, WarnsBelowOneMillionBytesOnly) {
    const FreeSpaceRow& row = GetParam();
    LinkPort("COM2");
    Startup().SetFreeSpaceQuery([&] { return row.freeBytes; });
    ModalAnswerer answerer;
    if (row.warned) answerer.Push(ModalAnswerer::ClickButton("OK"));

    Startup().FormCreate();

    ASSERT_EQ(answerer.Seen().size(), row.warned ? 1u : 0u);
    EXPECT_EQ(answerer.Unexpected(), 0);
    if (row.warned) {
        const SeenModal& box = answerer.Seen().front();
        EXPECT_EQ(box.title, QString::fromUtf8("Ostrzeżenie"));
        EXPECT_EQ(box.icon, QMessageBox::Warning);
        EXPECT_EQ(box.buttons, QStringList{"OK"});
        EXPECT_EQ(box.text,
                  QString::fromUtf8("Zbyt mało wolnego miejsca na dysku!\nProgram potrzebuje około "
                                    "1MB wolnej przestrzeni do prawidłowego funkcjonowania."));
    }
    // The warning changes nothing else.
    EXPECT_EQ(StatusText(Form()), kOpenedCom2);
    EXPECT_TRUE(std::filesystem::exists(DayFile()));
}

INSTANTIATE_TEST_SUITE_P(Rows, FreeSpaceCheck,
                         ::testing::Values(FreeSpaceRow{"ExactlyOneMillion", 1'000'000, false},
                                           FreeSpaceRow{"OneByteLess", 999'999, true},
                                           FreeSpaceRow{"OneMebibyteIsEnough", 1'048'576, false},
                                           FreeSpaceRow{"QueryFailed", -1, true},
                                           FreeSpaceRow{"DiskFull", 0, true},
                                           FreeSpaceRow{"Plenty", std::int64_t{1} << 50, false}),
                         [](const ::testing::TestParamInfo<FreeSpaceRow>& info) {
                             return std::string(info.param.name);
                         });

// ---- A second copy ----

using SecondCopy = StartupFixture;

TEST_F(SecondCopy, IsToldThenEndsByItselfWithoutWritingKonfig) {
    InstanceGuard firstCopy;
    ASSERT_EQ(firstCopy.Acquire(), InstanceGuard::Result::Acquired);
    LinkPort("COM2");
    // The low-disk warning comes after the quit was posted: it must close by itself.
    Startup().SetFreeSpaceQuery([] { return std::int64_t{10}; });
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"));
    // Answers the warning only if it is still open after 3 s.
    answerer.Push(ModalAnswerer::ClickButton("OK"), 3000);

    Startup().FormCreate();

    ASSERT_EQ(answerer.Seen().size(), 1u);
    const SeenModal& box = answerer.Seen().front();
    EXPECT_EQ(box.title, QString::fromUtf8("Błąd"));
    EXPECT_EQ(box.text, QString::fromUtf8("Program jest już w uruchomiony!"));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(answerer.PendingActions(), 1u) << "the warning waited for an answer";
    EXPECT_TRUE(Startup().QuitPosted());
    EXPECT_TRUE(Startup().QuitTaken());
    EXPECT_FALSE(Startup().HoldsInstanceGuard());
    // Every remaining step still ran.
    EXPECT_EQ(StatusText(Form()), kOpenedCom2);
    EXPECT_EQ(Find<QLineEdit>(Form(), "Emaxlinie")->text(), "300");
    EXPECT_TRUE(std::filesystem::exists(DayFile()));
    // Its window closing (should it happen) writes no konfig.ini, and the first copy keeps the
    // guard.
    Form().close();
    EXPECT_FALSE(std::filesystem::exists(WorkFile("konfig.ini")));
    InstanceGuard third;
    EXPECT_EQ(third.Acquire(), InstanceGuard::Result::AlreadyRunning);
}

TEST_F(SecondCopy, QuitIsTakenByTheNextEventLoopWhenNoBoxFollows) {
    InstanceGuard firstCopy;
    ASSERT_EQ(firstCopy.Acquire(), InstanceGuard::Result::Acquired);
    AbsentPort("COM2");
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"));

    Startup().FormCreate();
    EXPECT_TRUE(Startup().QuitPosted());
    EXPECT_FALSE(Startup().QuitTaken());
    EXPECT_EQ(StatusText(Form()), kStartFailed);

    QTimer::singleShot(5000, [] { QCoreApplication::exit(1); });  // no hang if it goes wrong
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(Startup().QuitTaken());
}

// ---- konfig.ini that exists but cannot be read ----

using UnreadableKonfig = StartupFixture;

TEST_F(UnreadableKonfig, BoxThenTheRestOfStartUpWithDefaults) {
    std::filesystem::create_directory(WorkFile("konfig.ini"));
    LinkPort("COM2");
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"));

    Startup().FormCreate();

    ASSERT_EQ(answerer.Seen().size(), 1u);
    const SeenModal& box = answerer.Seen().front();
    EXPECT_EQ(box.title, ApplicationTitle(QCoreApplication::applicationFilePath()));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.buttons, QStringList{"OK"});
    EXPECT_EQ(box.text, QString::fromUtf8("Nie można odczytać pliku ustawień konfig.ini.\n"
                                          "Program użyje ustawień domyślnych."));
    EXPECT_EQ(StatusText(Form()), kOpenedCom2);
    EXPECT_EQ(Find<QLineEdit>(Form(), "Emaxlinie")->text(), "300");
    EXPECT_EQ(ActivePage(Form()), 0);
    EXPECT_TRUE(std::filesystem::exists(DayFile()));
    EXPECT_EQ(Form().UnitCaption().Bytes(), "kg");

    // The close cannot replace a directory; it stays as it was.
    Form().close();
    EXPECT_TRUE(std::filesystem::is_directory(WorkFile("konfig.ini")));
}

// ---- Close ----

using CloseSequence = StartupFixture;

TEST_F(CloseSequence, WritesKonfigAndReleasesTheGuard) {
    WriteWorkFile("konfig.ini", "Jednostka=g\r\nNumer_portu=3\r\nKasuj_poczatek=0\r\n");
    LinkPort("COM3");
    Startup().FormCreate();
    InstanceGuard next;
    ASSERT_EQ(next.Acquire(), InstanceGuard::Result::AlreadyRunning);

    Form().close();

    EXPECT_EQ(ReadWorkFile("konfig.ini"),
              "Numer_portu=3\r\nPredkosc_transmisji=2400\r\nZapis_do_pliku=1\r\n"
              "Zapisuj_display=0\r\nWyswietlaj_display=0\r\nMaksym_ilosc_lini=300\r\n"
              "Kasuj_poczatek=0\r\nJednostka=g\r\n");
    EXPECT_EQ(next.Acquire(), InstanceGuard::Result::Acquired);
}

}  // namespace
