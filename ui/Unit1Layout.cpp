// TForm1's fixed layout: the client area, the three pages and the menu, each built in its own
// function with the pixel geometry of the layout tables.

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>

#include "AreaCheckBox.h"
#include "Fonts.h"
#include "MakerData.h"
#include "Pictures.h"
#include "ReportView.h"
#include "Unit1.h"

namespace {

template <typename W>
W* Make(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top,
                  int width, int height) {
    auto* label = Make<QLabel>(parent, name, left, top, width, height);
    label->setTextFormat(Qt::PlainText);
    label->setText(caption);
    return label;
}

// A label whose text is set by the program: fixed size, so no text can widen it or the window.
QLabel* MakeReadoutLabel(QWidget* parent, const char* name, const QString& caption,
                         const QRect& box, const QFont& font) {
    QLabel* label = MakeLabel(parent, name, caption, box.x(), box.y(), box.width(), box.height());
    label->setFixedSize(box.size());
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    label->setWordWrap(false);
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label->setFont(font);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Midlight));  // 3-D light
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    return label;
}

QWidget* MakePage(QTabWidget* pages, const char* name, const QString& caption) {
    auto* page = new QWidget;
    page->setObjectName(QString::fromLatin1(name));
    pages->addTab(page, caption);
    return page;
}

QAction* MakeAction(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

QAction* MakeSeparator(QMenu* menu, const char* name) {
    QAction* separator = menu->addSeparator();
    separator->setObjectName(QString::fromLatin1(name));
    return separator;
}

}  // namespace

void TForm1::BuildClientControls() {
    Client = new QWidget(this);
    Client->setObjectName(QStringLiteral("Client"));
    Client->setFixedSize(792, 526);
    setCentralWidget(Client);

    Pryswagi = Make<QFrame>(Client, "Pryswagi", 48, 8, 161, 129);
    Pryswagi->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Pryswagi->setLineWidth(1);
    Image1 = Make<QLabel>(Pryswagi, "Image1", 16, 8, 137, 113);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QPixmap::fromImage(ScalePicture()));

    // Arial with a 96-pixel cell (86-pixel em): "-9999.99" stays whole in the 345-pixel box.
    Ldisplay = MakeReadoutLabel(Client, "Ldisplay", QStringLiteral("-9999.99"),
                                QRect(216, 8, 345, 97), ArialFont(86));
    Ljednost = MakeReadoutLabel(Client, "Ljednost", QStringLiteral("kg"),
                                QRect(216, 104, 345, 33), ArialFont(28, true));

    PCustawienia = Make<QTabWidget>(Client, "PCustawienia", 568, 0, 217, 137);
    PCustawienia->tabBar()->setAttribute(Qt::WA_Hover);  // tabs highlight under the pointer
    BuildWagaPage();
    BuildPlikPage();
    BuildPodgladPage();
    PCustawienia->setCurrentIndex(2);  // the page stored as active; start-up shows page 0

    Mraport = Make<ReportView>(Client, "Mraport", 48, 144, 689, 361);
    Mraport->setFont(CourierNewFont(13));
    QPalette palette = Mraport->palette();
    palette.setColor(QPalette::Text, Qt::black);
    Mraport->setPalette(palette);

    StatusBar = Make<QStatusBar>(Client, "StatusBar", 0, 504, 792, 22);
    StatusBar->setSizeGripEnabled(false);
}

void TForm1::BuildWagaPage() {
    TSvek = MakePage(PCustawienia, "TSvek", QStringLiteral("Waga"));
    Ivek = Make<QLabel>(TSvek, "Ivek", 32, 8, 145, 49);
    Ivek->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Ivek->setPixmap(QPixmap::fromImage(MakerLogo(QSize(142, 48))));
    Label5 = MakeLabel(TSvek, "Label5", QString::fromUtf8(maker::kCompanyLine), 64, 64, 89, 13);
    Lvek2 = MakeLabel(TSvek, "Lvek2", QString::fromUtf8(maker::kPhoneFaxLine), 48, 80, 114, 13);
    Lvek3 = MakeLabel(TSvek, "Lvek3", QString::fromUtf8(maker::kSecondPhoneLine), 64, 96, 86, 13);
}

void TForm1::BuildPlikPage() {
    TSplik = MakePage(PCustawienia, "TSplik", QStringLiteral("Plik"));
    GBustawplik = Make<QGroupBox>(TSplik, "GBustawplik", 0, 4, 209, 105);
    GBustawplik->setTitle(QStringLiteral("Ustawienia zapisu"));
    CBzapis = Make<AreaCheckBox>(GBustawplik, "CBzapis", 8, 16, 97, 17);
    CBzapis->setText(QStringLiteral("Zapis do pliku"));
    CBzapis->setChecked(true);
    Enazwapliku = Make<QLineEdit>(GBustawplik, "Enazwapliku", 8, 40, 193, 21);
    Enazwapliku->setReadOnly(true);
    Enazwapliku->setText(QStringLiteral("Enazwapliku"));
    Enazwapliku->setToolTip(QStringLiteral(
        "Nazwa pliku do którego zapisywane są dane z wagi. Aby ją zmienić wybierz \"Zmień "
        "nazwę...\"."));
    Bzmienplik = Make<QPushButton>(GBustawplik, "Bzmienplik", 120, 16, 83, 17);
    Bzmienplik->setText(QStringLiteral("Zmień nazwę..."));
    Bzmienplik->setAutoDefault(false);
    CBciaglyplik = Make<AreaCheckBox>(GBustawplik, "CBciaglyplik", 8, 64, 97, 17);
    CBciaglyplik->setText(QStringLiteral("Zapisuj display"));
}

void TForm1::BuildPodgladPage() {
    TSraport = MakePage(PCustawienia, "TSraport", QStringLiteral("Podgląd"));
    GBustawmemo = Make<QGroupBox>(TSraport, "GBustawmemo", 0, 4, 209, 105);
    GBustawmemo->setTitle(QStringLiteral("Ustawienia podglądu"));
    Lmaxlinie1 = MakeLabel(GBustawmemo, "Lmaxlinie1", QStringLiteral("Po zapisaniu"), 8, 22, 60, 13);
    Emaxlinie = Make<QLineEdit>(GBustawmemo, "Emaxlinie", 78, 18, 49, 21);
    Emaxlinie->setText(QStringLiteral("Emaxlinie"));
    Lmaxlinie2 = MakeLabel(GBustawmemo, "Lmaxlinie2", QStringLiteral("linii:"), 136, 22, 17, 13);
    RBautoucinaj = Make<QRadioButton>(GBustawmemo, "RBautoucinaj", 32, 40, 113, 17);
    RBautoucinaj->setText(QStringLiteral("kasuj początek"));
    RBautoucinaj->setChecked(true);
    RBautowyczysc = Make<QRadioButton>(GBustawmemo, "RBautowyczysc", 32, 56, 97, 17);
    RBautowyczysc->setText(QStringLiteral("wyczyść całość"));
    CBciaglymemo = Make<AreaCheckBox>(GBustawmemo, "CBciaglymemo", 8, 72, 113, 17);
    CBciaglymemo->setText(QStringLiteral("Wyświetlaj display"));
    Bwyczysc = Make<QPushButton>(GBustawmemo, "Bwyczysc", 144, 80, 59, 17);
    Bwyczysc->setText(QStringLiteral("Wyczyść"));
    Bwyczysc->setAutoDefault(false);
}

void TForm1::BuildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    MMwidok = bar->addMenu(QStringLiteral("&Widok"));
    MMwidok->setObjectName(QStringLiteral("MMwidok"));
    ViewGroup = new QActionGroup(this);
    ViewGroup->setExclusive(true);
    Mwaga = MakeAction(MMwidok, "Mwaga", QStringLiteral("&Waga"));
    Mplik = MakeAction(MMwidok, "Mplik", QStringLiteral("Ustawienia &zapisu do pliku"));
    Mpodglad = MakeAction(MMwidok, "Mpodglad", QStringLiteral("Ustawienia &podglądu"));
    for (QAction* item : {Mwaga, Mplik, Mpodglad}) {
        item->setCheckable(true);
        ViewGroup->addAction(item);
    }
    Mwaga->setChecked(true);
    N2 = MakeSeparator(MMwidok, "N2");
    MMustaw_rs = MakeAction(MMwidok, "MMustaw_rs", QStringLiteral("Parametry transmisji..."));

    MMpom = bar->addMenu(QStringLiteral("&Pomoc"));
    MMpom->setObjectName(QStringLiteral("MMpom"));
    Pomoc1 = MakeAction(MMpom, "Pomoc1", QStringLiteral("&Pomoc..."));
    MMabout = MakeAction(MMpom, "MMabout", QStringLiteral("&O programie..."));
    N1 = MakeSeparator(MMpom, "N1");
    Koniec1 = MakeAction(MMpom, "Koniec1", QStringLiteral("&Wyjście z programu"));
}

// Tab order: the page control with its shown page's controls, then the report view. Within a
// page the order of the layout tables.
void TForm1::BuildTabOrder() {
    QWidget* chain[] = {PCustawienia->tabBar(), CBzapis,      Enazwapliku,  Bzmienplik,
                        CBciaglyplik,           Bwyczysc,     RBautowyczysc, RBautoucinaj,
                        Emaxlinie,              CBciaglymemo, Mraport};
    for (std::size_t i = 1; i < std::size(chain); ++i) setTabOrder(chain[i - 1], chain[i]);
    for (QLabel* label : {Image1, Ldisplay, Ljednost, Ivek, Label5, Lvek2, Lvek3, Lmaxlinie1,
                          Lmaxlinie2}) {
        label->setFocusPolicy(Qt::NoFocus);
    }
}
