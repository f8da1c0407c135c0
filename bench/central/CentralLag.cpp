// central-lag SOCKET_DIR PORT SECONDS STATION...
// Watches the central database for SECONDS and, for every row that appears, takes the time from
// its first line's arrival (first_at, the CR's chunk) to the moment it is seen committed (polled
// every 50 ms, so figures are high by up to 50 ms). Prints rows, p50, p99 and max per group of
// stations: a station's group is its name without the digits at its end ("s07" -> "s",
// "fast1" -> "fast"). Then "watch: N queries, backend S s CPU": its own share of the server's
// work, for the bench to take off.
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "PgLink.h"

namespace {

QString Group(QString station) {
    while (!station.isEmpty() && station.back().isDigit()) station.chop(1);
    return station;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "central-lag SOCKET_DIR PORT SECONDS STATION...\n");
        return 2;
    }
    central::PgLink link;
    if (link.Connect({{QStringLiteral("host"), QString::fromLocal8Bit(argv[1])},
                      {QStringLiteral("port"), QString::fromLocal8Bit(argv[2])},
                      {QStringLiteral("dbname"), QStringLiteral("waga")},
                      {QStringLiteral("user"), QStringLiteral("waga_admin")}},
                     central::DeadlineIn(std::chrono::seconds(10))) != central::PgWait::Done) {
        std::fprintf(stderr, "central-lag: %s\n", qPrintable(link.Error()));
        return 1;
    }
    const auto query =
        [&link](const char* sql,
                const std::vector<QByteArray>& values) -> std::optional<central::PgResult> {
        std::vector<central::PgResult> results;
        if (link.Exec(sql, values, results, central::DeadlineIn(std::chrono::seconds(30))) !=
                central::PgWait::Done ||
            results.size() != 1 || !results[0].Ok()) {
            std::fprintf(stderr, "central-lag: %s\n",
                         qPrintable(results.empty() ? link.Error() : results[0].Message()));
            return std::nullopt;
        }
        return std::move(results[0]);
    };
    // The server process serving this watch (the server runs on this machine).
    const auto backendSeconds = [](qint64 pid) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) return 0.0;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        return fields.size() > 12
                   ? (fields[11].toDouble() + fields[12].toDouble()) / double(sysconf(_SC_CLK_TCK))
                   : 0.0;
    };
    auto backend = query("SELECT pg_backend_pid()", {});
    if (!backend) return 1;
    const qint64 backendPid = backend->Number(0, 0);
    const double backendAtStart = backendSeconds(backendPid);
    long queries = 0;
    const qint64 seconds = std::atoll(argv[3]);
    std::map<QString, qint64> maxSeq;
    for (int i = 4; i < argc; ++i) maxSeq[QString::fromLocal8Bit(argv[i])] = 0;
    // Rows already there before the watch are not measured.
    auto before = query("SELECT station, max(seq) FROM weighing_lines GROUP BY station", {});
    if (!before) return 1;
    for (int r = 0; r < before->Rows(); ++r) {
        if (maxSeq.count(before->Text(r, 0))) maxSeq[before->Text(r, 0)] = before->Number(r, 1);
    }
    std::map<QString, std::vector<qint64>> lags;  // by group
    const qint64 end = QDateTime::currentMSecsSinceEpoch() + seconds * 1000;
    while (QDateTime::currentMSecsSinceEpoch() < end) {
        // The stations and the seqs already seen, as two arrays bound to the statement.
        QStringList stations;
        QStringList seqs;
        for (const auto& [station, seq] : maxSeq) {
            stations << station;
            seqs << QString::number(seq);
        }
        auto fresh = query(
            "SELECT w.station, w.seq, (extract(epoch FROM w.first_at) * 1000)::bigint"
            " FROM weighing_lines w JOIN unnest($1::text[], $2::bigint[]) AS m(station, seq)"
            " ON w.station = m.station AND w.seq > m.seq",
            {(QLatin1Char('{') + stations.join(QLatin1Char(',')) + QLatin1Char('}')).toUtf8(),
             (QLatin1Char('{') + seqs.join(QLatin1Char(',')) + QLatin1Char('}')).toUtf8()});
        if (!fresh) return 1;
        ++queries;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (int r = 0; r < fresh->Rows(); ++r) {
            const QString station = fresh->Text(r, 0);
            maxSeq[station] = std::max(maxSeq[station], fresh->Number(r, 1));
            lags[Group(station)].push_back(now - fresh->Number(r, 2));
        }
        QThread::msleep(50);
    }
    for (auto& [group, values] : lags) {
        std::sort(values.begin(), values.end());
        auto at = [&](double p) {
            return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
        };
        std::printf("lag %s: %zu rows, p50 %lld ms, p99 %lld ms, max %lld ms\n", qPrintable(group),
                    values.size(), static_cast<long long>(at(0.5)),
                    static_cast<long long>(at(0.99)), static_cast<long long>(values.back()));
    }
    std::printf("watch: %ld queries, backend %.2f s CPU\n", queries,
                backendSeconds(backendPid) - backendAtStart);
    return 0;
}
