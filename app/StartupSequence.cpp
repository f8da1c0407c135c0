#include "StartupSequence.h"

#include <QEvent>

#include "FreeSpace.h"
#include "MainWindow.h"
#include "MessageBoxes.h"
#include "Reconnect.h"
#include "SerialPort.h"
#include "SettingsFile.h"
#include "WindowPlacement.h"

StartupSequence::StartupSequence(MainWindow& window) : window_(window) {
    connect(&window, &MainWindow::Closing, this, [this] { FormClose(); });
}

void StartupSequence::FormCreate() {
    CheckSingleInstance();
    WarnWhenDiskNearlyFull();
    ApplySerialDefaults();
    window_.SetMaxReportLines(*DefaultSettings().maxReportLines);
    ReadSettings();
    window_.SetMaxLinesText(Win1250Text(std::to_string(window_.MaxReportLines())));
    OpenPortAndReport();
    window_.SetActivePage(MainWindow::kPageWaga);
    window_.CreateDayFile();
    PlaceWindow();
}

// The described position is the window's own outer corner: the frame goes there, so its title
// bar stays on the screen under any window manager (a client area placed at 0,0 would push the
// frame above the screen's edge). It is placed as the window is shown, when its fixed size is
// final. The outer size follows from the fixed client area and the frame.
void StartupSequence::PlaceWindow() {
    window_.move(0, 0);
    window_.installEventFilter(this);
}

bool StartupSequence::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::Show) {
        window_.removeEventFilter(this);
        PlaceFrameAt(window_, QPoint(0, 0));
    }
    return false;
}

void StartupSequence::FormClose() {
    if (Quit.Posted()) return;
    InstanceMapping.Release();
    SaveConfig(window_);  // the result is not examined
}

// A second copy is told so and posts its quit request; start-up goes on either way.
void StartupSequence::CheckSingleInstance() {
    if (InstanceMapping.Acquire() != InstanceGuard::Result::AlreadyRunning) return;
    ShowErrorBox(QStringLiteral("Program jest już w uruchomiony!"));
    Quit.Post();
}

void StartupSequence::WarnWhenDiskNearlyFull() {
    const std::int64_t freeBytes =
        FreeSpaceQuery ? FreeSpaceQuery() : FreeBytesOfWorkingDirectory();
    if (TooLittleFreeSpace(freeBytes)) ShowWarningBox(LowFreeSpaceText());
}

// In this order; the port is closed, so these only store values.
void StartupSequence::ApplySerialDefaults() {
    SerialPort& port = window_.ComPortDriver();
    port.SetComPortSpeed(*DefaultSettings().comPortSpeed);
    port.SetComPortDataBits(db8BITS);
    port.SetComPortParity(ptNONE);
    port.SetComPort(*DefaultSettings().comPort);
}

// A konfig.ini that cannot be read is reported in the program's system box; start-up then goes
// on with the defaults, as if the file were absent.
void StartupSequence::ReadSettings() {
    const SettingsLoadResult loaded = LoadConfig(window_);
    if (loaded.status == SettingsLoadStatus::Unreadable)
        ShowEscapedErrorBox(QString::fromStdString(loaded.errorText));
}

// Start-up's text ends with a space after the full stop. A port whose device is missing (the
// scale not plugged in yet) is tried again quietly; any other failure is not retried.
void StartupSequence::OpenPortAndReport() {
    SerialPort& port = window_.ComPortDriver();
    if (port.OpenPort()) {
        window_.ReportPortOpened(PortOpenedText(port.ComPort(), port.ComPortSpeed()) +
                                 QLatin1Char(' '));
        return;
    }
    window_.ReportPortFailed(StartFailedText());
    if (RetriedAfterFailedStart(port.LastOpenResult())) window_.RetryUntilPortOpens();
}
