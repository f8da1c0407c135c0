// waga-central [FOLDER] [--until-empty]
// waga-central --sprawdz [FOLDER]
// waga-central --help
// waga-central --version
// Uploads FOLDER's journal to the central database set in FOLDER/dodatki.ini
// ([BazaCentralna]), exactly as the program does, without the window: for a station whose
// program is closed, for the tests and for the benchmark. It looks at the journal four times a
// second (a program beside it writes the journal in another process). Prints each change of
// state on standard output, and each cause (a missing connection, the journal's trouble, a held
// row, an unsafe TLS mode) once on standard error, and again when it clears. SIGTERM or SIGINT
// stops it (a statement on the server is cancelled). With --until-empty it ends (status 0) as
// soon as the connection is up and nothing is left to send, or with status 3 when the upload is
// held at a row it must not send; with status 1 when dodatki.ini cannot be read or says
// Wlaczona=0.
// With --sprawdz it compares the journal with the station's central rows, row by row (seq and a
// digest of the content), prints the differences and ends with status 0 when there are none,
// 1 when there are, 2 when a side cannot be read.
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSocketNotifier>
#include <QSqlDatabase>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "AddOnSettingsStore.h"
#include "CentralCheck.h"
#include "CentralSettingsFile.h"
#include "CentralUploader.h"
#include "JournalFile.h"
#include "PgLink.h"
#include "ProgramIdentity.h"
#include "ServerCertificate.h"
#include "UploadBatch.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

void Tell(const QString& text) {
    std::fprintf(stderr, "waga-central: %s\n", qPrintable(text));
    std::fflush(stderr);
}

// "12, 15–20, 31" for sorted seqs, at most `shown` ranges, then "…".
QString Ranges(const std::vector<qint64>& seqs, int shown = 20) {
    QStringList parts;
    for (std::size_t i = 0; i < seqs.size();) {
        std::size_t j = i;
        while (j + 1 < seqs.size() && seqs[j + 1] == seqs[j] + 1) ++j;
        if (static_cast<int>(parts.size()) == shown) {
            parts << QStringLiteral("…");
            break;
        }
        parts << (i == j ? QString::number(seqs[i])
                         : QStringLiteral("%1–%2").arg(seqs[i]).arg(seqs[j]));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

// waga-central --sprawdz: the journal against the central rows.
int Check(const CentralSettings& settings, const QString& folder) {
    const QString station = central::StationName(settings);
    waga::journal::JournalDb journal;
    if (!journal.Open(waga::journal::JournalPath(folder), waga::journal::JournalAccess::Reader)) {
        Tell(central::JournalErrorText(journal.LastError()));
        return 2;
    }
    QSqlDatabase db = journal.Database();
    central::AckedPosition acked;
    QString error;
    if (!central::LoadAckedPosition(db, QStringLiteral("central"), acked, error)) {
        Tell(error);
        return 2;
    }
    QString problem = central::ConnectSettingsProblem(settings);
    central::PgLink link;
    if (problem.isEmpty()) {
        const central::PgWait connected =
            link.Connect(central::PgConnectParameters(settings),
                         central::DeadlineIn(std::chrono::seconds(central::kConnectTimeoutS)));
        if (connected == central::PgWait::Failed) {
            problem = central::ConnectFailureCause(link.Error(), settings);
        } else if (connected != central::PgWait::Done) {
            problem = central::PgWaitText(connected);
        }
    }
    if (problem.isEmpty() &&
        link.Run(central::kSnapshot, central::DeadlineIn(central::kAnswerWait)) !=
            central::PgWait::Done) {
        problem = central::QueryFailureCause(link.ErrorState(), link.Error());
    }
    if (!problem.isEmpty()) {
        Tell(QStringLiteral("brak połączenia: ") + problem);
        return 2;
    }
    // Both sides as they are at one moment: a read transaction on the journal too.
    if (!db.transaction()) {
        Tell(central::JournalErrorText(db.lastError()));
        return 2;
    }
    constexpr int kPiece = 20000;
    const auto result = central::CompareRows(
        [&db](qint64 after, std::vector<central::RowDigest>& piece, QString& failure) {
            return central::JournalRowDigests(db, after, kPiece, piece, failure);
        },
        [&](qint64 after, std::vector<central::RowDigest>& piece, QString& failure) {
            return central::CentralRowDigests(link, station, after, kPiece,
                                              central::DeadlineIn(central::kAnswerWait), piece,
                                              failure);
        },
        acked, error);
    if (!result) {
        Tell(error);
        return 2;
    }
    std::printf("stacja %s: w dzienniku %lld wierszy, w bazie centralnej %lld; zgodnych %lld\n",
                qPrintable(station), static_cast<long long>(result->journalRows),
                static_cast<long long>(result->centralRows), static_cast<long long>(result->same));
    const struct {
        const std::vector<qint64>& seqs;
        const char* what;
    } lists[] = {
        {result->missingCentrally, "brak w bazie centralnej (choć wysłane)"},
        {result->different, "inna treść w bazie centralnej"},
        {result->notInJournal, "w bazie centralnej, a nie ma ich w dzienniku"},
    };
    for (const auto& list : lists) {
        if (list.seqs.empty()) continue;
        std::printf("%s: %zu wierszy: %s\n", list.what, list.seqs.size(),
                    qPrintable(Ranges(list.seqs)));
    }
    if (result->notSentYet > 0) {
        std::printf("jeszcze nie wysłane (po pozycji wysłania %lld): %lld wierszy\n",
                    static_cast<long long>(acked.seq), static_cast<long long>(result->notSentYet));
    }
    if (result->olderThanJournal > 0) {
        std::printf(
            "starsze niż dziennik (usunięte z niego po dniach przechowywania): %lld "
            "wierszy\n",
            static_cast<long long>(result->olderThanJournal));
    }
    std::printf("%s\n", result->HasDifferences() ? "są różnice" : "zgodne");
    return result->HasDifferences() ? 1 : 0;
}

}  // namespace

constexpr const char* kUsage =
    "użycie: waga-central [KATALOG] [--until-empty]\n"
    "        waga-central --sprawdz [KATALOG]\n";

constexpr const char* kHelp =
    "użycie: waga-central [KATALOG] [--until-empty]\n"
    "        waga-central --sprawdz [KATALOG]\n"
    "\n"
    "Wysyła dziennik stacji (KATALOG/dziennik.sqlite, domyślnie bieżący katalog) do bazy\n"
    "centralnej z ustawień [BazaCentralna] w KATALOG/dodatki.ini, tak jak program z oknem.\n"
    "Każdą zmianę stanu wypisuje na standardowe wyjście, każdą przyczynę kłopotu na standardowe\n"
    "wyjście błędów (raz, i jeszcze raz, gdy ustąpi). SIGTERM lub Ctrl-C kończy pracę.\n"
    "\n"
    "  --until-empty  zakończ, gdy nic nie czeka na wysłanie (kod 0) albo wysyłanie\n"
    "                 wstrzymał wiersz, którego nie wolno wysłać (kod 3)\n"
    "  --sprawdz      porównaj dziennik z wierszami stacji w bazie centralnej, wiersz po\n"
    "                 wierszu; kod 0: zgodne, 1: są różnice, 2: nie można odczytać\n"
    "  --help, -h     ten opis\n"
    "  --version      wersja i SHA-256 pliku programu\n"
    "\n"
    "Kod wyjścia 1: dodatki.ini nie daje się odczytać albo mówi Wlaczona=0; 2: zła opcja.\n";

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString folder = QStringLiteral(".");
    bool untilEmpty = false;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--until-empty")) {
            untilEmpty = true;
        } else if (!std::strcmp(argv[i], "--sprawdz")) {
            check = true;
        } else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kHelp, stdout);
            return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
        } else if (!std::strcmp(argv[i], "--version")) {
            return PrintVersion("waga-central");
        } else if (argv[i][0] == '-') {
            std::fprintf(stderr, "waga-central: nieznana opcja %s\n%s", argv[i], kUsage);
            return 2;
        } else {
            folder = QString::fromLocal8Bit(argv[i]);
        }
    }
    folder = QDir(folder).absolutePath();
    const AddOnSettingsStore loaded(folder.toStdString());
    // Settings that cannot be used: 1 for the upload (as before), 2 for the check (1 there
    // means differences).
    const int unusable = check ? 2 : 1;
    if (!loaded.ErrorText().empty()) {
        Tell(QString::fromStdString(loaded.ErrorText()));
        return unusable;
    }
    if (!loaded.Settings().central.enabled) {
        Tell(QStringLiteral("[BazaCentralna] Wlaczona=0 w %1/dodatki.ini").arg(folder));
        return unusable;
    }
    const CentralSettings settings =
        central::SettingsForConnection(loaded.Settings().central, folder);
    const QString warning = central::TlsModeWarning(settings.ssl);
    if (!warning.isEmpty()) Tell(warning);
    if (check) return Check(settings, folder);

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        Tell(QStringLiteral("nie można przygotować obsługi sygnałów: %1")
                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app,
                     [] { QCoreApplication::quit(); });

    central::CentralUploader uploader;
    QString notice;  // the cause last told on stderr
    QObject::connect(
        &uploader, &central::CentralUploader::StatusChanged, &app,
        [untilEmpty, &notice](const central::CentralStatus& status) {
            const QString now = central::CentralNotice(status);
            if (now != notice) {
                if (!now.isEmpty()) {
                    Tell(now);
                } else if (status.connected) {
                    Tell(notice.isEmpty() ? QStringLiteral("połączona")
                                          : QStringLiteral("połączona (ustąpiło: %1)").arg(notice));
                }
                notice = now;
            }
            std::printf(
                "%s stan: %s; seq %lld\n",
                qPrintable(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz"))),
                qPrintable(central::CentralStateText(status)),
                static_cast<long long>(status.ackedSeq));
            std::fflush(stdout);
            if (!untilEmpty) return;
            if (status.held) {
                QCoreApplication::exit(3);
            } else if (status.connected && status.cause.isEmpty() && status.backlogCounted &&
                       status.backlog == 0) {
                QCoreApplication::quit();
            }
        });
    central::UploaderConfig config;
    config.settings = settings;
    config.journalPath = waga::journal::JournalPath(folder);
    config.retryCapMs = central::RetryCapFromEnvironment();
    config.pollMs = 250;
    uploader.Apply(config);
    const int status = app.exec();
    uploader.Stop();
    return status;
}
