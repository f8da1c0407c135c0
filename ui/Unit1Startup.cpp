// TForm1's start-up sequence (FormCreate), its close (FormClose), the two menu commands that open
// the dialogs, and the port settings LoadConfig and SaveConfig go through.

#include <QCloseEvent>
#include <QLabel>

#include "FreeSpace.h"
#include "MakerData.h"
#include "MessageBoxes.h"
#include "ProgramWindows.h"
#include "Reconnect.h"
#include "Uabout.h"
#include "Unit1.h"
#include "Uustaw.h"
#include "Win1250Qt.h"

namespace {

QString StartFailedText() {
    return QStringLiteral(
        "BŁĄD W TRAKCIE PRÓBY NAWIĄZANIA POŁĄCZENIA z WAGĄ! SPRAWDŹ KONFIGURACJE KOMPUTERA oraz "
        "KABEL i PONOWNIE URUCHOM PROGRAM!");
}

// Two lines: the web address as a host name, then the e-mail address.
QString LogoHint() {
    return QStringLiteral("INTERNET: ") + QString::fromUtf8(maker::kWebHost) +
           QStringLiteral("\nEMAIL: ") + QString::fromUtf8(maker::kEmail);
}

// Step 1. A second copy is told so and posts its quit request; start-up goes on either way.
void CheckSingleInstance(TForm1& form) {
    if (form.InstanceMapping.Acquire() != InstanceGuard::Result::AlreadyRunning) return;
    ShowErrorBox(QStringLiteral("Program jest już w uruchomiony!"));
    form.Quit.Post();
}

// Step 2.
void WarnWhenDiskNearlyFull(const TForm1& form) {
    const std::int64_t freeBytes =
        form.FreeSpaceQuery ? form.FreeSpaceQuery() : FreeBytesOfWorkingDirectory();
    if (TooLittleFreeSpace(freeBytes)) ShowWarningBox(LowFreeSpaceText());
}

// Step 3, in this order; the port is closed, so these only store values.
void ApplySerialDefaults(TCommPortDriver& port) {
    port.SetComPortSpeed(br2400);
    port.SetComPortDataBits(db8BITS);
    port.SetComPortParity(ptNONE);
    port.SetComPort(pnCOM2);
}

// Step 5. A konfig.ini that cannot be read is reported in the program's system box; start-up then
// goes on with the defaults, as if the file were absent.
void ReadKonfig(TForm1& form) {
    const KonfigLoadResult loaded = LoadConfig(form);
    if (loaded.status == KonfigLoadStatus::Unreadable)
        ShowEscapedErrorBox(FromWin1250(loaded.errorText));
}

// Step 7. Start-up's text ends with a space after the full stop; a failure is not retried.
void OpenPortAndReport(TForm1& form) {
    TCommPortDriver& port = *form.ComPortDriver;
    if (port.OpenPort())
        form.SetStatusText(PortOpenedText(port.ComPort(), port.ComPortSpeed()) + QLatin1Char(' '));
    else
        form.SetStatusText(StartFailedText());
}

}  // namespace

void TForm1::FormCreate() {
    CheckSingleInstance(*this);
    WarnWhenDiskNearlyFull(*this);
    ApplySerialDefaults(*ComPortDriver);
    SetMaxReportLines(300);
    ReadKonfig(*this);
    SetMaxLinesText(std::to_string(maxReportLines_));
    OpenPortAndReport(*this);
    Ivek->setToolTip(LogoHint());
    SetActivePage(0);
    CreateDayFile();
    // The outer size follows from the fixed client area and the window system's frame.
    move(0, 0);
}

void TForm1::FormClose() {
    InstanceMapping.Release();
    SaveConfig(*this);  // the result is not examined
}

// A second copy never writes konfig.ini, even if its window gets closed before it ends.
void TForm1::closeEvent(QCloseEvent* event) {
    if (!Quit.Posted()) FormClose();
    QMainWindow::closeEvent(event);
}

// The program entry creates the dialogs; a window made without the entry (tests) gets its own.
void TForm1::MMustaw_rsClick() {
    TFormUstaw* dialog = ::FormUstaw;
    if (dialog == nullptr) dialog = findChild<TFormUstaw*>(QString(), Qt::FindDirectChildrenOnly);
    if (dialog == nullptr) dialog = new TFormUstaw(ComPortDriver, this);
    SetStatusText(ShowSettingsAndReconnect(*dialog, *ComPortDriver, assembler_));
}

void TForm1::MMaboutClick() {
    TAboutBox* box = ::AboutBox;
    if (box == nullptr) box = findChild<TAboutBox*>(QString(), Qt::FindDirectChildrenOnly);
    if (box == nullptr) box = new TAboutBox(this);
    box->show();
    box->raise();
    box->activateWindow();
}

TComPortNumber TForm1::ComPort() const { return ComPortDriver->ComPort(); }

void TForm1::SetComPort(TComPortNumber port) { ComPortDriver->SetComPort(port); }

TComPortBaudRate TForm1::ComPortSpeed() const { return ComPortDriver->ComPortSpeed(); }

void TForm1::SetComPortSpeed(TComPortBaudRate speed) { ComPortDriver->SetComPortSpeed(speed); }
