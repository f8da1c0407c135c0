// The window against its layout tables: geometry, captions, fonts, initial values, menu, tab
// order, fixed size, and the read-out keeping its size whatever it is given.

#include <QAction>
#include <QActionGroup>
#include <QFontInfo>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include "ReadoutLabel.h"
#include "UiFixture.h"

namespace {

struct Placement {
    const char* name;
    const char* parent;  // objectName of the widget the geometry is relative to
    QRect geometry;
};

const Placement kPlacements[] = {
    {"Pryswagi", "Client", QRect(48, 8, 161, 129)},
    {"Image1", "Pryswagi", QRect(16, 8, 137, 113)},
    {"Ldisplay", "Client", QRect(216, 8, 345, 97)},
    {"Ljednost", "Client", QRect(216, 104, 345, 33)},
    {"PCustawienia", "Client", QRect(568, 0, 217, 137)},
    {"Mraport", "Client", QRect(48, 144, 689, 361)},
    {"StatusBar", "Client", QRect(0, 504, 792, 22)},
    {"Ivek", "TSvek", QRect(32, 8, 145, 49)},
    {"Label5", "TSvek", QRect(64, 64, 89, 13)},
    {"Lvek2", "TSvek", QRect(48, 80, 114, 13)},
    {"Lvek3", "TSvek", QRect(64, 96, 86, 13)},
    {"GBustawplik", "TSplik", QRect(0, 4, 209, 105)},
    {"CBzapis", "GBustawplik", QRect(8, 16, 97, 17)},
    {"Enazwapliku", "GBustawplik", QRect(8, 40, 193, 21)},
    {"Bzmienplik", "GBustawplik", QRect(120, 16, 83, 17)},
    {"CBciaglyplik", "GBustawplik", QRect(8, 64, 97, 17)},
    {"GBustawmemo", "TSraport", QRect(0, 4, 209, 105)},
    {"Lmaxlinie1", "GBustawmemo", QRect(8, 22, 60, 13)},
    {"Emaxlinie", "GBustawmemo", QRect(78, 18, 49, 21)},
    {"Lmaxlinie2", "GBustawmemo", QRect(136, 22, 17, 13)},
    {"RBautoucinaj", "GBustawmemo", QRect(32, 40, 113, 17)},
    {"RBautowyczysc", "GBustawmemo", QRect(32, 56, 97, 17)},
    {"CBciaglymemo", "GBustawmemo", QRect(8, 72, 113, 17)},
    {"Bwyczysc", "GBustawmemo", QRect(144, 80, 59, 17)},
};

struct Caption {
    const char* name;
    const char* text;
};

const Caption kCaptions[] = {
    {"Ldisplay", "-9999.99"},
    {"Ljednost", "kg"},
    {"CBzapis", "Zapis do pliku"},
    {"Bzmienplik", "Zmień nazwę..."},
    {"CBciaglyplik", "Zapisuj display"},
    {"Lmaxlinie1", "Po zapisaniu"},
    {"Lmaxlinie2", "linii:"},
    {"RBautoucinaj", "kasuj początek"},
    {"RBautowyczysc", "wyczyść całość"},
    {"CBciaglymemo", "Wyświetlaj display"},
    {"Bwyczysc", "Wyczyść"},
    {"GBustawplik", "Ustawienia zapisu"},
    {"GBustawmemo", "Ustawienia podglądu"},
};

QString TextOf(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    return {};
}

struct MenuRow {
    const char* name;
    const char* menu;
    const char* caption;
    bool radio;
    bool checked;
    bool separator;
};

const MenuRow kMenu[] = {
    {"Mwaga", "MMwidok", "&Waga", true, true, false},
    {"Mplik", "MMwidok", "Ustawienia &zapisu do pliku", true, false, false},
    {"Mpodglad", "MMwidok", "Ustawienia &podglądu", true, false, false},
    {"N2", "MMwidok", "", false, false, true},
    {"MMustaw_rs", "MMwidok", "Parametry &transmisji...", false, false, false},
    {"MMporty", "MMwidok", "Porty &szeregowe...", false, false, false},
    {"Pomoc1", "MMpom", "&Pomoc...", false, false, false},
    {"MMabout", "MMpom", "&O programie...", false, false, false},
    {"N1", "MMpom", "", false, false, true},
    {"Koniec1", "MMpom", "&Wyjście z programu", false, false, false},
};

}  // namespace

using LayoutTest = UiFixture;

TEST_F(LayoutTest, EveryControlSitsWhereTheTableSays) {
    for (const Placement& row : kPlacements) {
        SCOPED_TRACE(row.name);
        auto* widget = Form().findChild<QWidget*>(QString::fromLatin1(row.name));
        auto* parent = Form().findChild<QWidget*>(QString::fromLatin1(row.parent));
        ASSERT_NE(widget, nullptr);
        ASSERT_NE(parent, nullptr);
        EXPECT_EQ(widget->parentWidget(), parent);
        EXPECT_EQ(widget->geometry(), row.geometry);
    }
}

TEST_F(LayoutTest, CaptionsAndInitialTexts) {
    for (const Caption& row : kCaptions) {
        SCOPED_TRACE(row.name);
        auto* widget = Form().findChild<QWidget*>(QString::fromLatin1(row.name));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(TextOf(widget), QString::fromUtf8(row.text));
    }
    EXPECT_EQ(Form().windowTitle(), QString::fromUtf8("Program do komunikacji z wagą."));
    EXPECT_EQ(Find<QTabWidget>(Form(), "PCustawienia")->count(), 3);
    const char* tabs[] = {"Waga", "Plik", "Podgląd"};
    const char* pages[] = {"TSvek", "TSplik", "TSraport"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Find<QTabWidget>(Form(), "PCustawienia")->tabText(i), QString::fromUtf8(tabs[i]));
        EXPECT_EQ(Find<QTabWidget>(Form(), "PCustawienia")->widget(i)->objectName(),
                  QString::fromLatin1(pages[i]));
    }
    EXPECT_EQ(Find<QLineEdit>(Form(), "Enazwapliku")->toolTip(),
              QString::fromUtf8("Nazwa pliku do którego zapisywane są dane z wagi. Aby ją "
                                "zmienić wybierz \"Zmień nazwę...\"."));
}

TEST_F(LayoutTest, InitialStateOfSwitchesPagesAndViews) {
    EXPECT_TRUE(Find<QCheckBox>(Form(), "CBzapis")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(Form(), "CBciaglyplik")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(Form(), "CBciaglymemo")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>(Form(), "RBautoucinaj")->isChecked());
    EXPECT_FALSE(Find<QRadioButton>(Form(), "RBautowyczysc")->isChecked());
    EXPECT_TRUE(Find<QLineEdit>(Form(), "Enazwapliku")->isReadOnly());
    EXPECT_EQ(ActivePage(Form()), 2);  // the page stored in the layout
    EXPECT_TRUE(Find<QAction>(Form(), "Mwaga")->isChecked());
    EXPECT_EQ(Form().ReportDisplay().LineCount(), 0);
    EXPECT_TRUE(StatusText(Form()).isEmpty());
    EXPECT_EQ(Switches().MaxReportLines(), 300);
    EXPECT_EQ(Find<ReportView>(Form(), "Mraport")->horizontalScrollBarPolicy(),
              Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(Find<ReportView>(Form(), "Mraport")->verticalScrollBarPolicy(),
              Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(Find<QStatusBar>(Form(), "StatusBar")->isSizeGripEnabled());
    EXPECT_EQ(Find<QLabel>(Form(), "Image1")->pixmap().size(), QSize(136, 115));
    EXPECT_EQ(Find<QLabel>(Form(), "Ivek")->pixmap().size(), QSize(142, 48));
    EXPECT_FALSE(Form().windowIcon().isNull());
}

TEST_F(LayoutTest, FixedSizeWindowWithMinimiseOnly) {
    EXPECT_EQ(Find<QWidget>(Form(), "Client")->size(), QSize(792, 526));
    EXPECT_EQ(Form().minimumSize(), Form().maximumSize());
    const Qt::WindowFlags flags = Form().windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
}

TEST_F(LayoutTest, FontsByPixelSize) {
    struct Row {
        QWidget* widget;
        const char* family;
        int pixelSize;
        bool bold;
    } rows[] = {
        {Find<QLabel>(Form(), "Ldisplay"), "Liberation Sans", 86, false},
        {Find<QLabel>(Form(), "Ljednost"), "Liberation Sans", 28, true},
        {Find<ReportView>(Form(), "Mraport"), "Liberation Mono", 13, false},
        {Find<QCheckBox>(Form(), "CBzapis"), "Liberation Sans", 10, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.widget->objectName().toStdString());
        const QFontInfo info(row.widget->font());
        EXPECT_EQ(info.family(), QString::fromLatin1(row.family));
        EXPECT_EQ(info.pixelSize(), row.pixelSize);
        EXPECT_EQ(info.bold(), row.bold);
    }
    // The read-out's widest usual text fits its box.
    EXPECT_LE(Find<QLabel>(Form(), "Ldisplay")
                  ->fontMetrics()
                  .horizontalAdvance(QStringLiteral("-9999.99")),
              345);
}

TEST_F(LayoutTest, ShortCaptionsFitTheirBoxes) {
    for (QLabel* label : {Find<QLabel>(Form(), "Lmaxlinie1"), Find<QLabel>(Form(), "Lmaxlinie2"),
                          Find<QLabel>(Form(), "Label5"), Find<QLabel>(Form(), "Lvek2"),
                          Find<QLabel>(Form(), "Lvek3")}) {
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    }
}

TEST_F(LayoutTest, MenuItemsWithRadioGroupAndSeparators) {
    EXPECT_EQ(Form().menuBar()->actions().size(), 2);
    EXPECT_EQ(Find<QMenu>(Form(), "MMwidok")->title(), QStringLiteral("&Widok"));
    EXPECT_EQ(Find<QMenu>(Form(), "MMpom")->title(), QStringLiteral("&Pomoc"));
    for (const MenuRow& row : kMenu) {
        SCOPED_TRACE(row.name);
        auto* action = Form().findChild<QAction*>(QString::fromLatin1(row.name));
        ASSERT_NE(action, nullptr);
        auto* menu = Form().findChild<QMenu*>(QString::fromLatin1(row.menu));
        EXPECT_TRUE(menu->actions().contains(action));
        EXPECT_EQ(action->isSeparator(), row.separator);
        if (!row.separator) {
            EXPECT_EQ(action->text(), QString::fromUtf8(row.caption));
        }
        EXPECT_EQ(action->actionGroup() == Find<QActionGroup>(Form(), "ViewGroup"), row.radio);
        EXPECT_EQ(action->isChecked(), row.checked);
        EXPECT_TRUE(action->shortcut().isEmpty());
    }
    EXPECT_TRUE(Find<QActionGroup>(Form(), "ViewGroup")->isExclusive());
}

TEST_F(LayoutTest, TabOrderOfEachPage) {
    auto order = [&](QWidget* from, int steps) {
        std::vector<QString> names;
        QWidget* w = from;
        for (int i = 0; i < steps; ++i) {
            w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(&Form())) {
                w = w->nextInFocusChain();
            }
            names.push_back(w->objectName());
        }
        return names;
    };
    Form().SetActivePage(1);
    EXPECT_EQ(
        order(Find<QTabWidget>(Form(), "PCustawienia")->tabBar(), 5),
        (std::vector<QString>{"CBzapis", "Enazwapliku", "Bzmienplik", "CBciaglyplik", "Mraport"}));
    Form().SetActivePage(2);
    // The chain holds both radio buttons; the Tab key itself stops only at the selected one.
    EXPECT_EQ(order(Find<QTabWidget>(Form(), "PCustawienia")->tabBar(), 6),
              (std::vector<QString>{"Bwyczysc", "RBautowyczysc", "RBautoucinaj", "Emaxlinie",
                                    "CBciaglymemo", "Mraport"}));
}

TEST_F(LayoutTest, LongTextsNeverWidenTheReadOutOrTheWindow) {
    const QSize window = Form().size();
    Switches().SetRecording(false);
    for (const std::string& line :
         {std::string(5000, '9'), std::string("1") + std::string(3000, '0') + ".5",
          std::string(200, '7') + "\r"}) {
        Feed(line + "\r");
        QApplication::processEvents();
        EXPECT_EQ(Find<QLabel>(Form(), "Ldisplay")->size(), QSize(345, 97));
        EXPECT_EQ(Find<QLabel>(Form(), "Ldisplay")->pos(), QPoint(216, 8));
        EXPECT_EQ(Form().size(), window);
    }
}

namespace {
// The largest difference of one colour channel between two pictures of one size (256: sizes
// differ).
int LargestColourDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 256;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    int largest = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int column = 0; column < x.width(); ++column) {
            const QRgb p = x.pixel(column, row);
            const QRgb q = y.pixel(column, row);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return largest;
}
}  // namespace

// Readings from fitting to far too long: whatever is drawn is the reading's own characters (its
// end, behind a "…" where it had to be cut) and never wider than the box; a reading that fits
// keeps the read-out's own size. The font sizes used are printed.
TEST_F(LayoutTest, AReadingTooWideForTheBoxIsShrunkNeverClipped) {
    Switches().SetRecording(false);
    auto* readout = Find<ReadoutLabel>(Form(), "Ldisplay");
    const QString ellipsis = QString::fromUtf8("…");
    const std::string longest = std::string(LineAssembler::kMaxPendingLine - 1, '0') + "7";
    for (const std::string& reading :
         {std::string("-9999.99"), std::string("12345.67"), std::string("9999999.99"),
          std::string("123456789.12"), std::string("-12345678901234567.5"), std::string(60, '9'),
          std::string(300, '8'), longest}) {
        SCOPED_TRACE(reading.size());
        Feed(reading + "\r");
        ASSERT_EQ(ReadoutBytes(Form()), reading);
        // Readings in quick succession are drawn once the frame is over.
        ASSERT_TRUE(waga::test::RunEventsUntil([&] { return !readout->DrawPending(); }));
        const QString drawn = readout->text();
        // Drawn right-aligned, the text's ink must begin inside the box.
        const QFontMetrics metrics(readout->font());
        const int inkLeft = readout->contentsRect().width() - metrics.horizontalAdvance(drawn) +
                            metrics.tightBoundingRect(drawn).left();
        EXPECT_GE(inkLeft, 0);
        const QString own = QString::fromStdString(reading);
        if (drawn.startsWith(ellipsis)) {
            EXPECT_TRUE(own.endsWith(drawn.mid(1)));
            EXPECT_EQ(readout->font().pixelSize(), ReadoutLabel::kSmallestPixelSize);
        } else {
            EXPECT_EQ(drawn, own);
        }
        if (reading == "-9999.99") {
            EXPECT_EQ(readout->font().pixelSize(), 86);  // fits as it is
        }
        // Its picture is the one a plain label with the same settings draws.
        QLabel plain;
        plain.setTextFormat(Qt::PlainText);
        plain.setFixedSize(readout->size());
        plain.setAlignment(readout->alignment());
        plain.setFont(readout->font());
        plain.setPalette(readout->palette());
        plain.setAutoFillBackground(true);
        plain.setText(drawn);
        EXPECT_EQ(LargestColourDifference(readout->grab().toImage(), plain.grab().toImage()), 0);
        std::printf("reading of %zu characters: %d px%s\n", reading.size(),
                    readout->font().pixelSize(), drawn.startsWith(ellipsis) ? ", cut" : "");
    }
}
