// waga-central [FOLDER] [--until-empty]
// Uploads FOLDER's journal to the central database set in FOLDER/dodatki.ini
// ([BazaCentralna]), exactly as the program does, without the window: for a station whose
// program is closed, for the tests and for the benchmark. Prints each change of state on
// standard output, and each cause of a missing connection (and an unsafe TLS mode) once on
// standard error. SIGTERM or SIGINT stops it after the batch in flight. With --until-empty it
// ends (status 0) as soon as the connection is up and nothing is left to send.
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "AddOnSettings.h"
#include "CentralSettingsFile.h"
#include "CentralUploader.h"
#include "JournalFile.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString folder = QStringLiteral(".");
    bool untilEmpty = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--until-empty"))
            untilEmpty = true;
        else
            folder = QString::fromLocal8Bit(argv[i]);
    }
    const AddOnLoadResult loaded = LoadAddOnSettings(QDir(folder).absolutePath().toStdString());
    if (!loaded.errorText.empty()) {
        std::fprintf(stderr, "waga-central: %s\n", loaded.errorText.c_str());
        return 1;
    }
    if (!loaded.settings.central.enabled) {
        std::fprintf(stderr, "waga-central: [BazaCentralna] Wlaczona=0 in %s/dodatki.ini\n",
                     qPrintable(folder));
        return 1;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return 1;
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app,
                     [] { QCoreApplication::quit(); });

    const QString warning = central::TlsModeWarning(loaded.settings.central.ssl);
    if (!warning.isEmpty()) std::fprintf(stderr, "waga-central: %s\n", qPrintable(warning));

    central::CentralUploader uploader;
    QString notice;  // the cause last told on stderr
    QObject::connect(
        &uploader, &central::CentralUploader::StatusChanged, &app,
        [untilEmpty, &notice](const central::CentralStatus& status) {
            const QString now = central::CentralNotice(status);
            if (now != notice) {
                if (!now.isEmpty()) {
                    std::fprintf(stderr, "waga-central: %s\n", qPrintable(now));
                } else if (status.connected) {
                    std::fprintf(stderr, "waga-central: połączona\n");
                }
                notice = now;
            }
            std::printf(
                "%s stan: %s; seq %lld\n",
                qPrintable(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz"))),
                qPrintable(central::CentralStateText(status)),
                static_cast<long long>(status.ackedSeq));
            std::fflush(stdout);
            if (untilEmpty && status.connected && status.backlog == 0 &&
                status.lastUploadUtcMs > 0) {
                QCoreApplication::quit();
            }
        });
    central::UploaderConfig config;
    config.settings =
        central::SettingsForConnection(loaded.settings.central, QDir(folder).absolutePath());
    config.journalPath = waga::journal::JournalPath(QDir(folder).absolutePath());
    config.retryCapMs = central::RetryCapFromEnvironment();
    uploader.Apply(config);
    const int status = app.exec();
    uploader.Stop();
    return status;
}
