// central-lag SOCKET_DIR PORT SECONDS STATION...
// Watches the central database for SECONDS and, for every row that appears, takes the time from
// its first line's arrival (first_at, the CR's chunk) to the moment it is seen committed (polled
// every 50 ms, so figures are high by up to 50 ms). Prints rows, p50, p99 and max per station
// group: "fast" for a station whose name starts with "fast", "slow" for the others.
#include <QCoreApplication>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "central-lag SOCKET_DIR PORT SECONDS STATION...\n");
        return 2;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"));
    db.setHostName(QString::fromLocal8Bit(argv[1]));
    db.setPort(std::atoi(argv[2]));
    db.setDatabaseName(QStringLiteral("waga"));
    db.setUserName(QStringLiteral("waga_admin"));
    if (!db.open()) {
        std::fprintf(stderr, "central-lag: %s\n", qPrintable(db.lastError().text()));
        return 1;
    }
    const qint64 seconds = std::atoll(argv[3]);
    std::map<QString, qint64> maxSeq;
    for (int i = 4; i < argc; ++i) maxSeq[QString::fromLocal8Bit(argv[i])] = 0;
    QSqlQuery q(db);
    // Rows already there before the watch are not measured.
    q.exec(QStringLiteral("SELECT station, max(seq) FROM weighing_lines GROUP BY station"));
    while (q.next()) {
        if (maxSeq.count(q.value(0).toString()))
            maxSeq[q.value(0).toString()] = q.value(1).toLongLong();
    }
    std::map<QString, std::vector<qint64>> lags;  // by group
    const qint64 end = QDateTime::currentMSecsSinceEpoch() + seconds * 1000;
    while (QDateTime::currentMSecsSinceEpoch() < end) {
        QStringList known;
        for (const auto& [station, seq] : maxSeq) {
            known << QStringLiteral("('%1',%2)").arg(station).arg(seq);
        }
        if (!q.exec(QStringLiteral("SELECT w.station, w.seq, (extract(epoch FROM w.first_at) *"
                                   " 1000)::bigint FROM weighing_lines w JOIN (VALUES %1) AS"
                                   " m(station, seq) ON w.station = m.station AND w.seq > m.seq")
                        .arg(known.join(QLatin1Char(','))))) {
            std::fprintf(stderr, "central-lag: %s\n", qPrintable(q.lastError().text()));
            return 1;
        }
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        while (q.next()) {
            const QString station = q.value(0).toString();
            maxSeq[station] = std::max(maxSeq[station], q.value(1).toLongLong());
            const QString group = station.startsWith(QLatin1String("fast"))
                                      ? QStringLiteral("fast")
                                      : QStringLiteral("slow");
            lags[group].push_back(now - q.value(2).toLongLong());
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
    return 0;
}
