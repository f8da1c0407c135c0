// central-fleet WORKDIR PORT CA PREFIX COUNT RATE SECONDS [--report-every N] [--runs N]
//               [--pooler] [--gather-ms N]
// COUNT stations in one process, named PREFIX001, PREFIX002 ... (their login roles must exist):
// each a journal in WORKDIR/<name>/dziennik.sqlite and the program's own uploader
// (CentralUploader: its thread, its connection), woken by each commit as the program wakes it.
// One writer thread writes every journal: RATE lines a second per station, each station's lines
// handed every 10 ms (a different reading each line, or each reading N times with --runs N; a
// report after every N readings) and
// committed as the program's writer commits them, the stations' ticks spread over the 10 ms. Runs
// SECONDS, then prints the lines written and the CPU of the whole process (writers and uploaders).
// --pooler: PORT is a transaction pooler's (Posrednik=1); --gather-ms: Zbieraj_ms. The password
// file is $PGPASSFILE. Figures only.
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "CentralUploader.h"
#include "JournalFeed.h"
#include "JournalWriter.h"

namespace {

// The CPU seconds of this process's threads named "central-upload" (the uploaders).
double UploaderCpuSeconds() {
    double ticks = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(task) + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < 0 || line.mid(open + 1, close - open - 1) != "central-upload") {
            continue;
        }
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 12) ticks += fields[11].toDouble() + fields[12].toDouble();
    }
    return ticks / double(sysconf(_SC_CLK_TCK));
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Station {
    std::unique_ptr<JournalFeed> feed;
    std::unique_ptr<central::CentralUploader> uploader;
    long written = 0;
    long counter = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 8) {
        std::fprintf(stderr,
                     "central-fleet WORKDIR PORT CA PREFIX COUNT RATE SECONDS [--report-every N]"
                     " [--runs N] [--pooler] [--gather-ms N]\n");
        return 2;
    }
    const QString work = QString::fromLocal8Bit(argv[1]);
    const int port = std::atoi(argv[2]);
    const std::string ca = argv[3];
    const QString prefix = QString::fromLocal8Bit(argv[4]);
    const int count = std::atoi(argv[5]);
    const double rate = QByteArray(argv[6]).toDouble();  // any locale: a dot
    const double seconds = QByteArray(argv[7]).toDouble();
    long reportEvery = 0;
    long runs = 1;
    bool pooler = false;
    int gatherMs = CentralSettings{}.gatherMs;
    for (int i = 8; i < argc; ++i) {
        const bool valued = i + 1 < argc;
        if (!std::strcmp(argv[i], "--report-every") && valued) {
            reportEvery = std::atol(argv[++i]);
        } else if (!std::strcmp(argv[i], "--runs") && valued) {
            runs = std::max(1L, std::atol(argv[++i]));
        } else if (!std::strcmp(argv[i], "--gather-ms") && valued) {
            gatherMs = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--pooler")) {
            pooler = true;
        } else {
            std::fprintf(stderr, "central-fleet: unknown option %s\n", argv[i]);
            return 2;
        }
    }

    std::vector<Station> stations(count);
    for (int i = 0; i < count; ++i) {
        const QString name = prefix + QStringLiteral("%1").arg(i + 1, 3, 10, QLatin1Char('0'));
        const QString folder = work + QLatin1Char('/') + name;
        QDir().mkpath(folder);
        central::UploaderConfig config;
        config.settings.enabled = true;
        config.settings.host = "127.0.0.1";
        config.settings.port = port;
        config.settings.database = "waga";
        config.settings.user = name.toStdString();
        config.settings.station = name.toStdString();
        config.settings.ca = ca;
        config.settings.pooler = pooler;
        config.settings.gatherMs = gatherMs;
        config.journalPath = folder + QStringLiteral("/dziennik.sqlite");
        stations[i].uploader = std::make_unique<central::CentralUploader>();
        stations[i].uploader->Apply(config);
    }

    std::atomic<bool> stop{false};
    std::atomic<long> failures{0};
    const double cpuAtStart = CpuSeconds();
    const double uploadersAtStart = UploaderCpuSeconds();
    const qint64 start = QDateTime::currentMSecsSinceEpoch() + 500;  // after the journals open
    std::thread writer([&] {
        // The journals' connections belong to this thread.
        for (int i = 0; i < count; ++i) {
            const QString name = prefix + QStringLiteral("%1").arg(i + 1, 3, 10, QLatin1Char('0'));
            stations[i].feed = std::make_unique<JournalFeed>(work + QLatin1Char('/') + name +
                                                             QStringLiteral("/dziennik.sqlite"));
            stations[i].feed->SetCommitEveryMs(waga::journal::WriterOptions{}.commitEveryMs);
            if (!stations[i].feed->IsOpen()) {
                std::fprintf(stderr, "central-fleet: %s\n", qPrintable(stations[i].feed->Error()));
                ++failures;
                return;
            }
        }
        constexpr qint64 kTickMs = 10;
        for (qint64 tick = 0; !stop; ++tick) {
            for (int i = 0; i < count && !stop; ++i) {
                // Station i's ticks fall at i/count of the 10 ms.
                const qint64 due = start + tick * kTickMs + (kTickMs * i) / count;
                const qint64 now = QDateTime::currentMSecsSinceEpoch();
                if (due > now) std::this_thread::sleep_for(std::chrono::milliseconds(due - now));
                Station& s = stations[i];
                const qint64 at = QDateTime::currentMSecsSinceEpoch();
                const long target = static_cast<long>((at - start) / 1000.0 * rate);
                std::vector<FeedLine> chunk;
                for (; s.written < target; ++s.written) {
                    ++s.counter;
                    if (reportEvery > 0 && s.counter % (reportEvery + 1) == 0) {
                        chunk.push_back({false, "RAPORT " + QByteArray::number(s.counter), at});
                    } else {
                        const long grams = 1000 + (s.counter / runs) % 90000;
                        chunk.push_back(
                            {true, QByteArray::number(grams / 1000.0, 'f', 3).replace('.', ','),
                             at});
                    }
                }
                if (chunk.empty() && !s.feed->Holds()) continue;
                if (s.feed->AppendChunk(chunk)) {
                    if (s.feed->Committed()) s.uploader->Waker()();
                } else {
                    ++failures;
                }
            }
        }
        for (Station& s : stations) {
            if (!s.feed->Commit()) {
                ++failures;
            } else if (s.feed->Committed()) {
                s.uploader->Waker()();
            }
            s.feed.reset();
        }
    });
    QTimer::singleShot(static_cast<int>(seconds * 1000), &app, [] { QCoreApplication::quit(); });
    app.exec();
    stop = true;
    writer.join();
    const double cpu = CpuSeconds() - cpuAtStart;
    const double uploaders = UploaderCpuSeconds() - uploadersAtStart;
    const double wall = (QDateTime::currentMSecsSinceEpoch() - start) / 1000.0;
    long lines = 0;
    long unsent = 0;
    std::map<QString, int> causes;
    for (const Station& s : stations) {
        lines += s.written;
        const central::CentralStatus status = s.uploader->Status();
        unsent += status.backlog;
        if (!status.cause.isEmpty()) ++causes[status.cause];
    }
    for (const auto& [cause, stationsWithIt] : causes) {
        std::printf("fleet %s: %d stations: %s\n", qPrintable(prefix), stationsWithIt,
                    qPrintable(cause));
    }
    std::printf(
        "fleet %s: %d stations at %g lines/s, %ld lines in %.1f s, backlog at the end %ld;"
        " writers + uploaders %.1f %% of one core (%.1f µs a line), of which the uploaders"
        " %.1f %% (%.1f µs a line)%s\n",
        qPrintable(prefix), count, rate, lines, wall, unsent, 100.0 * cpu / wall,
        lines > 0 ? cpu * 1e6 / double(lines) : 0.0, 100.0 * uploaders / wall,
        lines > 0 ? uploaders * 1e6 / double(lines) : 0.0,
        failures > 0 ? "; SOME WRITES FAILED" : "");
    stations.clear();  // the uploaders stop, the journals close
    return failures > 0 ? 1 : 0;
}
