// The about dialog: folding, activation, the links' colours and shell calls, hiding.

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <vector>

#include "AboutDialog.h"
#include "AboutDialogParts.h"
#include "Controls.h"
#include "DialogTestSupport.h"
#include "Drawing.h"
#include "TestSupport.h"

namespace {

const QColor kBlue(0, 0, 255);
const QColor kPurple(128, 0, 128);

QColor TextColour(QWidget* label) { return label->palette().color(QPalette::WindowText); }

// An about box whose shell calls are recorded instead of started.
struct AboutBox {
    AboutDialog box;
    std::vector<QUrl> opened;
    AboutBox() {
        box.SetUrlOpener([this](const QUrl& url) { opened.push_back(url); });
    }
};

void ExpectFolded(const AboutDialog& box) {
    EXPECT_EQ(Find<BevelPanel>(box, "Panel1")->height(), 209);
    EXPECT_EQ(box.height(), AboutDialog::kFoldedClientHeight);
    EXPECT_EQ(Find<QPushButton>(box, "OKButton")->y(), 228);
    EXPECT_TRUE(box.Folded());
}

void ExpectUnfolded(const AboutDialog& box) {
    EXPECT_EQ(Find<BevelPanel>(box, "Panel1")->height(), 305);
    EXPECT_EQ(box.height(), AboutDialog::kUnfoldedClientHeight);
    EXPECT_EQ(Find<QPushButton>(box, "OKButton")->y(), 324);
    EXPECT_FALSE(box.Folded());
}

TEST(AboutBox, FirstShowingIsCentredFoldedWithTheVersion) {
    AboutBox about;
    EXPECT_EQ(Find<QLabel>(about.box, "Lversion")->text(), "(wersja)");
    about.box.show();
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return about.box.isVisible(); }));
    EXPECT_EQ(about.box.windowTitle(), "O producencie...");
    ExpectFolded(about.box);
    EXPECT_EQ(about.box.width(), 266);
    EXPECT_EQ(Find<QLabel>(about.box, "Lversion")->text(), "VEK_1.12");
    EXPECT_EQ(Find<QLabel>(about.box, "Lversion")->geometry().right() + 1, 226);
    EXPECT_TRUE(Find<QPlainTextEdit>(about.box, "Mreklama")->visibleRegion().isEmpty());
    EXPECT_EQ(Find<QPlainTextEdit>(about.box, "Mreklama")->document()->blockCount(), 31);
    const QPoint screenCentre = about.box.screen()->availableGeometry().center();
    EXPECT_LE((about.box.frameGeometry().center() - screenCentre).manhattanLength(), 2);
}

TEST(AboutBox, LaterShowingsKeepThePlace) {
    AboutBox about;
    about.box.show();
    about.box.move(10, 20);
    about.box.hide();
    about.box.show();
    EXPECT_EQ(about.box.pos(), QPoint(10, 20));
}

TEST(AboutBox, LogoClicksUnfoldAndFoldTwice) {
    AboutBox about;
    about.box.show();
    for (int round = 0; round < 2; ++round) {
        SendMouse(Find<ClickLabel>(about.box, "Ivek"), QEvent::MouseButtonPress, Qt::LeftButton,
                  Centre(Find<ClickLabel>(about.box, "Ivek")));
        SendMouse(Find<ClickLabel>(about.box, "Ivek"), QEvent::MouseButtonRelease, Qt::LeftButton,
                  Centre(Find<ClickLabel>(about.box, "Ivek")));
        ExpectUnfolded(about.box);
        EXPECT_FALSE(Find<QPlainTextEdit>(about.box, "Mreklama")->visibleRegion().isEmpty());
        about.box.IvekClick();
        ExpectFolded(about.box);
    }
}

TEST(AboutBox, ReturningFromTheMainWindowFoldsIt) {
    QWidget mainWindow;
    mainWindow.setWindowTitle("main");
    mainWindow.show();
    mainWindow.activateWindow();
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return mainWindow.isActiveWindow(); }));
    AboutBox about;
    about.box.show();
    about.box.activateWindow();
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return about.box.isActiveWindow(); }));
    about.box.IvekClick();
    ExpectUnfolded(about.box);
    mainWindow.activateWindow();
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return mainWindow.isActiveWindow(); }));
    ExpectUnfolded(about.box);  // still unfolded behind the main window
    about.box.activateWindow();
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return about.box.isActiveWindow(); }));
    ExpectFolded(about.box);
}

// Mouse presses and releases on the two links.
struct LinkRow {
    const char* what;
    bool emailLink;
    Qt::MouseButton button;
    bool releaseInside;
    const char* expectedUrl;  // nullptr: no shell call
    friend void PrintTo(const LinkRow& row, std::ostream* out) { *out << row.what; }
};

class AboutLink : public testing::TestWithParam<LinkRow> {};

TEST_P(AboutLink, TurnsPurpleWhilePressedAndBlueAfterwards) {
    AboutBox about;
    about.box.show();
    QWidget* link = GetParam().emailLink
                        ? static_cast<QWidget*>(Find<ClickLabel>(about.box, "Lvekemail"))
                        : static_cast<QWidget*>(Find<ClickLabel>(about.box, "Label3"));
    EXPECT_EQ(TextColour(link), kBlue);
    SendMouse(link, QEvent::MouseButtonPress, GetParam().button, Centre(link));
    EXPECT_EQ(TextColour(link), kPurple);
    EXPECT_TRUE(about.opened.empty()) << "the shell call comes on release";
    const QPoint releaseAt = GetParam().releaseInside ? Centre(link) : QPoint(-30, -30);
    SendMouse(link, QEvent::MouseButtonRelease, GetParam().button, releaseAt);
    EXPECT_EQ(TextColour(link), kBlue);
    if (GetParam().expectedUrl) {
        ASSERT_EQ(about.opened.size(), 1u);
        EXPECT_EQ(about.opened[0], QUrl(GetParam().expectedUrl));
    } else {
        EXPECT_TRUE(about.opened.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, AboutLink,
    testing::Values(
        LinkRow{"web_left_click", false, Qt::LeftButton, true, "http://www.vek.example"},
        LinkRow{"web_right_button", false, Qt::RightButton, true, nullptr},
        LinkRow{"web_middle_button", false, Qt::MiddleButton, true, nullptr},
        LinkRow{"web_left_released_outside", false, Qt::LeftButton, false, nullptr},
        LinkRow{"email_left_click", true, Qt::LeftButton, true, "mailto:biuro@vek.example"},
        LinkRow{"email_right_button", true, Qt::RightButton, true, nullptr},
        LinkRow{"email_left_released_outside", true, Qt::LeftButton, false, nullptr}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(AboutBox, OkHidesItAndTheNextShowingIsTheSameDialogFolded) {
    AboutBox about;
    about.box.show();
    about.box.IvekClick();
    Find<QPushButton>(about.box, "OKButton")->click();
    EXPECT_TRUE(about.box.isHidden());
    EXPECT_EQ(about.box.result(), QDialog::Accepted);
    about.box.show();
    ExpectFolded(about.box);
}

TEST(AboutBox, EnterPressesOk) {
    AboutBox about;
    about.box.show();
    about.box.activateWindow();
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return about.box.isActiveWindow(); }));
    EXPECT_TRUE(Find<QPushButton>(about.box, "OKButton")->isDefault());
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&about.box, &enter);
    EXPECT_TRUE(about.box.isHidden());
}

TEST(AboutBox, LogoIsSixtyByTwentyInSixteenColours) {
    const QImage logo = SmallMakerLogo().toImage();
    EXPECT_EQ(logo.size(), QSize(60, 20));
    QSet<QRgb> colours;
    for (int y = 0; y < logo.height(); ++y)
        for (int x = 0; x < logo.width(); ++x) colours.insert(logo.pixel(x, y));
    EXPECT_LE(colours.size(), 16);
    EXPECT_GE(colours.size(), 3);
}

}  // namespace

namespace {

TEST(AboutBox, EveryLabelShowsItsWholeTextInsideThePanel) {
    AboutBox about;
    about.box.show();
    for (QLabel* label : Find<BevelPanel>(about.box, "Panel1")->findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;  // the logo
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
        EXPECT_TRUE(Find<BevelPanel>(about.box, "Panel1")
                        ->rect()
                        .adjusted(2, 2, -2, -2)
                        .contains(label->geometry()));
    }
    EXPECT_LE(Find<QLabel>(about.box, "Label4")->geometry().right(),
              Find<ClickLabel>(about.box, "Label3")->x());
    EXPECT_LE(Find<QLabel>(about.box, "Label1")->geometry().right(),
              Find<ClickLabel>(about.box, "Lvekemail")->x());
}

}  // namespace
