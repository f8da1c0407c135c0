// The message-box helper: titles, icons, buttons, answers, line breaks, placement; and the
// title and text of the box for an error that escaped a handler.

#include <QActionGroup>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include "MessageBoxes.h"
#include "UiFixture.h"
#include "UrlCatcher.h"

TEST(MessageBoxes, KindsHaveTheirTitlesIconsAndButtons) {
    struct Row {
        std::function<void()> show;
        const char* title;
        int icon;
        QStringList buttons;
    } rows[] = {
        {[] { ShowErrorBox(QStringLiteral("a\rb")); }, "Błąd", QMessageBox::Critical, {"OK"}},
        {[] { ShowWarningBox(QStringLiteral("a\rb")); },
         "Ostrzeżenie",
         QMessageBox::Warning,
         {"OK"}},
        {[] { AskConfirmationBox(QStringLiteral("a\rb")); },
         "Potwierdzenie",
         QMessageBox::Question,
         {"&Tak", "&Nie"}},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.title);
        ModalAnswerer answerer;
        QPoint centre;
        answerer.Push([&](QWidget* box) {
            centre = box->frameGeometry().center();
            box->close();
        });
        row.show();
        ASSERT_EQ(answerer.Seen().size(), 1u);
        const SeenModal& seen = answerer.Seen()[0];
        EXPECT_EQ(seen.title, QString::fromUtf8(row.title));
        EXPECT_EQ(seen.icon, row.icon);
        EXPECT_EQ(seen.text, QStringLiteral("a\nb"));  // '\r' starts a new line
        QStringList buttons = seen.buttons;
        buttons.sort();
        QStringList expected = row.buttons;
        expected.sort();
        EXPECT_EQ(buttons, expected);
        const QPoint screenCentre = QGuiApplication::primaryScreen()->geometry().center();
        EXPECT_LE((centre - screenCentre).manhattanLength(), 4);
    }
}

TEST(MessageBoxes, ConfirmationAnswers) {
    struct Row {
        ModalAnswerer::Action action;
        ConfirmAnswer answer;
    } rows[] = {
        {ModalAnswerer::ClickButton("&Tak"), ConfirmAnswer::Yes},
        {ModalAnswerer::ClickButton("&Nie"), ConfirmAnswer::No},
        {ModalAnswerer::PressKey(Qt::Key_Return), ConfirmAnswer::Yes},
        {ModalAnswerer::PressKey(Qt::Key_Escape), ConfirmAnswer::No},
        {ModalAnswerer::CloseWindow(), ConfirmAnswer::Closed},
    };
    for (Row& row : rows) {
        ModalAnswerer answerer;
        answerer.Push(row.action);
        EXPECT_EQ(AskConfirmationBox(QStringLiteral("?")), row.answer);
    }
}

TEST(MessageBoxes, EscapedErrorTitleAndText) {
    struct TitleRow {
        const char* path;
        const char* title;
    } titles[] = {
        {"/work/build/bin/Project1", "Project1"},
        {"C:/Program/PROJECT1.EXE", "Project1"},
        {"waga.tar.gz", "waga"},  // the first letter stays as it is
        {"x", "x"},
    };
    for (const TitleRow& row : titles) {
        EXPECT_EQ(ApplicationTitle(QString::fromLatin1(row.path)), QString::fromLatin1(row.title));
    }
    struct TextRow {
        const char* message;
        const char* shown;
    } texts[] = {
        {"", ""},        {"Brak pliku", "Brak pliku."}, {"Koniec.", "Koniec."},
        {"Co?", "Co?."},  // '?' sorts after '.': gets a stop
        {"a!", "a!"},     // '!' sorts before '.': none
        {"(x)", "(x)"},
    };
    for (const TextRow& row : texts) {
        SCOPED_TRACE(row.message);
        EXPECT_EQ(EscapedErrorText(QString::fromLatin1(row.message)),
                  QString::fromLatin1(row.shown));
    }
    ModalAnswerer answerer;
    answerer.Push(ModalAnswerer::ClickButton("OK"));
    ShowEscapedErrorBox(QStringLiteral("Brak dostępu"));
    ASSERT_EQ(answerer.Seen().size(), 1u);
    EXPECT_EQ(answerer.Seen()[0].title, ApplicationTitle(QCoreApplication::applicationFilePath()));
    EXPECT_EQ(answerer.Seen()[0].text, QString::fromUtf8("Brak dostępu."));
}

using NavigationTest = UiFixture;

TEST_F(NavigationTest, TabsMarkTheMenuAndTheMenuShowsPagesWithoutAChangeEvent) {
    struct Row {
        int tab;
        QAction* marked;
    } tabs[] = {{1, Find<QAction>(Form(), "Mplik")},
                {2, Find<QAction>(Form(), "Mpodglad")},
                {0, Find<QAction>(Form(), "Mwaga")}};
    for (const Row& row : tabs) {
        ClickTab(row.tab);
        EXPECT_EQ(ActivePage(Form()), row.tab);
        EXPECT_TRUE(row.marked->isChecked());
    }
    struct MenuRow {
        QAction* item;
        int page;
    } items[] = {{Find<QAction>(Form(), "Mpodglad"), 2},
                 {Find<QAction>(Form(), "Mplik"), 1},
                 {Find<QAction>(Form(), "Mplik"), 1},
                 {Find<QAction>(Form(), "Mwaga"), 0}};
    for (const MenuRow& row : items) {
        bool markedInHandler = false;
        row.item->trigger();
        markedInHandler = row.item->isChecked();
        EXPECT_EQ(ActivePage(Form()), row.page);
        EXPECT_TRUE(markedInHandler);
        EXPECT_EQ(int(Find<QActionGroup>(Form(), "ViewGroup")
                          ->actions()
                          .count(Find<QActionGroup>(Form(), "ViewGroup")->checkedAction())),
                  1);
    }
    EXPECT_FALSE(Find<QAction>(Form(), "MMustaw_rs")->isCheckable());  // never marked or cleared
    Form().SetActivePage(1);
    EXPECT_TRUE(Find<QAction>(Form(), "Mwaga")->isChecked());  // code sets the page without marking
}

TEST_F(NavigationTest, HelpOpensTheLocalDocumentAndExitCloses) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    Find<QAction>(Form(), "Pomoc1")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(catcher.last, QUrl::fromLocalFile(QDir::current().absoluteFilePath("doc/pomoc.htm")));
    EXPECT_TRUE(Form().isVisible());
    Find<QAction>(Form(), "Koniec1")->trigger();
    EXPECT_FALSE(Form().isVisible());
}
