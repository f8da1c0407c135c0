// The line-limit edit: accepted and rejected texts, Enter and Tab, the focus kept on a rejected
// text, refused page switches, trimming to value - 1 lines, and clearing the view.

#include "ReportLimit.h"
#include "UiFixture.h"

namespace {

const char* const kNotANumber = "Podana wartość nie jest prawidłowa!";
const char* const kOutOfRange = "Ilość linii musi być liczbą z przedziału 10-5000.";

struct LimitRow {
    const char* text;
    LimitCheck check;
    int value;
};

const LimitRow kLimitRows[] = {
    {"300", LimitCheck::Accepted, 300},   {"  300", LimitCheck::Accepted, 300},
    {"+300", LimitCheck::Accepted, 300},  {"10", LimitCheck::Accepted, 10},
    {"5000", LimitCheck::Accepted, 5000}, {"$12C", LimitCheck::Accepted, 300},
    {"300 ", LimitCheck::NotANumber, 0},  {"3OO", LimitCheck::NotANumber, 0},
    {"", LimitCheck::NotANumber, 0},      {"abc", LimitCheck::NotANumber, 0},
    {"9", LimitCheck::OutOfRange, 0},     {"5001", LimitCheck::OutOfRange, 0},
    {"-300", LimitCheck::OutOfRange, 0},  {"99999999999", LimitCheck::NotANumber, 0},
};

}  // namespace

TEST(ReportLimitRules, TextsAreCheckedLikeTheEditDoes) {
    for (const LimitRow& row : kLimitRows) {
        SCOPED_TRACE(row.text);
        const LimitVerdict verdict = CheckLineLimit(Win1250Text(row.text));
        EXPECT_EQ(verdict.check, row.check);
        if (row.check == LimitCheck::Accepted) {
            EXPECT_EQ(verdict.value, row.value);
        }
    }
    EXPECT_EQ(LimitMessage(LimitCheck::NotANumber), kNotANumber);
    EXPECT_EQ(LimitMessage(LimitCheck::OutOfRange), kOutOfRange);
}

using LimitEditTest = UiFixture;

// Tab out of the edit: accepted texts move the focus on, rejected ones bring one box each and
// keep the focus and the text.
TEST_F(LimitEditTest, LeavingWithTabAcceptsOrKeepsTheFocus) {
    for (const LimitRow& row : kLimitRows) {
        SCOPED_TRACE(row.text);
        Switches().SetMaxReportLines(300);
        TypeLimit(QString::fromLatin1(row.text));
        ModalAnswerer answerer;
        if (row.check != LimitCheck::Accepted) answerer.Push(ModalAnswerer::ClickButton("OK"));
        QTest::keyClick(Find<QLineEdit>(Form(), "Emaxlinie"), Qt::Key_Tab);
        QApplication::processEvents();
        if (row.check == LimitCheck::Accepted) {
            EXPECT_TRUE(answerer.Seen().empty());
            EXPECT_EQ(Switches().MaxReportLines(), row.value);
            EXPECT_NE(Focused(), Find<QLineEdit>(Form(), "Emaxlinie"));
        } else {
            ASSERT_EQ(answerer.Seen().size(), 1u);
            EXPECT_EQ(answerer.Seen()[0].title, QString::fromUtf8("Błąd"));
            EXPECT_EQ(answerer.Seen()[0].text, QString::fromUtf8(LimitMessage(row.check)));
            EXPECT_EQ(Switches().MaxReportLines(), 300);
            EXPECT_TRUE(Focused() == Find<QLineEdit>(Form(), "Emaxlinie"));
        }
        EXPECT_EQ(Find<QLineEdit>(Form(), "Emaxlinie")->text(),
                  QString::fromLatin1(row.text));  // never rewritten
        EXPECT_EQ(answerer.Unexpected(), 0);
    }
}

TEST_F(LimitEditTest, EnterMovesOnLikeTabAndInsertsNothing) {
    TypeLimit(QStringLiteral("120"));
    QTest::keyClick(Find<QLineEdit>(Form(), "Emaxlinie"), Qt::Key_Return);
    EXPECT_TRUE(Focused() == Find<QCheckBox>(Form(), "CBciaglymemo"));
    EXPECT_EQ(Switches().MaxReportLines(), 120);
    EXPECT_EQ(Find<QLineEdit>(Form(), "Emaxlinie")->text(), QStringLiteral("120"));

    TypeLimit(QStringLiteral("abc"));
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::PressKey(Qt::Key_Return));
    QTest::keyClick(Find<QLineEdit>(Form(), "Emaxlinie"), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(answerer.Seen().size(), 1u);
    EXPECT_TRUE(Focused() == Find<QLineEdit>(Form(), "Emaxlinie"));
    EXPECT_EQ(Find<QLineEdit>(Form(), "Emaxlinie")->text(), QStringLiteral("abc"));
    // Any other key goes to the edit as usual.
    QTest::keyClick(Find<QLineEdit>(Form(), "Emaxlinie"), Qt::Key_X);
    EXPECT_EQ(Find<QLineEdit>(Form(), "Emaxlinie")->text(), QStringLiteral("abcx"));
}

TEST_F(LimitEditTest, ClickElsewhereWithARejectedTextIsCancelled) {
    Switches().SetRecording(false);
    TypeLimit(QStringLiteral("9"));
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"));
    ClickOn(Find<QPushButton>(
        Form(), "Bwyczysc"));  // a press that would take the focus and click the button
    QApplication::processEvents();
    ASSERT_EQ(answerer.Seen().size(), 1u);  // the limit box only: the click never happened
    EXPECT_EQ(answerer.Seen()[0].text, QString::fromUtf8(kOutOfRange));
    EXPECT_TRUE(Focused() == Find<QLineEdit>(Form(), "Emaxlinie"));
    EXPECT_FALSE(Find<QPushButton>(Form(), "Bwyczysc")->isDown());
}

TEST_F(LimitEditTest, PageSwitchIsRefusedWhileTheTextIsRejected) {
    TypeLimit(QStringLiteral("x"));
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"));
    answerer.Push(ModalAnswerer::ClickButton("OK"));
    ClickTab(0);
    QApplication::processEvents();
    EXPECT_EQ(ActivePage(Form()), 2);
    EXPECT_TRUE(Focused() == Find<QLineEdit>(Form(), "Emaxlinie"));
    Reactivate();
    Find<QAction>(Form(), "Mwaga")->trigger();  // the menu's way to the page counts as leaving too
    QApplication::processEvents();
    EXPECT_EQ(ActivePage(Form()), 2);
    EXPECT_EQ(answerer.Seen().size(), 2u);
    EXPECT_EQ(answerer.Unexpected(), 0);

    Find<QLineEdit>(Form(), "Emaxlinie")->setText(QStringLiteral("50"));
    Reactivate();
    ClickTab(0);
    QApplication::processEvents();
    EXPECT_EQ(ActivePage(Form()), 0);
    EXPECT_TRUE(Find<QAction>(Form(), "Mwaga")->isChecked());
    EXPECT_EQ(Switches().MaxReportLines(), 50);
    EXPECT_EQ(answerer.Seen().size(), 2u);
}

// The box taking the focus from the window is not a further attempt to leave the edit.
TEST_F(LimitEditTest, TheBoxItselfDoesNotCountAsLeaving) {
    TypeLimit(QStringLiteral("abc"));
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"), 100);
    QTest::keyClick(Find<QLineEdit>(Form(), "Emaxlinie"), Qt::Key_Tab);
    waga::test::RunEvents(std::chrono::milliseconds(200));
    EXPECT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Unexpected(), 0);
}

TEST_F(LimitEditTest, AcceptedLimitTrimsTheViewFromTheTop) {
    struct Row {
        int lines;
        bool deleteOldest;
        const char* text;
        int remaining;
        const char* first;
    } rows[] = {
        {250, true, "100", 99, "r151"},  {100, true, "100", 100, "r0"},
        {250, false, "100", 99, "r151"},  // "wyczyść całość" trims the same way
        {250, true, "400", 250, "r0"},   {20, true, "10", 9, "r11"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lines);
        Switches().SetRecording(false);
        Switches().SetMaxReportLines(300);
        Form().ReportDisplay().Clear();
        FeedReportLines(row.lines);
        Switches().SetDeleteOldest(row.deleteOldest);
        TypeLimit(QString::fromLatin1(row.text));
        QTest::keyClick(Find<QLineEdit>(Form(), "Emaxlinie"), Qt::Key_Tab);
        EXPECT_EQ(Form().ReportDisplay().LineCount(), row.remaining);
        EXPECT_EQ(ReportLines().front(), row.first);
    }
    // After trimming to 99 lines, the next line makes 100 and the one after keeps 100.
    Form().ReportDisplay().Clear();
    Switches().SetMaxReportLines(300);
    FeedReportLines(250);
    TypeLimit(QStringLiteral("100"));
    QTest::keyClick(Find<QLineEdit>(Form(), "Emaxlinie"), Qt::Key_Tab);
    FeedReportLines(1, "a");
    EXPECT_EQ(Form().ReportDisplay().LineCount(), 100);
    FeedReportLines(1, "b");
    EXPECT_EQ(Form().ReportDisplay().LineCount(), 100);
}

TEST_F(LimitEditTest, ClearingAskedYesEmptiesNoKeeps) {
    struct Row {
        ModalAnswerer::Action answer;
        int remaining;
    } rows[] = {
        {ModalAnswerer::ClickButton("&Tak"), 0},
        {ModalAnswerer::ClickButton("&Nie"), 12},
        {ModalAnswerer::PressKey(Qt::Key_Escape), 12},
        {ModalAnswerer::PressKey(Qt::Key_Return), 0},
        {ModalAnswerer::CloseWindow(), 12},
    };
    Switches().SetRecording(false);
    for (Row& row : rows) {
        Form().ReportDisplay().Clear();
        FeedReportLines(12);
        Feed("7.5\r");  // a reading: shown, not in the report view
        ModalAnswerer answerer;
        answerer.Push(row.answer);
        Find<QPushButton>(Form(), "Bwyczysc")->click();
        ASSERT_EQ(answerer.Seen().size(), 1u);
        EXPECT_EQ(answerer.Seen()[0].title, QStringLiteral("Potwierdzenie"));
        EXPECT_EQ(answerer.Seen()[0].text,
                  QString::fromUtf8("Czy napewno wyczyścić okno z raportami?"));
        EXPECT_EQ(Form().ReportDisplay().LineCount(), row.remaining);
        EXPECT_EQ(ReadoutBytes(Form()), "7.5");
        EXPECT_EQ(Switches().MaxReportLines(), 300);
    }
}
