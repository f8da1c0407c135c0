// journal-feed FILE RATE SECONDS [--report-every N] [--backlog ROWS] [--same]
// Writes the journal the way the program does: RATE lines a second for SECONDS, in chunks
// of 10 ms committed as the program's writer commits them, every line a different reading (a
// changing weight; --same: one growing run), and a report line after every N readings. --backlog
// first writes ROWS readings at once, with times spread backwards over the ROWS / RATE seconds
// before the start (a station that was away).
#include <QCoreApplication>
#include <QDateTime>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "JournalFeed.h"
#include "JournalWriter.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr,
                     "journal-feed FILE RATE SECONDS [--report-every N] [--backlog ROWS] "
                     "[--same]\n");
        return 2;
    }
    // QByteArray reads a dot as the separator in every locale (atof would follow the locale
    // QCoreApplication has set).
    const double rate = QByteArray(argv[2]).toDouble();
    const double seconds = QByteArray(argv[3]).toDouble();
    long reportEvery = 0;
    long backlog = 0;
    bool same = false;
    for (int i = 4; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--report-every") && i + 1 < argc)
            reportEvery = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--backlog") && i + 1 < argc)
            backlog = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--same"))
            same = true;
    }
    JournalFeed feed(QString::fromLocal8Bit(argv[1]));
    if (!feed.IsOpen()) {
        std::fprintf(stderr, "journal-feed: %s\n", qPrintable(feed.Error()));
        return 1;
    }
    feed.SetCommitEveryMs(waga::journal::WriterOptions{}.commitEveryMs);
    long counter = 0;
    auto line = [&](qint64 ms) {
        ++counter;
        if (reportEvery > 0 && counter % (reportEvery + 1) == 0) {
            return FeedLine{false, "RAPORT " + QByteArray::number(counter), ms};
        }
        const long grams = same ? 5 : 1000 + counter % 90000;
        return FeedLine{true, QByteArray::number(grams / 1000.0, 'f', 3).replace('.', ','), ms};
    };
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    if (backlog > 0) {
        for (long done = 0; done < backlog;) {
            std::vector<FeedLine> chunk;
            for (int i = 0; i < 1000 && done < backlog; ++i, ++done) {
                chunk.push_back(line(start - static_cast<qint64>((backlog - done) * 1000 / rate)));
            }
            if (!feed.AppendChunk(chunk)) {
                std::fprintf(stderr, "journal-feed: %s\n", qPrintable(feed.Error()));
                return 1;
            }
        }
    }
    long written = 0;
    for (;;) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const double elapsed = (now - start) / 1000.0;
        if (elapsed >= seconds) break;
        const long due = static_cast<long>(elapsed * rate);
        std::vector<FeedLine> chunk;
        for (; written < due; ++written) chunk.push_back(line(now));
        if ((!chunk.empty() || feed.Holds()) && !feed.AppendChunk(chunk)) {
            std::fprintf(stderr, "journal-feed: %s\n", qPrintable(feed.Error()));
            return 1;
        }
        QThread::msleep(10);
    }
    if (!feed.Commit()) {
        std::fprintf(stderr, "journal-feed: %s\n", qPrintable(feed.Error()));
        return 1;
    }
    std::printf("journal-feed: %ld lines, last seq %lld\n", written + backlog,
                static_cast<long long>(feed.LastSeq()));
    return 0;
}
