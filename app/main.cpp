// Program entry: the application object, the composition root (the port, the line pipeline, its
// sinks and the main window) with its start-up sequence, the message loop, and the close.

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTranslator>
#include <cstdlib>
#include <exception>
#include <memory>

#include "Composition.h"
#include "Drawing.h"
#include "HeapSettings.h"
#include "MainWindow.h"
#include "MessageBoxes.h"
#include "ProgramApplication.h"
#include "SignalCloser.h"
#include "StartupSequence.h"

namespace {

// An error raised by a start-up step is shown in the program's system box; the program then runs
// with what was done so far.
void RunStartUp(StartupSequence& startup) {
    try {
        startup.FormCreate();
    } catch (const std::exception& error) {
        ShowEscapedErrorBox(QString::fromLocal8Bit(error.what()));
    }
}

// Qt's own texts (the save dialog, the edit menus) in Polish, like the rest of the program.
void InstallPolishQtTexts(QTranslator& translator) {
    if (translator.load(QLocale(QLocale::Polish), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&translator);
    }
}

// Qt ends the program with exit() when its X server goes away (a session ended without closing
// its programs, a display that crashed): the window never closes then. What was received is kept
// all the same, as a close keeps it: the journal stores what is still queued. This run's folder
// of Qt's settings goes too.
Composition* runningProgram = nullptr;
QTemporaryDir* runningQtSettings = nullptr;

void KeepWhatWasReceivedAtExit() {
    if (runningProgram != nullptr && QThread::currentThread() == qApp->thread()) {
        runningProgram->Parts().StoreJournalAtExit();
    }
    if (runningQtSettings != nullptr) runningQtSettings->remove();
}

}  // namespace

int main(int argc, char* argv[]) {
    KeepFreedHeap();
    InstallCloseSignalHandlers();
    ProgramApplication application(argc, argv);
    // Qt's own user settings (the save dialog's history) go to a directory of this run, removed
    // at exit: the program keeps its settings in konfig.ini only, and closing never waits on a
    // settings lock shared with other programs of the user.
    QTemporaryDir qtSettings;
    if (qtSettings.isValid()) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, qtSettings.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, qtSettings.path());
    }
    QTranslator qtTexts;
    InstallPolishQtTexts(qtTexts);
    QApplication::setQuitOnLastWindowClosed(false);  // the main window's close ends the program
    // A steady text cursor: a blinking one wakes the program twice a second while it waits.
    QApplication::setCursorFlashTime(0);
    QApplication::setWindowIcon(ProgramIcon());

    auto program = std::make_unique<Composition>();
    runningProgram = program.get();
    runningQtSettings = &qtSettings;
    std::atexit(KeepWhatWasReceivedAtExit);
    MainWindow* form = &program->Window();
    StartupSequence startup(*program);
    SignalCloser closeOnSignal(form);
    RunStartUp(startup);

    int result = 0;
    if (closeOnSignal.Pending()) {
        // Closed from outside while a start-up box was open: closed as the close button would.
        form->close();
    } else if (!startup.QuitTaken()) {
        // (A second copy whose quit request was taken during start-up ends without this.)
        ExitWhenClosed exitOnClose(form);
        form->show();
        result = QApplication::exec();
    }
    runningProgram = nullptr;
    runningQtSettings = nullptr;
    program.reset();  // the port component closes the port
    return result;
}
