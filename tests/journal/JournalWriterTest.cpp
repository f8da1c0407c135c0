// The journal against a real dziennik.sqlite: lines fed through the real pipeline, rows read
// back through the reader. Bytes recovered exactly, runs across chunks, no number handed out
// twice whatever happened to the file, old rows deleted, each fault (a file that is not a
// database, a file locked by another process, which also fills the queue to its bound, a
// read-only folder, a full disk), and a close that cannot store what it holds.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>

#include "Journal.h"
#include "JournalFile.h"
#include "JournalQuery.h"
#include "JournalRig.h"
#include "JournalSink.h"
#include "JournalWriter.h"
#include "LinePipeline.h"
#include "SealCheck.h"
#include "StationKey.h"
#include "TestSupport.h"

namespace {

using waga::journal::JournalQuery;
using waga::journal::JournalWriter;
using waga::journal::WriterOptions;
using waga::test::ChildProcess;
using waga::test::Rig;
using waga::test::TempDir;

constexpr std::int64_t kDay = 86'400'000;

// Every row of the journal in `folder`; a file that cannot be read, or a row left out, fails the
// test.
std::vector<JournalRow> AllRows(const std::string& folder) {
    JournalQuery query(waga::journal::JournalPath(QString::fromStdString(folder)));
    std::vector<JournalRow> rows;
    const bool read =
        query.ForEach(std::numeric_limits<std::int64_t>::min() / 2,
                      std::numeric_limits<std::int64_t>::max() / 2, [&rows](const JournalRow& row) {
                          rows.push_back(row);
                          return true;
                      });
    EXPECT_TRUE(read) << query.ErrorText().toStdString();
    EXPECT_EQ(query.SkippedRows(), 0) << query.Problems().join(u'\n').toStdString();
    return rows;
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
    EXPECT_EQ(rows.back().text.substr(0, 3), "\u2400");  // the long line starts with byte 0
}

// Rows go to the file several to a statement, a run's row and its growth possibly in one (a run
// across chunks committed together). Stored again with more lines they grow; a seq held by
// another line is refused by its own number wherever it stands among them, and nothing of that
// transaction stays.
TEST(JournalFileTest, ASeqHeldByAnotherLineIsRefusedByItsNumberWhereverItStands) {
    using waga::journal::RowStore;
    // 76 operations: groups of 32 at 0 and 32, the rest from 64; 41 grows the row of 40.
    for (const std::size_t refused : {0, 31, 32, 63, 64, 75}) {
        SCOPED_TRACE(refused);
        TempDir dir;
        const std::string folder = dir.Path();
        std::vector<JournalOp> ops(75);
        for (std::size_t i = 0; i < ops.size(); ++i) {
            const std::string d(1, char('0' + i % 10));
            const std::int64_t seq = 1000 + i, ms = 5'000 + i;
            ops[i].row = {seq, JournalKind::Reading, ms, ms, 1, d, d, i % 10 * 1.0, "kg", "COM2"};
        }
        JournalOp grow{JournalOp::Type::Grow, ops[40].row};
        grow.row.count = 2;
        grow.row.lastMs += 100;
        ops.insert(ops.begin() + 41, grow);
        // What the file holds: each seq's last operation.
        const auto expected = [](const std::vector<JournalOp>& all) {
            std::map<std::int64_t, JournalRow> rows;
            for (const JournalOp& op : all) rows[op.row.seq] = op.row;
            return rows;
        };
        waga::journal::JournalDb db;
        ASSERT_TRUE(db.Open(waga::journal::JournalPath(QString::fromStdString(folder)),
                            waga::journal::JournalAccess::Writer));
        QSqlDatabase sql = db.Database();
        RowStore store;
        QSqlError error;
        ASSERT_TRUE(store.Prepare(sql, error)) << error.text().toStdString();
        const auto storeAll = [&](const std::vector<JournalOp>& all) {
            std::vector<RowStore::Numbered> numbered;
            for (const JournalOp& op : all) numbered.push_back({&op, op.row.seq});
            return waga::journal::InWriteTransaction(
                sql, error, [&](QSqlError& failure) { return store.ApplyAll(numbered, failure); });
        };
        const auto stored = [&] {
            std::map<std::int64_t, JournalRow> rows;
            for (const JournalRow& row : AllRows(folder)) rows[row.seq] = row;
            return rows;
        };
        ASSERT_TRUE(storeAll(ops)) << error.text().toStdString();
        EXPECT_EQ(stored(), expected(ops));
        for (JournalOp& op : ops) {
            op.type = JournalOp::Type::Grow;
            op.row.count += 2;
            op.row.lastMs += 250;
        }
        ASSERT_TRUE(storeAll(ops)) << error.text().toStdString();
        std::vector<JournalOp> other = ops;
        other[refused].row.raw = other[refused].row.text = "X";
        for (JournalOp& op : other) op.row.count += 1;
        EXPECT_FALSE(storeAll(other));
        EXPECT_EQ(waga::journal::ClassifySqlError(error), waga::journal::JournalFault::Conflict);
        EXPECT_EQ(error.driverText().toStdString(),
                  "seq " + std::to_string(other[refused].row.seq));
        store.Clear();
        EXPECT_EQ(stored(), expected(ops));
    }
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

// Chunks that come within the commit interval of the last commit wait for its end and go in
// together, every row of every one of them.
TEST(JournalFileTest, ChunksWithinTheCommitIntervalShareOneCommit) {
    TempDir dir;
    std::mutex mutex;
    std::vector<std::int64_t> commits;  // the highest seq of each commit
    WriterOptions options;
    options.commitEveryMs = 3000;  // the 20 chunks below take far less on any machine
    options.afterCommit = [&](std::int64_t highest) {
        std::lock_guard lock(mutex);
        commits.push_back(highest);
    };
    {
        Rig rig(dir.Path(), options);
        rig.Send("1\r");
        ASSERT_TRUE(rig.WaitCommitted());
        for (int i = 2; i <= 21; ++i) rig.Send(std::to_string(i) + "\r");  // 20 chunks at once
        ASSERT_TRUE(rig.WaitCommitted());
        std::lock_guard lock(mutex);
        ASSERT_EQ(commits.size(), 2u);
        EXPECT_EQ(commits[1], rig.LastSeq());
    }
    const std::vector<JournalRow> rows = AllRows(dir.Path());
    ASSERT_EQ(rows.size(), 21u);
    for (int i = 0; i < 21; ++i) EXPECT_EQ(rows[i].raw, std::to_string(i + 1));
}

// Another process holding the journal's lock (BEGIN EXCLUSIVE) until Release(); `setup` is
// Python run on the connection first.
class Locker {
  public:
    explicit Locker(const std::string& path, const std::string& setup = "") {
        process_.start(
            QStringLiteral("python3"),
            {QStringLiteral("-c"),
             QString::fromStdString("import sqlite3,sys\n"
                                    "c=sqlite3.connect(sys.argv[1],isolation_level=None)\n" +
                                    setup +
                                    "c.execute('BEGIN EXCLUSIVE')\n"
                                    "print('locked',flush=True)\n"
                                    "sys.stdin.read()\n"),
             QString::fromStdString(path)});
        locked_ = process_.waitForReadyRead(10000) &&
                  process_.readAllStandardOutput().trimmed() == "locked";
    }
    ~Locker() { Release(); }
    bool Locked() const { return locked_; }
    void Release() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.closeWriteChannel();  // the locker ends and its lock with it
        if (!process_.waitForFinished(10000)) process_.kill();
        process_.waitForFinished(10000);
    }

  private:
    QProcess process_;
    bool locked_ = false;
};

std::int64_t HighestSeq(const std::vector<JournalRow>& rows) {
    std::int64_t highest = 0;
    for (const JournalRow& row : rows) highest = std::max(highest, row.seq);
    return highest;
}

// Whatever happened to the journal between runs, the next run's numbers are above every number
// handed out before. The clock is the test's: a clock set back leaves the mark (dziennik.seq) as
// the only guard, a restored folder (the mark gone with the file) the clock.
struct LossCase {
    const char* name;
    bool clockBack;
    // Between the second run and the third; `older` holds copies of the journal and its mark
    // made after the first run.
    std::function<void(const std::string& folder, const std::string& older)> loss;
    bool keepLog = false;  // another process keeps the write-ahead log through the second run
};

void PrintTo(const LossCase& c, std::ostream* os) { *os << c.name; }

void Copy(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

const LossCase kLosses[] = {
    {"WriteAheadLogDeleted", true,
     [](const std::string& folder, const std::string&) {
         for (const char* side : {"/dziennik.sqlite-wal", "/dziennik.sqlite-shm"}) {
             ASSERT_TRUE(std::filesystem::remove(folder + side)) << side;
         }
     },
     true},
    {"OlderCopyPutBack", true,
     [](const std::string& folder, const std::string& older) {
         Copy(older + "/dziennik.sqlite", folder + "/dziennik.sqlite");
     }},
    {"DamagedFileMovedAside", true,
     [](const std::string& folder, const std::string&) {
         waga::test::WriteFile(folder + "/dziennik.sqlite", std::string(4096, '\x5a'));
     }},
    {"FolderRestoredWithTheMark", false,
     [](const std::string& folder, const std::string& older) {
         Copy(older + "/dziennik.sqlite", folder + "/dziennik.sqlite");
         Copy(older + "/dziennik.seq", folder + "/dziennik.seq");
     }},
};

class JournalLoss : public testing::TestWithParam<LossCase> {};

TEST_P(JournalLoss, NoNumberIsHandedOutTwice) {
    const LossCase& c = GetParam();
    TempDir dir, older;
    const std::int64_t t0 = 1'900'000'000'000'000;  // µs
    std::int64_t clock = t0;
    WriterOptions options;
    options.clockUs = [&clock] { return clock; };
    std::int64_t handedOut = 0;
    {
        Rig rig(dir.Path(), options);
        rig.Send("1,0\r\n2,0\r\n");
        handedOut = rig.LastSeq();
    }
    Copy(dir.File("dziennik.sqlite"), older.File("dziennik.sqlite"));
    Copy(dir.File("dziennik.seq"), older.File("dziennik.seq"));
    clock = t0 + 1'000'000;
    {
        std::unique_ptr<ChildProcess> keeper;
        Rig rig(dir.Path(), options);
        if (c.keepLog) {
            // A reader whose open connection keeps the log from being folded in at the close;
            // killed, it leaves it as it is.
            keeper = std::make_unique<ChildProcess>(
                std::vector<std::string>{"/usr/bin/python3", "-c",
                                         "import sqlite3,sys,time\n"
                                         "c=sqlite3.connect(sys.argv[1])\n"
                                         "c.execute('SELECT count(*) FROM lines').fetchall()\n"
                                         "print('open',flush=True)\n"
                                         "time.sleep(600)\n",
                                         dir.File("dziennik.sqlite")},
                dir.Path());
            ASSERT_TRUE(waga::test::WaitUntil([&] { return keeper->Stdout() == "open\n"; }));
        }
        rig.Send("3,0\r\n4,0\r\n5,0\r\n");
        handedOut = std::max(handedOut, rig.LastSeq());
        rig.Close();
        if (keeper) {
            keeper->Signal(SIGKILL);
            keeper->Wait();
        }
    }
    c.loss(dir.Path(), older.Path());
    if (c.keepLog || std::string(c.name) == "OlderCopyPutBack") {
        // The rows of the second run are really gone.
        EXPECT_LT(HighestSeq(AllRows(dir.Path())), handedOut);
    }
    clock = c.clockBack ? t0 : t0 + 2'000'000;
    Rig rig(dir.Path(), options);
    rig.Send("6,0\r\n");
    const std::int64_t seq = rig.LastSeq();
    EXPECT_GT(seq, handedOut);
    rig.Close();
    EXPECT_EQ(HighestSeq(AllRows(dir.Path())), seq);  // stored under the number handed out
}

INSTANTIATE_TEST_SUITE_P(Cases, JournalLoss, testing::ValuesIn(kLosses),
                         [](const auto& info) { return std::string(info.param.name); });

// The file's highest number cannot be read at the start (another process holds a rollback
// journal's lock), and the file holds numbers above the clock: that is told, the lines wait, and
// once the file can be read they are stored above its rows, never over them.
TEST(JournalFileTest, NumbersTheFileCouldNotTellAtStartAreStoredAboveItsRows) {
    TempDir dir;
    const std::int64_t t0 = 1'900'000'000'000'000;
    const std::int64_t foreign = t0 + 5'000'000;
    Locker locker(dir.File("dziennik.sqlite"),
                  "c.execute('CREATE TABLE lines(seq INTEGER PRIMARY KEY, kind TEXT NOT NULL,"
                  " first_ms INTEGER NOT NULL, last_ms INTEGER NOT NULL, count INTEGER NOT NULL,"
                  " text TEXT NOT NULL, raw BLOB NOT NULL, value REAL, unit TEXT NOT NULL,"
                  " port TEXT NOT NULL)')\n"
                  "c.execute(\"INSERT INTO lines VALUES(" +
                      std::to_string(foreign) +
                      ", 'report', 1, 1, 1, 'obcy', x'61', NULL, '', 'COM1')\")\n");
    ASSERT_TRUE(locker.Locked());
    WriterOptions options;
    options.clockUs = [t0] { return t0; };
    options.retryMs = 50;
    Rig rig(dir.Path(), options);
    rig.Send("7,0\r\n8,0\r\n");
    EXPECT_LT(rig.LastSeq(), foreign);  // handed out from the clock meanwhile
    ASSERT_FALSE(rig.notices->Texts().empty());
    EXPECT_TRUE(rig.notices->Texts().front().contains(QStringLiteral("zablokowany")));
    locker.Release();
    rig.Send("9,0\r\n");
    ASSERT_TRUE(rig.WaitCommitted());
    const std::vector<QString> notices = rig.notices->Texts();
    EXPECT_TRUE(notices.back().contains(QStringLiteral("powyżej"))) << notices.back().toStdString();
    rig.Close();
    const std::vector<JournalRow> rows = AllRows(dir.Path());
    ASSERT_EQ(rows.size(), 4u);
    std::vector<std::int64_t> seqs;
    for (const JournalRow& row : rows) seqs.push_back(row.seq);
    std::sort(seqs.begin(), seqs.end());
    EXPECT_EQ(seqs, (std::vector<std::int64_t>{foreign, foreign + 1, foreign + 2, foreign + 3}));
}

// Old rows go at start, except, while the central upload is on, those it has not acknowledged
// (upload_state's position saved last): a server away for longer than the kept days loses
// nothing.
TEST(JournalFileTest, RowsOlderThanTheKeptDaysGoAtStartUnlessStillToBeSent) {
    struct Row {
        const char* name;
        bool keepUnsent;
        int ackedRow;  // -1: no position saved; else the index of the acknowledged row
        bool grownSinceAcked;
        std::vector<std::string> left;
    };
    const Row rows[] = {
        {"upload off", false, -1, false, {"nowy"}},
        {"upload off, position saved", false, 0, false, {"nowy"}},
        {"upload on, nothing sent yet", true, -1, false, {"stary1", "stary2", "nowy"}},
        {"upload on, first sent", true, 0, false, {"stary2", "nowy"}},
        {"upload on, first sent, grown since", true, 0, true, {"stary1", "stary2", "nowy"}},
        {"upload on, both old ones sent", true, 1, false, {"nowy"}},
    };
    const std::int64_t today = waga::journal::UtcNowUs() / 1000;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        {
            Rig rig(dir.Path());
            rig.now = today - 3 * kDay;
            rig.Send("stary1\r\nstary2\r\n");
            rig.now = today - kDay / 2;
            rig.Send("nowy\r\n");
        }
        const std::vector<JournalRow> written = AllRows(dir.Path());
        ASSERT_EQ(written.size(), 3u);
        if (row.ackedRow >= 0) {
            const JournalRow& acked = written[static_cast<std::size_t>(row.ackedRow)];
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), row.name);
            db.setDatabaseName(QString::fromStdString(dir.File("dziennik.sqlite")));
            ASSERT_TRUE(db.open());
            QSqlQuery query(db);
            ASSERT_TRUE(query.prepare(QStringLiteral(
                "INSERT INTO upload_state(target, acked_seq, acked_count, acked_last_ms,"
                " updated_ms) VALUES('baza', ?, ?, ?, ?)")));
            query.addBindValue(qint64{acked.seq});
            query.addBindValue(qint64{acked.count});
            query.addBindValue(qint64{acked.lastMs - (row.grownSinceAcked ? 1 : 0)});
            query.addBindValue(qint64{today});
            ASSERT_TRUE(query.exec()) << query.lastError().text().toStdString();
            query = QSqlQuery();
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(QString::fromUtf8(row.name));
        }
        WriterOptions options;
        options.keepDays = 1;
        options.keepUnsent = row.keepUnsent;
        { Rig rig(dir.Path(), options); }
        std::vector<std::string> left;
        for (const JournalRow& kept : AllRows(dir.Path())) left.push_back(kept.text);
        EXPECT_EQ(left, row.left);
        // The seal holds over the rows kept: its base moved up to the oldest of them.
        const waga::journal::SealReport seal = waga::journal::VerifyJournal(
            QString::fromStdString(dir.File("dziennik.sqlite")), std::nullopt);
        EXPECT_TRUE(seal.readable && seal.findings.empty())
            << waga::journal::SealReportText(seal).toStdString();
        EXPECT_EQ(seal.sealed, std::int64_t(row.left.size()));
    }
}

// A clock set back makes an older row follow a newer one: the kept days' deletion then leaves a
// hole in the chain, or takes its newest row, and the seal is relinked over what is kept.
TEST(JournalFileTest, TheSealHoldsWhenOldRowsGoFromAnywhereInTheChain) {
    const std::int64_t today = waga::journal::UtcNowUs() / 1000;
    const struct {
        const char* name;
        std::vector<std::pair<std::int64_t, const char*>> sent;  // days ago, the line
        std::vector<std::string> left;
    } rows[] = {
        {"a hole", {{3, "a"}, {0, "b"}, {3, "c"}, {0, "d"}}, {"b", "d"}},
        {"the newest row", {{3, "a"}, {0, "b"}, {3, "c"}}, {"b"}},
        {"every row", {{3, "a"}, {3, "b"}}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        {
            Rig rig(dir.Path());
            for (const auto& [daysAgo, line] : row.sent) {
                rig.now = today - daysAgo * kDay;
                rig.Send(std::string(line) + "\r\n");  // a report line: a row of its own
            }
        }
        WriterOptions options;
        options.keepDays = 1;
        { Rig rig(dir.Path(), options); }
        std::vector<std::string> left;
        for (const JournalRow& kept : AllRows(dir.Path())) left.push_back(kept.text);
        EXPECT_EQ(left, row.left);
        const waga::journal::SealReport seal = waga::journal::VerifyJournal(
            QString::fromStdString(dir.File("dziennik.sqlite")), std::nullopt);
        EXPECT_TRUE(seal.readable && seal.findings.empty())
            << waga::journal::SealReportText(seal).toStdString();
        EXPECT_EQ(seal.unsealed, 0);
    }
}

// The station's key, as the writer finds it: made when missing (mode 0600), refused through a
// symbolic link or when it is no key (told; the rows are stored unsealed, nothing refused), used
// with a warning when others may read it.
TEST(JournalFileTest, TheStationKeyIsMadeOnceAndAFaultyOneIsToldWithTheRowsStoredUnsealed) {
    struct Row {
        const char* name;
        std::function<void(const std::string& key, const std::string& dir)> before;
        const char* told;  // in the notice; empty: none
        bool sealed;
    };
    const auto makeKey = [](const std::string& key) {
        waga::journal::StationKey made;
        bool created = false;
        QString error, warning;
        ASSERT_TRUE(made.LoadOrCreate(QString::fromStdString(key), created, error, warning));
    };
    const Row rows[] = {
        {"missing: made", [](const std::string&, const std::string&) {}, "", true},
        {"a symbolic link",
         [&](const std::string& key, const std::string& dir) {
             makeKey(dir + "/gdzie-indziej");
             ASSERT_EQ(symlink((dir + "/gdzie-indziej").c_str(), key.c_str()), 0);
         },
         "Nie można odczytać klucza stacji", false},
        {"not a key",
         [](const std::string& key, const std::string&) {
             waga::test::WriteFile(key, "waga-klucz-stacji 1 to nie klucz\n");
         },
         "nie jest kluczem stacji", false},
        {"readable by others",
         [&](const std::string& key, const std::string&) {
             makeKey(key);
             ASSERT_EQ(chmod(key.c_str(), 0644), 0);
         },
         "mogą czytać inni", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string key = dir.File("konfiguracja/klucz-stacji");
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.File("konfiguracja"))));
        row.before(key, dir.Path());
        WriterOptions options;
        options.keyPath = QString::fromStdString(key);
        std::vector<QString> notices;
        {
            Rig rig(dir.Path(), options);
            rig.Send("1,5\r\n2,5\r\n");
            ASSERT_TRUE(rig.WaitCommitted());
            notices = rig.notices->Texts();
        }
        EXPECT_EQ(LinesIn(AllRows(dir.Path())), 2);
        if (*row.told == '\0') {
            EXPECT_TRUE(notices.empty()) << notices.front().toStdString();
            struct stat st {};
            ASSERT_EQ(lstat(key.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        } else {
            ASSERT_EQ(notices.size(), 1u);
            EXPECT_TRUE(notices[0].contains(QString::fromUtf8(row.told)))
                << notices[0].toStdString();
        }
        const waga::journal::SealReport seal = waga::journal::VerifyJournal(
            QString::fromStdString(dir.File("dziennik.sqlite")), std::nullopt);
        EXPECT_EQ(seal.sealed, row.sealed ? 2 : 0);
        EXPECT_EQ(seal.unsealed, row.sealed ? 0 : 2);
    }
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
        EXPECT_GE(rig.LastSeq(), before);
        ASSERT_TRUE(rig.WaitCommitted());
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
    Locker locker(dir.File("dziennik.sqlite"));
    ASSERT_TRUE(locker.Locked());

    WriterOptions options;
    options.queueBytes = 16 * 1024;
    options.retryMs = 50;
    Rig rig(dir.Path(), options);
    std::int64_t sent = 0;
    for (int chunk = 0; chunk < 200; ++chunk) {
        std::string bytes;
        for (int i = 0; i < 10; ++i) bytes += std::to_string(chunk * 10 + i) + ",0\r\n";
        rig.now += 100;
        rig.Send(bytes);
        sent += 10;
    }

    locker.Release();
    ASSERT_TRUE(rig.commits.WaitForCommits(1, std::chrono::seconds(20)));
    rig.Send("koniec\r\n");
    ++sent;
    rig.Close();

    const std::vector<QString> notices = rig.notices->Texts();
    ASSERT_EQ(notices.size(), 2u);  // the cause once, then the all-clear
    EXPECT_TRUE(notices[0].contains(QStringLiteral("zablokowany"))) << notices[0].toStdString();
    EXPECT_TRUE(notices[1].isEmpty());

    const std::vector<JournalRow> rows = AllRows(dir.Path());
    std::int64_t gaps = 0;
    std::size_t queuedWhileLocked = 0;  // the rows ahead of the gap row, all queued at once
    for (const JournalRow& row : rows) {
        if (row.kind == JournalKind::Gap) {
            ++gaps;
            EXPECT_GT(row.count, 0);
            EXPECT_EQ(row.text, waga::journal::kQueueFullReason);
        } else if (gaps == 0) {
            queuedWhileLocked += OpBytes(JournalOp{JournalOp::Type::Insert, row});
        }
    }
    EXPECT_EQ(gaps, 1);
    EXPECT_LE(queuedWhileLocked, options.queueBytes);
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
        ASSERT_FALSE(rig.WaitCommitted(std::chrono::milliseconds(300)));
        ASSERT_TRUE(disk.MakeWritable());
        ASSERT_TRUE(rig.WaitCommitted());
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
            rig.WaitCommitted(std::chrono::milliseconds(200));  // keeps the queue short
        }
        ASSERT_FALSE(rig.notices->Texts().empty());
        ASSERT_TRUE(disk.MakeWritable());
        ASSERT_TRUE(rig.WaitCommitted());
        notices = rig.notices->Texts();
    }
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_TRUE(notices[0].contains(QStringLiteral("Brak miejsca"))) << notices[0].toStdString();
    EXPECT_EQ(LinesIn(AllRows(folder)), sent);
}

// What a close could not store is not lost: it waits beside the journal in
// dziennik.niezapisane for the next start; when that file cannot hold the rows, one gap row in
// it says how many lines went; when not even that can be written, standard error does. The
// close's time is printed (it is meant to stay around 2 s).
enum class Refusal : std::uint8_t { Locked, LockedAndNoRoom, ReadOnly };

struct CloseCase {
    const char* name;
    Refusal refusal;
    int lines;
    int width;         // bytes a line
    const char* told;  // on standard error at the close
    bool restored;     // the next start accounts for every line
};

void PrintTo(const CloseCase& c, std::ostream* os) { *os << c.name; }

const CloseCase kCloses[] = {
    {"LockedByAnotherProcess", Refusal::Locked, 1000, 4, "odłożono je w pliku dziennik.niezapisane",
     true},
    {"NoRoomForTheRows", Refusal::LockedAndNoRoom, 100, 2000, "wiersz przerwy", true},
    {"FolderReadOnly", Refusal::ReadOnly, 20, 4, "utracono", false},
};

class JournalClose : public testing::TestWithParam<CloseCase> {};

// The rows of the journal in `folder`, read after the writer there stored what it had.
std::int64_t StoredLines(const std::string& folder) { return LinesIn(AllRows(folder)); }

TEST_P(JournalClose, NothingReceivedIsLostUntold) {
    const CloseCase& c = GetParam();
    TempDir dir;
    const std::string folder = dir.File("d");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    SmallDisk disk(folder);
    if (c.refusal != Refusal::Locked && !disk.Mounted()) GTEST_SKIP() << "mounting needs root";
    const std::string side = folder + "/dziennik.niezapisane";
    std::int64_t sent = 0;
    {
        Rig rig(folder);  // the journal exists, with one row
        rig.Send("0,0\r\n");
        ++sent;
    }
    std::unique_ptr<Locker> locker;
    std::string filler = folder + "/wypelniacz";
    if (c.refusal != Refusal::ReadOnly) {
        locker = std::make_unique<Locker>(folder + "/dziennik.sqlite");
        ASSERT_TRUE(locker->Locked());
    }
    WriterOptions options;
    options.retryMs = 50;
    options.queueBytes = c.refusal == Refusal::Locked ? 16 * 1024 : 4 << 20;
    if (c.refusal == Refusal::ReadOnly) {
        ASSERT_TRUE(disk.MakeReadOnly());
    }
    std::string told;
    {
        Rig rig(folder, options);
        if (c.refusal == Refusal::LockedAndNoRoom) {
            struct statvfs fs {};
            ASSERT_EQ(statvfs(folder.c_str(), &fs), 0);
            waga::test::WriteFile(filler, std::string(fs.f_bavail * fs.f_bsize - 8192, 'f'));
        }
        for (int i = 0; i < c.lines; ++i) {
            std::string line = std::to_string(i + 1);
            line.resize(std::size_t(c.width), '0');
            rig.now += 10;
            rig.Send(line + "\r\n");
            ++sent;
        }
        waga::test::CaptureOutput output;
        QElapsedTimer closing;
        closing.start();
        rig.Close();
        const qint64 ms = closing.elapsed();
        told = output.Finish();
        std::printf("%s: the close took %lld ms\n", c.name, static_cast<long long>(ms));
    }
    EXPECT_NE(told.find(c.told), std::string::npos) << told;
    if (locker) locker->Release();
    if (c.refusal == Refusal::ReadOnly) {
        ASSERT_TRUE(disk.MakeWritable());
    }
    std::filesystem::remove(filler);
    EXPECT_EQ(std::filesystem::exists(side), c.refusal != Refusal::ReadOnly);
    waga::test::CaptureOutput output;
    { Rig rig(folder); }  // the next start stores what waited, then closes
    told = output.Finish();
    EXPECT_FALSE(std::filesystem::exists(side));
    if (c.restored) {
        EXPECT_NE(told.find("odłożonych przy poprzednim zamknięciu"), std::string::npos) << told;
        EXPECT_EQ(StoredLines(folder), sent);
    } else {
        EXPECT_EQ(StoredLines(folder), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, JournalClose, testing::ValuesIn(kCloses),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
