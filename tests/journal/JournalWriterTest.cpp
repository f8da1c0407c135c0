// The journal against a real dziennik.sqlite: lines fed through the real pipeline, rows read
// back through the reader. Bytes recovered exactly, runs across chunks, numbering across
// restarts, old rows deleted, and each fault: a file that is not a database, a file locked by
// another process (which also fills the queue to its bound), a read-only folder, a full disk.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <mutex>

#include "Journal.h"
#include "JournalFile.h"
#include "JournalQuery.h"
#include "JournalRig.h"
#include "JournalSink.h"
#include "JournalWriter.h"
#include "LinePipeline.h"
#include "TestSupport.h"

namespace {

using waga::journal::JournalQuery;
using waga::journal::JournalWriter;
using waga::journal::WriterOptions;
using waga::test::Rig;
using waga::test::TempDir;

constexpr std::int64_t kDay = 86'400'000;

std::vector<JournalRow> AllRows(const std::string& folder) {
    JournalQuery query(QString::fromStdString(folder + "/dziennik.sqlite"));
    EXPECT_TRUE(query.IsOpen()) << query.ErrorText().toStdString();
    return query.Rows(std::numeric_limits<std::int64_t>::min() / 2,
                      std::numeric_limits<std::int64_t>::max() / 2);
}

std::int64_t LinesIn(const std::vector<JournalRow>& rows) {
    std::int64_t lines = 0;
    for (const JournalRow& row : rows) lines += row.count;
    return lines;
}

TEST(JournalFileTest, EveryByteValueALineCanHoldComesBackExactly) {
    TempDir dir;
    std::string all;  // every byte but CR (ends a line) and LF (dropped)
    for (int b = 0; b < 256; ++b) {
        if (b != '\r' && b != '\n') all += static_cast<char>(b);
    }
    std::vector<std::string> sent;
    {
        Rig rig(dir.Path());
        for (char c : all) sent.push_back(std::string(1, c) + "x");
        sent.push_back(all);
        std::string stream;
        for (const std::string& line : sent) stream += line + "\r\n";
        rig.Send(stream);
    }
    const std::vector<JournalRow> rows = AllRows(dir.Path());
    ASSERT_EQ(rows.size(), sent.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].raw, sent[i]) << "line " << i;
        EXPECT_EQ(rows[i].count, 1);
    }
    EXPECT_EQ(rows.back().text.size(), 0u);  // the long line starts with byte 0: nothing shown
}

TEST(JournalFileTest, RunsSpanChunksAndEndAtAPortLoss) {
    TempDir dir;
    {
        Rig rig(dir.Path());
        rig.Send("0,00\r\n0,0");
        rig.now += 250;
        rig.Send("0\r\n0,00\r\n");
        rig.now += 250;
        rig.pipeline.AnnouncePortState(PortState::Lost);
        rig.Send("0,00\r\nSuma: 3\r\n");
    }
    const std::vector<JournalRow> rows = AllRows(dir.Path());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].count, 3);
    EXPECT_EQ(rows[0].lastMs - rows[0].firstMs, 250);
    EXPECT_EQ(rows[0].value, 0.0);
    EXPECT_EQ(rows[1].count, 1);
    EXPECT_EQ(rows[2].kind, JournalKind::Report);
    EXPECT_FALSE(rows[2].value.has_value());
    EXPECT_LT(rows[0].seq, rows[1].seq);
    EXPECT_LT(rows[1].seq, rows[2].seq);
}

TEST(JournalFileTest, NumberingContinuesAfterARestartAndAStopEndsTheRun) {
    TempDir dir;
    std::int64_t last = 0;
    {
        Rig rig(dir.Path());
        // A new journal starts at the clock in microseconds, above any earlier file's numbers.
        const std::int64_t before = waga::journal::UtcNowUs();
        rig.Send("1\r\n");
        EXPECT_GE(rig.sink->LastSeq(), before - 60'000'000);
        rig.Send("1\r\n");
        last = rig.sink->LastSeq();
    }
    Rig rig(dir.Path());
    rig.Send("1\r\n");
    EXPECT_EQ(rig.sink->LastSeq(), last + 1);
}

TEST(JournalFileTest, RowsOlderThanTheKeptDaysGoAtStart) {
    TempDir dir;
    const std::int64_t today = waga::journal::UtcNowUs() / 1000;
    {
        Rig rig(dir.Path());
        rig.now = today - 3 * kDay;
        rig.Send("stary\r\n");
        rig.now = today - kDay / 2;
        rig.Send("nowy\r\n");
    }
    WriterOptions options;
    options.keepDays = 1;
    { Rig rig(dir.Path(), options); }
    const std::vector<JournalRow> rows = AllRows(dir.Path());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].text, "nowy");
}

TEST(JournalFaultTest, AFileThatIsNotADatabaseIsMovedAsideAndANewOneStarted) {
    TempDir dir;
    const std::string garbage = "To nie jest baza danych.\n" + std::string(5000, '\x7f');
    waga::test::WriteFile(dir.File("dziennik.sqlite"), garbage);
    const std::int64_t before = waga::journal::UtcNowUs();
    std::vector<QString> notices;
    {
        Rig rig(dir.Path());
        rig.Send("5,5\r\n");
        EXPECT_GE(rig.sink->LastSeq(), before);
        rig.writer->WaitIdle(10000);
        notices = rig.notices->Texts();
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].contains(QStringLiteral("uszkodzony"))) << notices[0].toStdString();
    const QStringList aside = QDir(QString::fromStdString(dir.Path()))
                                  .entryList({QStringLiteral("dziennik.sqlite.uszkodzony-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^dziennik\\.sqlite\\.uszkodzony-\\d{8}-\\d{6}$"))
                    .match(aside[0])
                    .hasMatch())
        << aside[0].toStdString();
    EXPECT_EQ(waga::test::ReadFile(dir.File(aside[0].toStdString())), garbage);
    const std::vector<JournalRow> rows = AllRows(dir.Path());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].raw, "5,5");
}

// Another process holds the file's write lock. The writer tells it once, keeps the queue to its
// bound, and when the lock goes every line is accounted for: stored, or counted in a gap row.
TEST(JournalFaultTest, ALockedFileFillsTheQueueToItsBoundThenAGapRowTellsTheSkippedLines) {
    TempDir dir;
    { Rig rig(dir.Path()); }  // the file exists
    QProcess locker;
    locker.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sqlite3,sys\n"
                                 "c=sqlite3.connect(sys.argv[1],isolation_level=None)\n"
                                 "c.execute('BEGIN EXCLUSIVE')\n"
                                 "print('locked',flush=True)\n"
                                 "sys.stdin.read()\n"),
                  QString::fromStdString(dir.File("dziennik.sqlite"))});
    ASSERT_TRUE(locker.waitForReadyRead(10000));
    ASSERT_EQ(locker.readAllStandardOutput().trimmed(), "locked");

    WriterOptions options;
    options.queueBytes = 16 * 1024;
    options.retryMs = 50;
    Rig rig(dir.Path(), options);
    std::int64_t sent = 0;
    int refusedChunks = 0;
    for (int chunk = 0; chunk < 200; ++chunk) {
        std::string bytes;
        for (int i = 0; i < 10; ++i) bytes += std::to_string(chunk * 10 + i) + ",0\r\n";
        rig.now += 100;
        rig.Send(bytes);
        sent += 10;
        if (rig.sink->PendingSkipped() > 0) ++refusedChunks;
        EXPECT_LE(rig.writer->QueuedBytes(), options.queueBytes);
    }
    EXPECT_GT(refusedChunks, 0);
    const std::int64_t skipped = rig.sink->PendingSkipped();
    EXPECT_GT(skipped, 0);

    locker.closeWriteChannel();  // the locker ends and its lock with it
    ASSERT_TRUE(locker.waitForFinished(10000));
    ASSERT_TRUE(rig.writer->WaitIdle(20000));
    rig.Send("koniec\r\n");
    ++sent;
    ASSERT_TRUE(rig.writer->WaitIdle(20000));

    const std::vector<QString> notices = rig.notices->Texts();
    ASSERT_EQ(notices.size(), 2u);  // the cause once, then the all-clear
    EXPECT_TRUE(notices[0].contains(QStringLiteral("zablokowany"))) << notices[0].toStdString();
    EXPECT_TRUE(notices[1].isEmpty());

    const std::vector<JournalRow> rows = AllRows(dir.Path());
    std::int64_t gaps = 0;
    for (const JournalRow& row : rows) {
        if (row.kind == JournalKind::Gap) {
            ++gaps;
            EXPECT_EQ(row.count, skipped);
            EXPECT_EQ(row.text, waga::journal::kQueueFullReason);
        }
    }
    EXPECT_EQ(gaps, 1);
    EXPECT_EQ(LinesIn(rows), sent);
    for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1].seq, rows[i].seq);
}

// A small file system of our own: read-only or full. Needs the right to mount (root); elsewhere
// the read-only case uses the folder's mode instead and the full disk is skipped.
class SmallDisk {
  public:
    explicit SmallDisk(const std::string& path) : path_(path) {
        mounted_ =
            geteuid() == 0 && mount("tmpfs", path.c_str(), "tmpfs", 0, "size=256k,mode=0755") == 0;
    }
    ~SmallDisk() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    bool MakeReadOnly() {
        if (!mounted_) return chmod(path_.c_str(), 0555) == 0 && access(path_.c_str(), W_OK) != 0;
        return mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    bool MakeWritable() {
        if (!mounted_) return chmod(path_.c_str(), 0755) == 0;
        return mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT, "size=64m") == 0;
    }

  private:
    std::string path_;
    bool mounted_ = false;
};

TEST(JournalFaultTest, AReadOnlyFolderIsToldOnceAndTheLinesAreStoredWhenItIsWritableAgain) {
    TempDir dir;
    const std::string folder = dir.File("ro");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    SmallDisk disk(folder);
    if (!disk.MakeReadOnly()) GTEST_SKIP() << "cannot make a read-only folder here";
    WriterOptions options;
    options.retryMs = 50;
    std::vector<QString> notices;
    {
        Rig rig(folder, options);
        rig.Send("1,0\r\n2,0\r\n");
        rig.Send("3,0\r\n");
        waga::test::WaitUntil([&] { return !rig.notices->Texts().empty(); });
        ASSERT_FALSE(rig.writer->WaitIdle(300));
        ASSERT_TRUE(disk.MakeWritable());
        ASSERT_TRUE(rig.writer->WaitIdle(20000));
        notices = rig.notices->Texts();
    }
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_TRUE(notices[0].contains(QStringLiteral("tylko do odczytu")))
        << notices[0].toStdString();
    EXPECT_EQ(LinesIn(AllRows(folder)), 3);
}

TEST(JournalFaultTest, AFullDiskIsToldOnceAndTheLinesAreStoredWhenThereIsRoom) {
    TempDir dir;
    const std::string folder = dir.File("small");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    SmallDisk disk(folder);
    if (!disk.Mounted()) GTEST_SKIP() << "mounting a small file system needs root";
    WriterOptions options;
    options.retryMs = 50;
    std::vector<QString> notices;
    std::int64_t sent = 0;
    {
        Rig rig(folder, options);
        // Lines of 1,000 different bytes until the 256 KiB disk is full.
        for (int i = 0; i < 2000 && rig.notices->Texts().empty(); ++i) {
            rig.Send(std::to_string(i) + std::string(1000, 'w') + "\r\n");
            ++sent;
            rig.writer->WaitIdle(200);
        }
        ASSERT_FALSE(rig.notices->Texts().empty());
        ASSERT_TRUE(disk.MakeWritable());
        ASSERT_TRUE(rig.writer->WaitIdle(20000));
        notices = rig.notices->Texts();
    }
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_TRUE(notices[0].contains(QStringLiteral("Brak miejsca"))) << notices[0].toStdString();
    EXPECT_EQ(LinesIn(AllRows(folder)), sent);
}

}  // namespace
