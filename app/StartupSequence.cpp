#include "StartupSequence.h"

#include <QEvent>

#include "Composition.h"
#include "FreeSpace.h"
#include "MainWindow.h"
#include "MessageBoxes.h"
#include "SettingsFile.h"
#include "WindowPlacement.h"

StartupSequence::StartupSequence(Composition& program) : program_(program) {
    connect(&program.Window(), &MainWindow::Closing, this, [this] { FormClose(); });
}

void StartupSequence::FormCreate() {
    MainWindow& window = program_.Window();
    CheckSingleInstance();
    WarnWhenDiskNearlyFull();
    program_.Parts().ApplyDefaults();
    ReadSettings();
    window.SetMaxLinesText(Win1250Text(std::to_string(program_.Switches().MaxReportLines())));
    OpenPortAndReport();
    window.SetActivePage(MainWindow::kPageWaga);
    window.CreateDayFile();
    PlaceWindow();
}

// The described position is the window's own outer corner: the frame goes there, so its title
// bar stays on the screen under any window manager (a client area placed at 0,0 would push the
// frame above the screen's edge). It is placed as the window is shown, when its fixed size is
// final. The outer size follows from the fixed client area and the frame.
void StartupSequence::PlaceWindow() {
    program_.Window().move(0, 0);
    program_.Window().installEventFilter(this);
}

// Only the window's Show counts, and the window is reached through `watched`: a window taken down
// before it was ever shown (a second copy quitting) still sends events here while it dies, when
// the composition no longer holds it.
bool StartupSequence::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::Show) return false;
    auto* window = qobject_cast<QWidget*>(watched);
    if (window == nullptr) return false;
    window->removeEventFilter(this);
    PlaceFrameAt(*window, QPoint(0, 0));
    return false;
}

void StartupSequence::FormClose() {
    if (quit_.Posted()) return;
    instanceGuard_.Release();
    SaveConfig(program_.Settings());  // the result is not examined
}

// A second copy is told so and posts its quit request; start-up goes on either way.
void StartupSequence::CheckSingleInstance() {
    if (instanceGuard_.Acquire() != InstanceGuard::Result::AlreadyRunning) return;
    ShowErrorBox(QStringLiteral("Program jest już w uruchomiony!"));
    quit_.Post();
}

void StartupSequence::WarnWhenDiskNearlyFull() {
    const std::int64_t freeBytes =
        freeSpaceQuery_ ? freeSpaceQuery_() : FreeBytesOfWorkingDirectory();
    if (TooLittleFreeSpace(freeBytes)) ShowWarningBox(LowFreeSpaceText());
}

// A konfig.ini that cannot be read is reported in the program's system box; start-up then goes
// on with the defaults, as if the file were absent.
void StartupSequence::ReadSettings() {
    const SettingsLoadResult loaded = LoadConfig(program_.Settings());
    if (loaded.status == SettingsLoadStatus::Unreadable)
        ShowEscapedErrorBox(QString::fromStdString(loaded.errorText));
}

// The session opens the port; the window shows the outcome (start-up's text ends with a space
// after the full stop). A port whose device is missing (the scale not plugged in yet) is tried
// again quietly; any other failure is not retried.
void StartupSequence::OpenPortAndReport() { program_.Session().Start(); }
