#include "StationRig.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <cstdlib>

#include "JournalFeed.h"
#include "JournalFile.h"
#include "UploadBatch.h"

namespace central {
void PrintTo(const RowsDigest& digest, std::ostream* os) {
    *os << digest.rows << " rows, md5 " << digest.md5.toStdString();
}
}  // namespace central

namespace {

FeedLine LineNumber(long n, qint64 ms) {
    if (n % 7 == 6) return FeedLine{false, "RAPORT nr " + QByteArray::number(n) + " 'x' \\y", ms};
    // Runs of three identical readings, then the weight changes.
    return FeedLine{true, QByteArray::number(100 + (n / 3) % 900) + ",5", ms};
}

}  // namespace

Feeder::Feeder(const QString& journalPath, int linesPerSecond, int firstValue) {
    lines_ = firstValue;
    thread_ = std::thread([this, journalPath, linesPerSecond] {
        JournalFeed feed(journalPath);
        if (!feed.IsOpen()) {
            failed_ = true;
            return;
        }
        const int perChunk = std::max(1, linesPerSecond / 50);
        long chunks = 0;
        while (!stop_) {
            std::vector<FeedLine> chunk;
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            for (int i = 0; i < perChunk; ++i) chunk.push_back(LineNumber(lines_++, now));
            if (!feed.AppendChunk(chunk)) failed_ = true;
            if (++chunks % 40 == 0) feed.EndRun();  // the port was lost and opened again
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
}

void Feeder::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

bool WriteBacklog(const QString& journalPath, int rows, int firstValue) {
    JournalFeed feed(journalPath);
    if (!feed.IsOpen()) return false;
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - rows;
    for (int done = 0; done < rows;) {
        std::vector<FeedLine> chunk;
        for (int i = 0; i < 1000 && done < rows; ++i, ++done) {
            chunk.push_back(FeedLine{true, QByteArray::number(firstValue + done), start + done});
        }
        if (!feed.AppendChunk(chunk)) return false;
    }
    return true;
}

std::optional<central::RowsDigest> JournalDigest(const QString& journalPath) {
    QString error;
    const std::optional<central::RowsDigest> digest =
        central::JournalRowsDigest(journalPath, error);
    if (!digest) ADD_FAILURE() << "the journal's digest: " << error.toStdString();
    return digest;
}

qint64 AckedSeq(const QString& journalPath) {
    waga::journal::JournalDb db;
    central::AckedPosition position;
    QString error;
    if (!db.Open(journalPath, waga::journal::JournalAccess::Reader)) {
        error = db.LastError().text();
    } else {
        QSqlDatabase connection = db.Database();
        if (central::LoadAckedPosition(connection, QStringLiteral("central"), position, error)) {
            return position.seq;
        }
    }
    ADD_FAILURE() << "the acknowledged position: " << error.toStdString();
    return -1;
}

std::chrono::milliseconds OutageDuration() {
    const char* text = std::getenv("WAGA_CENTRAL_TEST_OUTAGE_S");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return std::chrono::seconds(seconds > 0 ? seconds : 3);
}

DigestPair WaitForEqualRows(CentralServer& server, const QString& station,
                            const QString& journalPath, std::chrono::milliseconds timeout) {
    DigestPair last;
    waga::test::WaitUntil(
        [&] {
            last.journal = JournalDigest(journalPath);
            last.central = server.Digest(station);
            if (last.journal && last.central && *last.journal == *last.central) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            return false;
        },
        timeout);
    return last;
}

void ExpectEqualDigests(const DigestPair& digests) {
    ASSERT_TRUE(digests.journal.has_value());
    ASSERT_TRUE(digests.central.has_value());
    EXPECT_GT(digests.journal->rows, 0);
    EXPECT_EQ(*digests.central, *digests.journal);
}
