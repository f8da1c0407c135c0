#include "Unit1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>
#include <QWindow>
#include <ctime>
#include <limits>

#include "Fonts.h"
#include "MessageBoxes.h"
#include "Pictures.h"
#include "ReportLimit.h"
#include "ReportView.h"
#include "Win1250Qt.h"

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent),
      assembler_([this](const std::string& line) { ProcessLine(line, *this); }) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Program do komunikacji z wagą."));
    setWindowIcon(ProgramIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(MsSansSerifFont(11));
    BuildMenu();
    BuildClientControls();
    BuildTabOrder();
    layout()->setSizeConstraint(QLayout::SetFixedSize);  // fixed size: no resizing, no maximising
    Emaxlinie->setMaxLength(std::numeric_limits<int>::max());
    Enazwapliku->setMaxLength(std::numeric_limits<int>::max());

    ComPortDriver = new TCommPortDriver(this);
    ComPortDriver->setObjectName(QStringLiteral("ComPortDriver"));
    ComPortDriver->SetOnReceiveData(
        [this](TCommPortDriver* sender, const char* dataPtr, std::int32_t dataSize) {
            ComPortDriverReceiveData(sender, dataPtr, dataSize);
        });

    SDplikzapisu = new QFileDialog(this);
    SDplikzapisu->setObjectName(QStringLiteral("SDplikzapisu"));
    SDplikzapisu->setAcceptMode(QFileDialog::AcceptSave);
    SDplikzapisu->setFileMode(QFileDialog::AnyFile);
    SDplikzapisu->setOption(QFileDialog::DontUseNativeDialog);
    SDplikzapisu->setOption(QFileDialog::DontConfirmOverwrite);
    SDplikzapisu->setNameFilter(QStringLiteral("Wszystkie pliki (*)"));
    ConnectHandlers();
}

TForm1::~TForm1() {
    qApp->removeEventFilter(this);
    // The port goes first, so no tick can reach a half-destroyed window.
    ComPortDriver->SetOnReceiveData(nullptr);
    delete ComPortDriver;
    ComPortDriver = nullptr;
}

void TForm1::ConnectHandlers() {
    connect(Mwaga, &QAction::triggered, this, [this] { MwagaClick(); });
    connect(Mplik, &QAction::triggered, this, [this] { MplikClick(); });
    connect(Mpodglad, &QAction::triggered, this, [this] { MpodgladClick(); });
    connect(Pomoc1, &QAction::triggered, this, [this] { MMpomClick(); });
    connect(Koniec1, &QAction::triggered, this, [this] { Koniec1Click(); });
    connect(MMustaw_rs, &QAction::triggered, this, [this] { MMustaw_rsClick(); });
    connect(MMabout, &QAction::triggered, this, [this] { MMaboutClick(); });
    connect(PCustawienia, &QTabWidget::currentChanged, this, [this] {
        if (!pageFromCode_) PCustawieniaChange();
    });
    connect(Bwyczysc, &QPushButton::clicked, this, [this] { BwyczyscClick(); });
    connect(Bzmienplik, &QPushButton::clicked, this, [this] { BzmienplikClick(); });
    Emaxlinie->installEventFilter(this);
    CBzapis->installEventFilter(this);
    qApp->installEventFilter(this);  // presses reach the window before focus moves
}

// ---- Pages and the "&Widok" menu ----

void TForm1::MarkViewItem(int index) {
    QAction* items[] = {Mwaga, Mplik, Mpodglad};
    if (index >= 0 && index < 3) items[index]->setChecked(true);
}

void TForm1::SetActivePage(int index) {
    pageFromCode_ = true;
    PCustawienia->setCurrentIndex(index);
    pageFromCode_ = false;
}

int TForm1::ActivePage() const { return PCustawienia->currentIndex(); }

// Leaving the page that holds a focused limit edit counts as leaving the edit: a rejected text
// refuses the switch and keeps the mark where it was.
bool TForm1::PageSwitchAllowed(int index) {
    if (index == ActivePage() || !(focusWidget() == Emaxlinie)) return true;
    if (EmaxlinieExit()) return true;
    MarkViewItem(ActivePage());
    return false;
}

void TForm1::MwagaClick() {
    if (!PageSwitchAllowed(0)) return;
    SetActivePage(0);
    MarkViewItem(0);
}

void TForm1::MplikClick() {
    if (!PageSwitchAllowed(1)) return;
    SetActivePage(1);
    MarkViewItem(1);
}

void TForm1::MpodgladClick() {
    if (!PageSwitchAllowed(2)) return;
    SetActivePage(2);
    MarkViewItem(2);
}

void TForm1::PCustawieniaChange() { MarkViewItem(ActivePage()); }

void TForm1::MMpomClick() {
    // The result is not examined: a missing document or viewer shows nothing.
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("doc/pomoc.htm"))));
}

void TForm1::Koniec1Click() { close(); }

void TForm1::SetStatusText(const QString& text) { StatusBar->showMessage(text); }

QString TForm1::StatusText() const { return StatusBar->currentMessage(); }

// ---- Report view settings ----

bool TForm1::EmaxlinieExit() {
    const LimitVerdict verdict = CheckLineLimit(ToWin1250(Emaxlinie->text()));
    if (verdict.check != LimitCheck::Accepted) {
        validatingLimit_ = true;
        ::ShowErrorBox(QString::fromUtf8(LimitMessage(verdict.check)));
        validatingLimit_ = false;
        Emaxlinie->setFocus(Qt::OtherFocusReason);
        return false;
    }
    TrimReportForLimit(*this, verdict.value);
    maxReportLines_ = verdict.value;
    return true;
}

void TForm1::MoveFocusFromLimitEdit(bool forward) {
    if (!EmaxlinieExit()) return;
    leavingLimitEdit_ = true;
    focusNextPrevChild(forward);
    leavingLimitEdit_ = false;
}

void TForm1::EmaxlinieKeyPress(char& key) {
    if (key != '\r') return;
    MoveFocusFromLimitEdit(true);
    key = 0;
}

void TForm1::BwyczyscClick() {
    if (::AskConfirmation(QStringLiteral("Czy napewno wyczyścić okno z raportami?")) ==
        ConfirmAnswer::Yes) {
        ClearReport();
    }
}

void TForm1::SetMaxLinesText(const std::string& text) { Emaxlinie->setText(FromWin1250(text)); }

std::string TForm1::MaxLinesText() const { return ToWin1250(Emaxlinie->text()); }

void TForm1::SetShowReadingsChecked(bool checked) { CBciaglymemo->setChecked(checked); }

void TForm1::SetDeleteOldestSelected(bool selected) {
    (selected ? static_cast<QRadioButton*>(RBautoucinaj) : RBautowyczysc)->setChecked(true);
}

// ---- Recording file settings ----

bool TForm1::CBzapisMouseDown(Qt::MouseButton button) {
    if (button != Qt::LeftButton) return false;
    return RecordingSwitchPressed(*this);
}

void TForm1::BzmienplikClick() { ChangeRecordingFile(*this); }

void TForm1::CreateDayFile() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    PrepareDayFile(*this, DayFileName(local));
}

void TForm1::SetRecordingChecked(bool checked) { CBzapis->setChecked(checked); }

void TForm1::SetRecordReadingsChecked(bool checked) { CBciaglyplik->setChecked(checked); }

void TForm1::SetRecordingFileName(const std::string& name) {
    Enazwapliku->setText(QFile::decodeName(QByteArray::fromStdString(name)));
}

ConfirmAnswer TForm1::AskConfirmation(const std::string& text) {
    return ::AskConfirmation(QString::fromUtf8(text));
}

void TForm1::ShowError(const std::string& text) { ::ShowErrorBox(QString::fromUtf8(text)); }

// The save dialog never changes the working directory; it offers the last chosen name again.
std::optional<std::string> TForm1::ChooseRecordingFile() {
    if (!lastChosenFile_.isEmpty()) SDplikzapisu->selectFile(lastChosenFile_);
    if (SDplikzapisu->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = SDplikzapisu->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
    lastChosenFile_ = chosen.first();
    return QFile::encodeName(lastChosenFile_).toStdString();
}

// ---- The line pipeline ----

void TForm1::ComPortDriverReceiveData(TCommPortDriver* /*sender*/, const char* dataPtr,
                                      std::int32_t dataSize) {
    assembler_.Receive(dataPtr, dataSize);
}

void TForm1::SetReadout(const std::string& text) { Ldisplay->setText(FromWin1250(text)); }

std::string TForm1::Readout() const { return ToWin1250(Ldisplay->text()); }

std::string TForm1::UnitCaption() const { return ToWin1250(Ljednost->text()); }

void TForm1::SetUnitCaption(const std::string& caption) {
    Ljednost->setText(FromWin1250(caption));
}

int TForm1::ReportLineCount() const { return Mraport->LineCount(); }

void TForm1::DeleteFirstReportLine() { Mraport->DeleteFirstLine(); }

void TForm1::ClearReport() { Mraport->Clear(); }

void TForm1::AppendReportLine(const std::string& line) { Mraport->AppendLine(line); }

bool TForm1::ShowReadingsChecked() const { return CBciaglymemo->isChecked(); }

bool TForm1::RecordingChecked() const { return CBzapis->isChecked(); }

bool TForm1::RecordReadingsChecked() const { return CBciaglyplik->isChecked(); }

bool TForm1::DeleteOldestSelected() const { return RBautoucinaj->isChecked(); }

void TForm1::UncheckRecording() { CBzapis->setChecked(false); }

std::string TForm1::RecordingFileName() const {
    return QFile::encodeName(Enazwapliku->text()).toStdString();
}

void TForm1::ShowErrorBox(const std::string& text) { ::ShowErrorBox(FromWin1250(text)); }
