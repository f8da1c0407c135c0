// The recording switch, the day's file and the choice of another file, with real boxes and the
// real save dialog, through the window as the operator reaches them.

#include <QCheckBox>
#include <QDate>
#include <QDir>
#include <QFileDialog>

#include "ProgramRun.h"
#include "RecordingSwitch.h"
#include "UiFixture.h"

namespace {

const char* const kSwitchOff = "Czy jesteś pewny że chcesz wyłączyć zapisywanie do pliku?";
const char* const kSwitchOnError =
    "Błąd zapisu do pliku!\nPrawdopodobnie nieprawidłowa ścieżka do pliku\nlub brak miejsca na "
    "dysku.";
const char* const kDayFileError = "Błąd zapisu do pliku!\nPrawdopodobnie brak miejsca na dysku.";
const char* const kRename =
    "Aby zmienić nazwę pliku, należy wyłączyć \"zapis do pliku\".\nCzy napewno wyłączyć \"zapis "
    "do pliku\"?";

bool Exists(const std::string& path) { return QFile::exists(QString::fromStdString(path)); }

}  // namespace

TEST(DayFileNameRule, FourDigitYearTwoDigitMonthAndDay) {
    std::tm date{};
    date.tm_year = 2026 - 1900;
    date.tm_mon = 11;
    date.tm_mday = 6;
    EXPECT_EQ(DayFileName(date), "20261206");
    date.tm_year = 1999 - 1900;
    date.tm_mon = 0;
    date.tm_mday = 31;
    EXPECT_EQ(DayFileName(date), "19990131");
}

using RecordingTest = UiFixture;

TEST_F(RecordingTest, DayFileIsNamedAndCreatedWhenRecordingIsOn) {
    const QString before = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    Form().CreateDayFile();
    const QString after = QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    const QString name = Find<QLineEdit>(Form(), "Enazwapliku")->text();
    EXPECT_TRUE(name == before || name == after);
    EXPECT_TRUE(Exists(Path(name.toStdString())));
    EXPECT_TRUE(Switches().Recording());
    Feed("linia\r");
    EXPECT_EQ(ReadFile(Path(name.toStdString())), "linia\r\n");
}

TEST_F(RecordingTest, DayFileStepKeepsAnExistingFileAndCreatesNothingWhenOff) {
    waga::test::ScopedMiddayZone midday;  // the name is made ahead of the window's
    const std::string name =
        QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString();
    WriteFile(Path(name), "stare\r\n");
    Form().CreateDayFile();
    EXPECT_EQ(ReadFile(Path(name)), "stare\r\n");
    QFile::remove(QString::fromStdString(Path(name)));
    Switches().SetRecording(false);
    Form().CreateDayFile();
    EXPECT_FALSE(Exists(Path(name)));
    EXPECT_EQ(Find<QLineEdit>(Form(), "Enazwapliku")->text().toStdString(), name);
}

// The day's file cannot be created: the working directory has been removed, which refuses a new
// file to every user, root included.
TEST_F(RecordingTest, DayFileCreationFailureShowsTheBoxThenSwitchesOff) {
    ASSERT_TRUE(QDir(QString::fromStdString(dir_->Path())).mkpath(QStringLiteral("gone")));
    waga::test::ScopedWorkingDir into(Path("gone"));
    ASSERT_TRUE(QDir(QString::fromStdString(dir_->Path())).rmdir(QStringLiteral("gone")));
    ModalAnswerer answerer;
    bool onWhileBoxOpen = false;
    answerer.Push([&](QWidget* box) {
        onWhileBoxOpen = Switches().Recording();
        ModalAnswerer::ClickButton("OK")(box);
    });
    Form().CreateDayFile();
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].title, QString::fromUtf8("Błąd"));
    EXPECT_EQ(answerer.Seen()[0].text, QString::fromUtf8(kDayFileError));
    EXPECT_TRUE(onWhileBoxOpen);  // switched off only after the box was closed
    EXPECT_FALSE(Switches().Recording());
}

// Every row of the operator's table for a left press on the recording switch.
TEST_F(RecordingTest, LeftPressRows) {
    struct Row {
        const char* what;
        bool before;
        bool fileExists;
        std::string name;  // relative to the test directory, or a path into a missing folder
        std::vector<ModalAnswerer::Action> answers;
        std::vector<const char*> boxes;
        bool after;
    };
    std::vector<Row> rows = {
        {"on, Yes", true, true, "a.txt", {ModalAnswerer::ClickButton("&Tak")}, {kSwitchOff}, false},
        {"on, No", true, true, "a.txt", {ModalAnswerer::ClickButton("&Nie")}, {kSwitchOff}, true},
        {"on, Escape",
         true,
         true,
         "a.txt",
         {ModalAnswerer::PressKey(Qt::Key_Escape)},
         {kSwitchOff},
         true},
        {"on, closed", true, true, "a.txt", {ModalAnswerer::CloseWindow()}, {kSwitchOff}, true},
        {"on, Enter",
         true,
         true,
         "a.txt",
         {ModalAnswerer::PressKey(Qt::Key_Return)},
         {kSwitchOff},
         false},
        {"off, file exists", false, true, "a.txt", {}, {}, true},
        {"off, file created", false, false, "b.txt", {}, {}, true},
        {"off, folder missing",
         false,
         false,
         "missing/c.txt",
         {ModalAnswerer::ClickButton("OK")},
         {kSwitchOnError},
         false},
    };
    Form().SetActivePage(1);
    for (Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string path = Path(row.name);
        if (row.fileExists) WriteFile(path, "zawartosc");
        Switches().SetRecordingFileName(path);
        Switches().SetRecording(row.before);
        ModalAnswerer answerer;
        for (auto& answer : row.answers) answerer.Push(answer);
        ClickOn(Find<QCheckBox>(Form(), "CBzapis"));
        QApplication::processEvents();
        ASSERT_EQ(answerer.Seen().size(), row.boxes.size());
        for (std::size_t i = 0; i < row.boxes.size(); ++i) {
            EXPECT_EQ(answerer.Seen()[i].text, QString::fromUtf8(row.boxes[i]));
        }
        EXPECT_EQ(Switches().Recording(), row.after);
        if (row.fileExists) {
            EXPECT_EQ(ReadFile(path), "zawartosc");
        }
        if (!row.before && row.after) {
            EXPECT_TRUE(Exists(path));
        }
        EXPECT_EQ(answerer.Unexpected(), 0);
    }
}

TEST_F(RecordingTest, OtherButtonsDoNothing) {
    Form().SetActivePage(1);
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        for (bool before : {true, false}) {
            Switches().SetRecording(before);
            ModalAnswerer answerer;
            ClickOn(Find<QCheckBox>(Form(), "CBzapis"), button);
            QApplication::processEvents();
            EXPECT_TRUE(answerer.Seen().empty());
            EXPECT_EQ(Switches().Recording(), before);
        }
    }
}

// A press in the blank part of the box, right of its caption, runs the handler; the click
// must then toggle the box too, or the file would be created while recording stays off.
TEST_F(RecordingTest, ClickBesideTheCaptionTogglesLikeAnyOther) {
    Form().SetActivePage(1);
    const std::string path = Path("beside.txt");
    Switches().SetRecordingFileName(path);
    Switches().SetRecording(false);
    QCheckBox* box = Find<QCheckBox>(Form(), "CBzapis");
    const QPoint nearRightEdge(box->width() - 2, box->height() / 2);
    ModalAnswerer answerer;
    QTest::mouseClick(Form().windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      box->mapTo(&Form(), nearRightEdge));
    QApplication::processEvents();
    EXPECT_TRUE(answerer.Seen().empty());
    EXPECT_TRUE(Exists(path));
    EXPECT_TRUE(Switches().Recording());
}

// Mend: the space bar goes through the same handling as the left press, so switching on
// creates a missing file and switching off asks first.
TEST_F(RecordingTest, SpaceBarGoesThroughTheSameHandling) {
    Form().SetActivePage(1);
    Find<QCheckBox>(Form(), "CBzapis")->setFocus(Qt::TabFocusReason);
    const std::string path = Path("space.txt");
    Switches().SetRecordingFileName(path);
    Switches().SetRecording(false);
    QTest::keyClick(Find<QCheckBox>(Form(), "CBzapis"), Qt::Key_Space);
    EXPECT_TRUE(Switches().Recording());
    EXPECT_TRUE(Exists(path));
    Feed("po spacji\r");
    EXPECT_EQ(ReadFile(path), "po spacji\r\n");

    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("&Nie"));
    QTest::keyClick(Find<QCheckBox>(Form(), "CBzapis"), Qt::Key_Space);
    EXPECT_TRUE(Switches().Recording());
    answerer.Push(ModalAnswerer::ClickButton("&Tak"));
    QTest::keyClick(Find<QCheckBox>(Form(), "CBzapis"), Qt::Key_Space);
    EXPECT_FALSE(Switches().Recording());
    EXPECT_EQ(answerer.Seen().size(), 2u);

    Switches().SetRecordingFileName(Path("missing/x.txt"));
    answerer.Push(ModalAnswerer::ClickButton("OK"));
    QTest::keyClick(Find<QCheckBox>(Form(), "CBzapis"), Qt::Key_Space);
    EXPECT_FALSE(Switches().Recording());
    ASSERT_EQ(answerer.Seen().size(), 3u);
    EXPECT_EQ(answerer.Seen()[2].text, QString::fromUtf8(kSwitchOnError));
}

TEST_F(RecordingTest, RenameFlowRows) {
    struct Row {
        const char* what;
        bool before;
        std::vector<ModalAnswerer::Action> answers;
        bool dialogShown;
        bool chooses;
        bool after;
    };
    const std::string chosen = Path("wybrany.txt");
    std::vector<Row> rows = {
        {"on, No", true, {ModalAnswerer::ClickButton("&Nie")}, false, false, true},
        {"on, Yes, cancelled",
         true,
         {ModalAnswerer::ClickButton("&Tak"), ModalAnswerer::RejectDialog()},
         true,
         false,
         false},
        {"on, closed box, chosen",
         true,
         {ModalAnswerer::CloseWindow(),
          ModalAnswerer::AcceptFileDialog(QString::fromStdString(chosen))},
         true,
         true,
         false},
        {"off, chosen",
         false,
         {ModalAnswerer::AcceptFileDialog(QString::fromStdString(chosen))},
         true,
         true,
         false},
    };
    const QString startDir = QDir::currentPath();
    for (Row& row : rows) {
        SCOPED_TRACE(row.what);
        Switches().SetRecordingFileName("20261206");
        Switches().SetRecording(row.before);
        bool onWhileDialogOpen = true;
        ModalAnswerer answerer;
        for (std::size_t i = 0; i < row.answers.size(); ++i) {
            auto answer = row.answers[i];
            answerer.Push([&, answer](QWidget* modal) {
                if (qobject_cast<QFileDialog*>(modal)) onWhileDialogOpen = Switches().Recording();
                answer(modal);
            });
        }
        Find<QPushButton>(Form(), "Bzmienplik")->click();
        const auto& seen = answerer.Seen();
        ASSERT_EQ(seen.size(), row.answers.size());
        if (row.before) {
            EXPECT_EQ(seen[0].text, QString::fromUtf8(kRename));
        }
        EXPECT_EQ(!seen.empty() && seen.back().className == "QFileDialog", row.dialogShown);
        if (row.dialogShown) {
            EXPECT_FALSE(onWhileDialogOpen);
        }
        EXPECT_EQ(Find<QLineEdit>(Form(), "Enazwapliku")->text().toStdString(),
                  row.chooses ? chosen : "20261206");
        EXPECT_EQ(Switches().Recording(), row.after);
        EXPECT_FALSE(Exists(chosen));  // choosing creates nothing
        EXPECT_EQ(QDir::currentPath(), startDir);
    }
}

TEST_F(RecordingTest, SaveDialogSettingsAndTheLastChosenName) {
    QFileDialog* dialog = Find<QFileDialog>(Form(), "SDplikzapisu");
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("Wszystkie pliki (*)")});
    Switches().SetRecording(false);
    const QString first = QString::fromStdString(Path("pierwszy.txt"));
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::AcceptFileDialog(first));
    Find<QPushButton>(Form(), "Bzmienplik")->click();
    QStringList offered;
    answerer.Push([&](QWidget* modal) {
        offered = static_cast<QFileDialog*>(modal)->selectedFiles();
        ModalAnswerer::RejectDialog()(modal);
    });
    Find<QPushButton>(Form(), "Bzmienplik")->click();
    EXPECT_EQ(offered, QStringList{first});
    EXPECT_EQ(Find<QLineEdit>(Form(), "Enazwapliku")->text(), first);
}
