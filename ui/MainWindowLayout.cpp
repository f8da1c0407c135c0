// The main window's fixed layout: the client area, the three pages, the menu and the save
// dialog, each built in its own function with the pixel geometry of the layout tables.

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QFileDialog>
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
#include <limits>

#include "AreaCheckBox.h"
#include "Drawing.h"
#include "FileDialog.h"
#include "MainWindow.h"
#include "MakerData.h"
#include "ReadoutLabel.h"
#include "ReportView.h"
#include "Win1250Qt.h"

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
template <typename Label = QLabel>
Label* MakeReadoutLabel(QWidget* parent, const char* name, const QString& caption, const QRect& box,
                        const QFont& font) {
    auto* label = Make<Label>(parent, name, box.x(), box.y(), box.width(), box.height());
    label->setTextFormat(Qt::PlainText);
    label->setText(caption);
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

void MainWindow::BuildClientControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    client->setFixedSize(792, 526);
    setCentralWidget(client);

    auto* frame = Make<QFrame>(client, "Pryswagi", 48, 8, 161, 129);
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    frame->setLineWidth(1);
    auto* picture = Make<QLabel>(frame, "Image1", 16, 8, 137, 113);
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setPixmap(QPixmap::fromImage(ScalePicture()));

    // Arial with a 96-pixel cell (86-pixel em): "-9999.99" stays whole in the 345-pixel box.
    Ldisplay = MakeReadoutLabel<ReadoutLabel>(client, "Ldisplay", QStringLiteral("-9999.99"),
                                              QRect(216, 8, 345, 97), ArialFont(86));
    Ldisplay->SetBaseFont(ArialFont(86));
    Ldisplay->SetReading(QStringLiteral("-9999.99"));
    Ljednost = MakeReadoutLabel(client, "Ljednost", ToQString(*DefaultSettings().unit),
                                QRect(216, 104, 345, 33), ArialFont(28, true));

    PCustawienia = Make<QTabWidget>(client, "PCustawienia", 568, 0, 217, 137);
    PCustawienia->tabBar()->setAttribute(Qt::WA_Hover);  // tabs highlight under the pointer
    BuildWagaPage();
    BuildPlikPage();
    BuildPodgladPage();
    PCustawienia->setCurrentIndex(kPagePodglad);  // the page stored as active; start-up shows Waga

    Mraport = Make<ReportView>(client, "Mraport", 48, 144, 689, 361);
    Mraport->setFont(CourierNewFont(13));
    QPalette palette = Mraport->palette();
    palette.setColor(QPalette::Text, Qt::black);
    Mraport->setPalette(palette);

    StatusBar = Make<QStatusBar>(client, "StatusBar", 0, 504, 792, 22);
    StatusBar->setSizeGripEnabled(false);
}

void MainWindow::BuildWagaPage() {
    QWidget* page = MakePage(PCustawienia, "TSvek", QStringLiteral("Waga"));
    Ivek = Make<QLabel>(page, "Ivek", 32, 8, 145, 49);
    Ivek->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Ivek->setPixmap(QPixmap::fromImage(MakerLogo(QSize(142, 48))));
    // Two lines: the web address as a host name, then the e-mail address.
    Ivek->setToolTip(QStringLiteral("INTERNET: ") + QString::fromUtf8(maker::kWebHost) +
                     QStringLiteral("\nEMAIL: ") + QString::fromUtf8(maker::kEmail));
    MakeLabel(page, "Label5", QString::fromUtf8(maker::kCompanyLine), 64, 64, 89, 13);
    MakeLabel(page, "Lvek2", QString::fromUtf8(maker::kPhoneFaxLine), 48, 80, 114, 13);
    MakeLabel(page, "Lvek3", QString::fromUtf8(maker::kSecondPhoneLine), 64, 96, 86, 13);
}

void MainWindow::BuildPlikPage() {
    const SettingsRead& defaults = DefaultSettings();
    QWidget* page = MakePage(PCustawienia, "TSplik", QStringLiteral("Plik"));
    auto* group = Make<QGroupBox>(page, "GBustawplik", 0, 4, 209, 105);
    group->setTitle(QStringLiteral("Ustawienia zapisu"));
    CBzapis = Make<AreaCheckBox>(group, "CBzapis", 8, 16, 97, 17);
    CBzapis->setText(QStringLiteral("Zapis do pliku"));
    CBzapis->setChecked(*defaults.recording);
    Enazwapliku = Make<QLineEdit>(group, "Enazwapliku", 8, 40, 193, 21);
    Enazwapliku->setReadOnly(true);
    Enazwapliku->setMaxLength(std::numeric_limits<int>::max());
    Enazwapliku->setText(QStringLiteral("Enazwapliku"));
    Enazwapliku->setToolTip(QStringLiteral(
        "Nazwa pliku do którego zapisywane są dane z wagi. Aby ją zmienić wybierz \"Zmień "
        "nazwę...\"."));
    Bzmienplik = Make<QPushButton>(group, "Bzmienplik", 120, 16, 83, 17);
    Bzmienplik->setText(QStringLiteral("Zmień nazwę..."));
    Bzmienplik->setAutoDefault(false);
    CBciaglyplik = Make<AreaCheckBox>(group, "CBciaglyplik", 8, 64, 97, 17);
    CBciaglyplik->setText(QStringLiteral("Zapisuj display"));
    CBciaglyplik->setChecked(*defaults.recordReadings);
}

void MainWindow::BuildPodgladPage() {
    const SettingsRead& defaults = DefaultSettings();
    QWidget* page = MakePage(PCustawienia, "TSraport", QStringLiteral("Podgląd"));
    auto* group = Make<QGroupBox>(page, "GBustawmemo", 0, 4, 209, 105);
    group->setTitle(QStringLiteral("Ustawienia podglądu"));
    MakeLabel(group, "Lmaxlinie1", QStringLiteral("Po zapisaniu"), 8, 22, 60, 13);
    Emaxlinie = Make<QLineEdit>(group, "Emaxlinie", 78, 18, 49, 21);
    Emaxlinie->setMaxLength(std::numeric_limits<int>::max());
    Emaxlinie->setText(QStringLiteral("Emaxlinie"));
    MakeLabel(group, "Lmaxlinie2", QStringLiteral("linii:"), 136, 22, 17, 13);
    RBautoucinaj = Make<QRadioButton>(group, "RBautoucinaj", 32, 40, 113, 17);
    RBautoucinaj->setText(QStringLiteral("kasuj początek"));
    RBautowyczysc = Make<QRadioButton>(group, "RBautowyczysc", 32, 56, 97, 17);
    RBautowyczysc->setText(QStringLiteral("wyczyść całość"));
    (*defaults.deleteOldest ? RBautoucinaj : RBautowyczysc)->setChecked(true);
    CBciaglymemo = Make<AreaCheckBox>(group, "CBciaglymemo", 8, 72, 113, 17);
    CBciaglymemo->setText(QStringLiteral("Wyświetlaj display"));
    CBciaglymemo->setChecked(*defaults.showReadings);
    Bwyczysc = Make<QPushButton>(group, "Bwyczysc", 144, 80, 59, 17);
    Bwyczysc->setText(QStringLiteral("Wyczyść"));
    Bwyczysc->setAutoDefault(false);
}

void MainWindow::BuildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* view = bar->addMenu(QStringLiteral("&Widok"));
    view->setObjectName(QStringLiteral("MMwidok"));
    auto* viewGroup = new QActionGroup(this);  // radio group 6 of "&Widok"
    viewGroup->setObjectName(QStringLiteral("ViewGroup"));
    viewGroup->setExclusive(true);
    Mwaga = MakeAction(view, "Mwaga", QStringLiteral("&Waga"));
    Mplik = MakeAction(view, "Mplik", QStringLiteral("Ustawienia &zapisu do pliku"));
    Mpodglad = MakeAction(view, "Mpodglad", QStringLiteral("Ustawienia &podglądu"));
    for (QAction* item : {Mwaga, Mplik, Mpodglad}) {
        item->setCheckable(true);
        viewGroup->addAction(item);
    }
    Mwaga->setChecked(true);
    MakeSeparator(view, "N2");
    MMustaw_rs = MakeAction(view, "MMustaw_rs", QStringLiteral("Parametry &transmisji..."));
    MMporty = MakeAction(view, "MMporty", QStringLiteral("Porty &szeregowe..."));

    QMenu* help = bar->addMenu(QStringLiteral("&Pomoc"));
    help->setObjectName(QStringLiteral("MMpom"));
    Pomoc1 = MakeAction(help, "Pomoc1", QStringLiteral("&Pomoc..."));
    MMabout = MakeAction(help, "MMabout", QStringLiteral("&O programie..."));
    MakeSeparator(help, "N1");
    Koniec1 = MakeAction(help, "Koniec1", QStringLiteral("&Wyjście z programu"));
}

// Tab order: the page control with its shown page's controls, then the report view. Within a
// page the order of the layout tables. Labels and pictures never take the focus.
void MainWindow::BuildTabOrder() {
    QWidget* chain[] = {
        PCustawienia->tabBar(), CBzapis,      Enazwapliku, Bzmienplik,   CBciaglyplik, Bwyczysc,
        RBautowyczysc,          RBautoucinaj, Emaxlinie,   CBciaglymemo, Mraport};
    for (std::size_t i = 1; i < std::size(chain); ++i) setTabOrder(chain[i - 1], chain[i]);
    for (QLabel* label : centralWidget()->findChildren<QLabel*>())
        label->setFocusPolicy(Qt::NoFocus);
}

// SDplikzapisu: the program's own save dialog, so that it never changes the working directory;
// it lists the working folder, where the journal is, without reading any file (FileDialog.h).
void MainWindow::BuildSaveDialog() {
    SDplikzapisu = NewFileDialog(this);
    SDplikzapisu->setObjectName(QStringLiteral("SDplikzapisu"));
    SDplikzapisu->setAcceptMode(QFileDialog::AcceptSave);
    SDplikzapisu->setFileMode(QFileDialog::AnyFile);
    SDplikzapisu->setOption(QFileDialog::DontConfirmOverwrite);
    SDplikzapisu->setNameFilter(QStringLiteral("Wszystkie pliki (*)"));
}
