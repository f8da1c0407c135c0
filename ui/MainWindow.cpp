#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
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
#include <cstdio>
#include <ctime>

#include "AboutDialog.h"
#include "Drawing.h"
#include "MessageBoxes.h"
#include "PortSettingsDialog.h"
#include "ReadoutLabel.h"
#include "Reconnect.h"
#include "ReportLimit.h"
#include "ReportView.h"
#include "SerialPort.h"
#include "SerialPortsWindow.h"
#include "Win1250Qt.h"

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      assembler_([this](const Win1250Text& line) { ProcessLine(line, *this); }),
      maxReportLines_(*DefaultSettings().maxReportLines) {
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
    BuildSaveDialog();
    layout()->setSizeConstraint(QLayout::SetFixedSize);  // fixed size: no resizing, no maximising

    comPortDriver_ = new SerialPort(this);
    comPortDriver_->setObjectName(QStringLiteral("ComPortDriver"));
    comPortDriver_->SetOnReceiveData(
        [this](SerialPort* sender, const char* dataPtr, std::int32_t dataSize) {
            ComPortDriverReceiveData(sender, dataPtr, dataSize);
        });
    comPortDriver_->SetOnPortLost([this](SerialPort* sender) { ComPortDriverPortLost(sender); });
    retryTimer_.setInterval(1000);
    connect(&retryTimer_, &QTimer::timeout, this, [this] { RetryLostPort(); });
    settingsDialog_ = std::make_unique<PortSettingsDialog>(comPortDriver_);
    aboutDialog_ = std::make_unique<AboutDialog>();
    portsWindow_ = std::make_unique<SerialPortsWindow>(comPortDriver_);
    ConnectHandlers();
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    // The port goes first, so no tick can reach a half-destroyed window.
    retryTimer_.stop();
    comPortDriver_->SetOnReceiveData(nullptr);
    comPortDriver_->SetOnPortLost(nullptr);
    delete comPortDriver_;
    comPortDriver_ = nullptr;
}

void MainWindow::ConnectHandlers() {
    connect(Mwaga, &QAction::triggered, this, [this] { ViewItemClick(kPageWaga); });
    connect(Mplik, &QAction::triggered, this, [this] { ViewItemClick(kPagePlik); });
    connect(Mpodglad, &QAction::triggered, this, [this] { ViewItemClick(kPagePodglad); });
    connect(Pomoc1, &QAction::triggered, this, [this] { MMpomClick(); });
    connect(Koniec1, &QAction::triggered, this, [this] { Koniec1Click(); });
    connect(MMustaw_rs, &QAction::triggered, this, [this] { MMustaw_rsClick(); });
    connect(MMabout, &QAction::triggered, this, [this] { MMaboutClick(); });
    connect(MMporty, &QAction::triggered, this, [this] { MMportyClick(); });
    connect(portsWindow_.get(), &SerialPortsWindow::PortAssigned, this,
            [this](PortNumber port) { PortLinkAssigned(port); });
    connect(PCustawienia, &QTabWidget::currentChanged, this, [this] {
        if (!pageFromCode_) PCustawieniaChange();
    });
    connect(Bwyczysc, &QPushButton::clicked, this, [this] { BwyczyscClick(); });
    connect(Bzmienplik, &QPushButton::clicked, this, [this] { BzmienplikClick(); });
    recordingFileName_ = QFile::encodeName(Enazwapliku->text()).toStdString();
    connect(Enazwapliku, &QLineEdit::textChanged, this, [this](const QString& text) {
        recordingFileName_ = QFile::encodeName(text).toStdString();
    });
    Emaxlinie->installEventFilter(this);
    CBzapis->installEventFilter(this);
    qApp->installEventFilter(this);  // presses reach the window before focus moves
}

// ---- Pages and the "&Widok" menu ----

void MainWindow::MarkViewItem(int page) {
    QAction* items[] = {Mwaga, Mplik, Mpodglad};
    if (page >= 0 && page < static_cast<int>(std::size(items))) items[page]->setChecked(true);
}

void MainWindow::SetActivePage(int page) {
    pageFromCode_ = true;
    PCustawienia->setCurrentIndex(page);
    pageFromCode_ = false;
}

int MainWindow::ActivePage() const { return PCustawienia->currentIndex(); }

// Leaving the page that holds a focused limit edit counts as leaving the edit: a rejected text
// refuses the switch and keeps the mark where it was.
bool MainWindow::PageSwitchAllowed(int page) {
    if (page == ActivePage() || focusWidget() != Emaxlinie) return true;
    if (EmaxlinieExit()) return true;
    MarkViewItem(ActivePage());
    return false;
}

void MainWindow::ViewItemClick(int page) {
    if (!PageSwitchAllowed(page)) return;
    SetActivePage(page);
    MarkViewItem(page);
}

void MainWindow::PCustawieniaChange() { MarkViewItem(ActivePage()); }

void MainWindow::MMpomClick() {
    // The result is not examined: a missing document or viewer shows nothing.
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("doc/pomoc.htm"))));
}

void MainWindow::MMaboutClick() {
    aboutDialog_->show();
    aboutDialog_->raise();
    aboutDialog_->activateWindow();
}

// The operator's own reconnect takes over from the automatic one.
void MainWindow::MMustaw_rsClick() {
    retryTimer_.stop();
    const QString status = ShowSettingsAndReconnect(*settingsDialog_, *comPortDriver_, assembler_);
    comPortDriver_->IsPortOpen() ? ReportPortOpened(status) : ReportPortFailed(status);
}

void MainWindow::ReopenPort() {
    retryTimer_.stop();
    const PortSelections same{comPortDriver_->ComPort(), comPortDriver_->ComPortSpeed()};
    const QString status = ReconnectPort(same, *comPortDriver_, assembler_);
    comPortDriver_->IsPortOpen() ? ReportPortOpened(status) : ReportPortFailed(status);
}

void MainWindow::ComPortDriverPortLost(SerialPort* /*sender*/) {
    comPortDriver_->ClosePort();
    SetReadout(Win1250Text());
    SetStatusText(PortLostText(comPortDriver_->ComPort()));
    StatusBar->setToolTip({});
    std::fprintf(stderr, "Project1: %s: %s\n", PortName(comPortDriver_->ComPort()).c_str(),
                 "połączenie przerwane, ponawiam próbę połączenia");
    retryTimer_.start();
}

// Quiet by design: no box, no output and no open while the device is missing, so a retry costs
// one file-system look-up a second.
void MainWindow::RetryLostPort() {
    if (!comPortDriver_->DevicePresent() || !comPortDriver_->OpenPort()) return;
    retryTimer_.stop();
    assembler_.ClearPendingLine();  // a fragment from before the loss must not start a line
    ReportPortOpened(PortOpenedText(comPortDriver_->ComPort(), comPortDriver_->ComPortSpeed()));
}

void MainWindow::ReportPortOpened(const QString& statusText) {
    SetStatusText(statusText);
    StatusBar->setToolTip({});
}

void MainWindow::ReportPortFailed(const QString& statusText) {
    SetStatusText(statusText);
    const QString cause = OpenFailureCause(comPortDriver_->LastOpenResult());
    StatusBar->setToolTip(cause);
    std::fprintf(stderr, "Project1: %s: %s\n", PortName(comPortDriver_->ComPort()).c_str(),
                 cause.toLocal8Bit().constData());
    SetReadout(Win1250Text());
}

// Not modal: the operator can plug the adapter in, refresh, and watch the status bar and the
// read-out while the window stays open.
void MainWindow::MMportyClick() {
    portsWindow_->show();
    portsWindow_->raise();
    portsWindow_->activateWindow();
}

void MainWindow::PortLinkAssigned(PortNumber port) {
    if (port == comPortDriver_->ComPort()) ReopenPort();
}

void MainWindow::Koniec1Click() { close(); }

void MainWindow::closeEvent(QCloseEvent* event) {
    emit Closing();
    QMainWindow::closeEvent(event);
}

void MainWindow::SetStatusText(const QString& text) { StatusBar->showMessage(text); }

QString MainWindow::StatusText() const { return StatusBar->currentMessage(); }

// ---- Report view settings ----

bool MainWindow::EmaxlinieExit() {
    const LimitVerdict verdict = CheckLineLimit(ToWin1250(Emaxlinie->text()));
    if (verdict.check != LimitCheck::Accepted) {
        validatingLimit_ = true;
        ShowError(LimitMessage(verdict.check));
        validatingLimit_ = false;
        Emaxlinie->setFocus(Qt::OtherFocusReason);
        return false;
    }
    TrimReportForLimit(*this, verdict.value);
    maxReportLines_ = verdict.value;
    return true;
}

void MainWindow::MoveFocusFromLimitEdit(bool forward) {
    if (!EmaxlinieExit()) return;
    leavingLimitEdit_ = true;
    focusNextPrevChild(forward);
    leavingLimitEdit_ = false;
}

void MainWindow::EmaxlinieKeyPress(char& key) {
    if (key != '\r') return;
    MoveFocusFromLimitEdit(true);
    key = 0;
}

void MainWindow::BwyczyscClick() {
    if (AskConfirmation("Czy napewno wyczyścić okno z raportami?") == ConfirmAnswer::Yes) {
        ClearReport();
    }
}

void MainWindow::SetMaxLinesText(const Win1250Text& text) { Emaxlinie->setText(ToQString(text)); }

Win1250Text MainWindow::MaxLinesText() const { return ToWin1250(Emaxlinie->text()); }

void MainWindow::SetShowReadingsChecked(bool checked) { CBciaglymemo->setChecked(checked); }

void MainWindow::SetDeleteOldestSelected(bool selected) {
    (selected ? static_cast<QRadioButton*>(RBautoucinaj) : RBautowyczysc)->setChecked(true);
}

// ---- Recording file settings ----

bool MainWindow::CBzapisMouseDown(Qt::MouseButton button) {
    if (button != Qt::LeftButton) return false;
    return RecordingSwitchPressed(*this);
}

void MainWindow::BzmienplikClick() { ChangeRecordingFile(*this); }

void MainWindow::CreateDayFile() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    PrepareDayFile(*this, DayFileName(local));
}

void MainWindow::SetRecordingChecked(bool checked) { CBzapis->setChecked(checked); }

void MainWindow::SetRecordReadingsChecked(bool checked) { CBciaglyplik->setChecked(checked); }

void MainWindow::SetRecordingFileName(const std::string& name) {
    Enazwapliku->setText(QFile::decodeName(QByteArray::fromStdString(name)));
}

ConfirmAnswer MainWindow::AskConfirmation(const std::string& text) {
    return AskConfirmationBox(QString::fromStdString(text));
}

// Nothing stays open or held back while the operator reads a box.
void MainWindow::ShowError(const std::string& text) {
    recording_.Close();
    ShowReadout();
    ShowErrorBox(QString::fromStdString(text));
}

// The save dialog never changes the working directory; it offers the last chosen name again.
std::optional<std::string> MainWindow::ChooseRecordingFile() {
    if (!lastChosenFile_.isEmpty()) SDplikzapisu->selectFile(lastChosenFile_);
    if (SDplikzapisu->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = SDplikzapisu->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
    lastChosenFile_ = chosen.first();
    return QFile::encodeName(lastChosenFile_).toStdString();
}

// ---- The line pipeline ----

// A chunk's lines are routed with the recording file open and the read-out's text held back;
// both are settled before the handler returns to the event loop.
void MainWindow::ComPortDriverReceiveData(SerialPort* /*sender*/, const char* dataPtr,
                                          std::int32_t dataSize) {
    ++chunkDepth_;
    assembler_.Receive(dataPtr, dataSize);
    --chunkDepth_;
    recording_.Close();
    ShowReadout();
}

void MainWindow::SetReadout(const Win1250Text& text) {
    readout_ = text;
    readoutPending_ = true;
    if (chunkDepth_ == 0) ShowReadout();
}

void MainWindow::ShowReadout() {
    if (!readoutPending_) return;
    readoutPending_ = false;
    Ldisplay->SetReading(ToQString(readout_));
}

Win1250Text MainWindow::Readout() const { return ToWin1250(Ldisplay->Reading()); }

Win1250Text MainWindow::UnitCaption() const { return ToWin1250(Ljednost->text()); }

void MainWindow::SetUnitCaption(const Win1250Text& caption) {
    Ljednost->setText(ToQString(caption));
}

int MainWindow::ReportLineCount() const { return Mraport->LineCount(); }

void MainWindow::DeleteFirstReportLine() { Mraport->DeleteFirstLine(); }

void MainWindow::ClearReport() { Mraport->Clear(); }

void MainWindow::AppendReportLine(const Win1250Text& line) { Mraport->AppendLine(line); }

bool MainWindow::ShowReadingsChecked() const { return CBciaglymemo->isChecked(); }

bool MainWindow::RecordingChecked() const { return CBzapis->isChecked(); }

bool MainWindow::RecordReadingsChecked() const { return CBciaglyplik->isChecked(); }

bool MainWindow::DeleteOldestSelected() const { return RBautoucinaj->isChecked(); }

void MainWindow::UncheckRecording() { CBzapis->setChecked(false); }

std::string MainWindow::RecordingFileName() const { return recordingFileName_; }

PortNumber MainWindow::ComPort() const { return comPortDriver_->ComPort(); }

void MainWindow::SetComPort(PortNumber port) { comPortDriver_->SetComPort(port); }

BaudRate MainWindow::ComPortSpeed() const { return comPortDriver_->ComPortSpeed(); }

void MainWindow::SetComPortSpeed(BaudRate speed) { comPortDriver_->SetComPortSpeed(speed); }
