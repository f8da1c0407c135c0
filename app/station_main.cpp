// waga-stacja: the headless station. No window and no display: the scale's lines go to the day's
// recording file, the journal, the weight service and the central database, as konfig.ini and
// dodatki.ini in the working folder ($WAGA_DIR, or ~/Waga) say. One line on standard error per
// event; SIGTERM, SIGINT or SIGHUP stops it with nothing lost, exit status 0.

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

#include "CloseSignals.h"
#include "HeadlessStation.h"
#include "HeapSettings.h"
#include "ProgramIdentity.h"

int main(int argc, char* argv[]) {
    KeepFreedHeap();
    InstallCloseSignalHandlers();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("waga-stacja"));
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments == QStringList{QStringLiteral("--version")}) return PrintVersion("waga-stacja");
    if (!arguments.isEmpty()) {
        std::fprintf(stderr,
                     "użycie: waga-stacja [--version]\n"
                     "Folder roboczy: $WAGA_DIR, domyślnie ~/Waga (zob. waga-stacja(1)).\n");
        return 2;
    }

    // Which program runs, for whoever reads the log: its version and file's SHA-256 (read once,
    // a matter of milliseconds; the port is opened after it).
    std::fprintf(stderr, "waga-stacja: %s\n",
                 IdentityText(DigestRunningExecutable()).toLocal8Bit().constData());
    std::fflush(stderr);

    // Everything is relative to the working folder: konfig.ini, dodatki.ini, the COMn links,
    // the day's files and the journal.
    const QString folder = StationFolder();
    if (folder.isEmpty() || !QDir().mkpath(folder) || !QDir::setCurrent(folder)) {
        std::fprintf(stderr,
                     "waga-stacja: nie można wejść do folderu roboczego %s "
                     "(ustaw WAGA_DIR lub HOME)\n",
                     qPrintable(folder));
        return 1;
    }

    CloseSignalWatch closing;
    QObject::connect(&closing, &CloseSignalWatch::arrived, &application, &QCoreApplication::quit);
    HeadlessStation station(QDir::currentPath());
    station.Start();
    return QCoreApplication::exec();
}
