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
#include <QMenu>
#include <QMenuBar>
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
#include "PortStatusTexts.h"
#include "ReadoutLabel.h"
#include "Reconnect.h"
#include "ReportLimit.h"
#include "ReportView.h"
#include "SerialPort.h"
#include "SerialPortsWindow.h"
#include "Win1250Qt.h"

MainWindow::MainWindow(SerialPort& port, LinePipeline& pipeline, OperatorSwitches& switches,
                       QWidget* parent)
    : QMainWindow(parent), comPortDriver_(&port), pipeline_(pipeline), switches_(switches) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Program do komunikacji z wagą."));
    setWindowIcon(ProgramIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(MsSansSerifFont(11));
    // The status bar's tooltip (why the port did not open) shows also while another of the
    // program's windows (the serial ports window) is the active one.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    BuildMenu();
    BuildClientControls();
    BuildTabOrder();
    BuildSaveDialog();
    layout()->setSizeConstraint(QLayout::SetFixedSize);  // fixed size: no resizing, no maximising

    connect(comPortDriver_, &SerialPort::portLost, this, [this] { ComPortDriverPortLost(); });
    switchesListener_ = switches_.Listen([this] { MirrorSwitches(); });
    MirrorSwitches();
    retryTimer_.setInterval(1000);
    connect(&retryTimer_, &QTimer::timeout, this, [this] { RetryLostPort(); });
    settingsDialog_ = std::make_unique<PortSettingsDialog>(comPortDriver_);
    aboutDialog_ = std::make_unique<AboutDialog>();
    portsWindow_ = std::make_unique<SerialPortsWindow>(comPortDriver_);
    ConnectHandlers();
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    retryTimer_.stop();
    switches_.Forget(switchesListener_);
    comPortDriver_->disconnect(this);
}

QAction* MainWindow::AddViewMenuItem(const QString& text) {
    return menuBar()->findChild<QMenu*>(QStringLiteral("MMwidok"))->addAction(text);
}

void MainWindow::SetAddOnNotice(const QString& source, const QString& text) {
    const auto known = addOnNotices_.find(source);
    if (text.isEmpty()) {
        if (known == addOnNotices_.end()) return;
        // Standard error hears of the cause again when it clears.
        std::fprintf(
            stderr, "%s\n",
            ProgramMessage(source,
                           QStringLiteral("działa ponownie (ustąpiło: %1)").arg(known->second))
                .constData());
        addOnNotices_.erase(known);
    } else {
        if (known != addOnNotices_.end() && known->second == text) return;
        addOnNotices_[source] = text;
        std::fprintf(stderr, "%s\n", ProgramMessage(source, text).constData());
    }
    ShowCauseAndNotices();
}

// The tooltip: the port's cause first, then each addition's notice on a line of its own.
void MainWindow::ShowCauseAndNotices() {
    QStringList parts;
    if (!portCause_.isEmpty()) parts << portCause_;
    for (const auto& [source, text] : addOnNotices_) parts << source + QStringLiteral(": ") + text;
    StatusBar->setToolTip(parts.join(QLatin1Char('\n')));
}

// The controls follow the model; a control set to the value it shows raises nothing.
void MainWindow::MirrorSwitches() {
    CBzapis->setChecked(switches_.Recording());
    CBciaglyplik->setChecked(switches_.RecordReadings());
    CBciaglymemo->setChecked(switches_.ShowReadings());
    (switches_.DeleteOldest() ? static_cast<QRadioButton*>(RBautoucinaj) : RBautowyczysc)
        ->setChecked(true);
    const QString name =
        QFile::decodeName(QByteArray::fromStdString(switches_.RecordingFileName()));
    if (Enazwapliku->text() != name) Enazwapliku->setText(name);
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
    // The operator's changes go to the model.
    connect(CBzapis, &QCheckBox::toggled, this, [this](bool on) { switches_.SetRecording(on); });
    connect(CBciaglyplik, &QCheckBox::toggled, this,
            [this](bool on) { switches_.SetRecordReadings(on); });
    connect(CBciaglymemo, &QCheckBox::toggled, this,
            [this](bool on) { switches_.SetShowReadings(on); });
    connect(RBautoucinaj, &QRadioButton::toggled, this,
            [this](bool on) { switches_.SetDeleteOldest(on); });
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
    const QString status = ShowSettingsAndReconnect(*settingsDialog_, *comPortDriver_, pipeline_);
    comPortDriver_->IsPortOpen() ? ReportPortOpened(status) : ReportPortFailed(status);
}

void MainWindow::ReopenPort() {
    retryTimer_.stop();
    const PortSelections same{comPortDriver_->ComPort(), comPortDriver_->ComPortSpeed()};
    const QString status = ReconnectPort(same, *comPortDriver_, pipeline_);
    comPortDriver_->IsPortOpen() ? ReportPortOpened(status) : ReportPortFailed(status);
}

void MainWindow::ComPortDriverPortLost() {
    comPortDriver_->ClosePort();
    // A fragment from before the loss never starts a line: it is dropped now (and again at the
    // reopen, where nothing is left to drop).
    pipeline_.AnnouncePortState(PortState::Lost);
    pipeline_.Reset();
    ClearReadout();
    SetStatusText(PortLostText(comPortDriver_->ComPort()));
    portCause_.clear();
    ShowCauseAndNotices();
    std::fprintf(stderr, "%s\n",
                 ProgramMessage(QString::fromStdString(PortName(comPortDriver_->ComPort())),
                                QStringLiteral("połączenie przerwane, ponawiam próbę połączenia"))
                     .constData());
    retryTimer_.start();
}

// Quiet by design: no box, no output and no open while the device is missing, so a retry costs
// one file-system look-up a second.
void MainWindow::RetryLostPort() {
    if (!comPortDriver_->DevicePresent() || !comPortDriver_->OpenPort()) return;
    retryTimer_.stop();
    AnnouncePortOpened();
    ReportPortOpened(PortOpenedText(comPortDriver_->ComPort(), comPortDriver_->ComPortSpeed()));
}

void MainWindow::AnnouncePortOpened() {
    pipeline_.SetPort(comPortDriver_->ComPort());
    pipeline_.Reset();
    pipeline_.AnnouncePortState(PortState::Opened);
}

void MainWindow::ReportPortOpened(const QString& statusText) {
    SetStatusText(statusText);
    portCause_.clear();
    ShowCauseAndNotices();
}

void MainWindow::ReportPortFailed(const QString& statusText) {
    SetStatusText(statusText);
    portCause_ = OpenFailureCause(comPortDriver_->LastOpenResult());
    ShowCauseAndNotices();
    std::fprintf(
        stderr, "%s\n",
        ProgramMessage(QString::fromStdString(PortName(comPortDriver_->ComPort())), portCause_)
            .constData());
    ClearReadout();
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
    TrimReportForLimit(*Mraport, verdict.value);
    switches_.SetMaxReportLines(verdict.value);
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
        Mraport->Clear();
    }
}

void MainWindow::SetMaxLinesText(const Win1250Text& text) { Emaxlinie->setText(ToQString(text)); }

Win1250Text MainWindow::MaxLinesText() const { return ToWin1250(Emaxlinie->text()); }

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

bool MainWindow::RecordingChecked() const { return switches_.Recording(); }

void MainWindow::SetRecordingChecked(bool checked) { switches_.SetRecording(checked); }

std::string MainWindow::RecordingFileName() const { return switches_.RecordingFileName(); }

void MainWindow::SetRecordingFileName(const std::string& name) {
    switches_.SetRecordingFileName(name);
}

ConfirmAnswer MainWindow::AskConfirmation(const std::string& text) {
    return AskConfirmationBox(QString::fromStdString(text));
}

void MainWindow::ShowError(const std::string& text) { ShowErrorBox(QString::fromStdString(text)); }

// The save dialog never changes the working directory; it offers the last chosen name again.
std::optional<std::string> MainWindow::ChooseRecordingFile() {
    if (!lastChosenFile_.isEmpty()) SDplikzapisu->selectFile(lastChosenFile_);
    if (SDplikzapisu->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = SDplikzapisu->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
    lastChosenFile_ = chosen.first();
    return QFile::encodeName(lastChosenFile_).toStdString();
}

// ---- The read-out and the unit ----

void MainWindow::ClearReadout() { Ldisplay->SetReading(QString()); }

Win1250Text MainWindow::Readout() const { return ToWin1250(Ldisplay->Reading()); }

Win1250Text MainWindow::UnitCaption() const { return ToWin1250(Ljednost->text()); }

void MainWindow::SetUnitCaption(const Win1250Text& caption) {
    Ljednost->setText(ToQString(caption));
    pipeline_.SetUnit(caption);
}
