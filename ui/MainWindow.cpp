#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFont>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <ctime>

#include "AboutDialog.h"
#include "AddOnIndicators.h"
#include "Drawing.h"
#include "MessageBoxes.h"
#include "PortSettingsDialog.h"
#include "PortStatusTexts.h"
#include "ReadoutLabel.h"
#include "ReportLimit.h"
#include "ReportView.h"
#include "SerialPort.h"
#include "SerialPortsWindow.h"
#include "Win1250Qt.h"

MainWindow::MainWindow(SerialPort& port, PortSession& session, OperatorSwitches& switches,
                       QWidget* parent)
    : QMainWindow(parent), comPortDriver_(&port), session_(session), switches_(switches) {
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

    switchesListener_ = switches_.Listen([this] { MirrorSwitches(); });
    MirrorSwitches();
    settingsDialog_ = std::make_unique<PortSettingsDialog>(comPortDriver_);
    aboutDialog_ = std::make_unique<AboutDialog>();
    portsWindow_ = std::make_unique<SerialPortsWindow>(comPortDriver_);
    ConnectHandlers();
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    switches_.Forget(switchesListener_);
}

QAction* MainWindow::AddViewMenuItem(const QString& text) {
    return menuBar()->findChild<QMenu*>(QStringLiteral("MMwidok"))->addAction(text);
}

void MainWindow::SetAddOnNotice(const QString& source, const QString& text) {
    if (text.isEmpty()) {
        addOnNotices_.erase(source);
    } else {
        addOnNotices_[source] = text;
    }
    ShowCauseAndNotices();
}

void MainWindow::SetStationKey(const QString& fingerprint) {
    aboutDialog_->SetStationKey(fingerprint);
}

void MainWindow::SetAddOnIndicator(const QString& name, const AddOnIndicator& indicator) {
    if (!indicators_) {
        indicators_ = new QWidget(menuBar());
        indicators_->setObjectName(QStringLiteral("Wskazniki"));
        auto* row = new QHBoxLayout(indicators_);
        row->setContentsMargins(0, 0, 6, 0);
        row->setSpacing(12);
        menuBar()->setCornerWidget(indicators_, Qt::TopRightCorner);
    }
    auto* label = indicators_->findChild<QLabel*>(name, Qt::FindDirectChildrenOnly);
    if (!label) {
        label = new QLabel(indicators_);
        label->setObjectName(name);
        indicators_->layout()->addWidget(label);
    }
    label->setText(indicator.text);
    label->setToolTip(indicator.tooltip);
    // The fault's red and bold on the corner's own font and palette (a style sheet, once set and
    // cleared, would leave the label in another font than its neighbour's).
    QFont font = indicators_->font();
    font.setBold(indicator.fault);
    label->setFont(font);
    QPalette palette = indicators_->palette();
    if (indicator.fault) palette.setColor(QPalette::WindowText, QColor(0xc0, 0x00, 0x00));
    label->setPalette(palette);
    label->setVisible(!indicator.text.isEmpty());
    const auto labels = indicators_->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    indicators_->setVisible(
        std::ranges::any_of(labels, [](const QLabel* shown) { return !shown->text().isEmpty(); }));
    menuBar()->adjustSize();
}

IReadoutDisplay& MainWindow::ReadoutDisplay() { return *Ldisplay; }

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

void MainWindow::ShowProgramDigest(const QString& hex, const QString& error) {
    aboutDialog_->ShowProgramDigest(hex, error);
}

void MainWindow::MMaboutClick() {
    aboutDialog_->show();
    aboutDialog_->raise();
    aboutDialog_->activateWindow();
}

// The operator's own reconnect takes over from the automatic one, also while the dialog is open.
void MainWindow::MMustaw_rsClick() {
    session_.StopRetrying();
    settingsDialog_->exec();
    session_.Reconnect(settingsDialog_->Chosen());
}

void MainWindow::ShowPortStatus(const PortStatus& status) {
    const QString text = PortStatusText(status);
    if (text.isEmpty()) return;
    SetStatusText(text);
    portCause_ = status.step == PortStep::OpenFailed ? OpenFailureCause(status.open) : QString();
    ShowCauseAndNotices();
    if (status.step != PortStep::Opened) ClearReadout();
}

// Not modal: the operator can plug the adapter in, refresh, and watch the status bar and the
// read-out while the window stays open.
void MainWindow::MMportyClick() {
    portsWindow_->show();
    portsWindow_->raise();
    portsWindow_->activateWindow();
}

void MainWindow::PortLinkAssigned(PortNumber port) {
    if (port == comPortDriver_->ComPort()) session_.Reopen();
}

void MainWindow::Koniec1Click() { close(); }

void MainWindow::closeEvent(QCloseEvent* event) {
    emit Closing();
    QMainWindow::closeEvent(event);
}

void MainWindow::SetStatusText(const QString& text) { StatusBar->showMessage(text); }

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

Win1250Text MainWindow::UnitCaption() const { return ToWin1250(Ljednost->text()); }

void MainWindow::SetUnitCaption(const Win1250Text& caption) {
    Ljednost->setText(ToQString(caption));
}
