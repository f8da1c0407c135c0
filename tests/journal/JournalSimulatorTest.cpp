// End to end without the window: the built scale-sim on a pseudo-terminal, read by the station's
// parts as both programs build them (the serial port component, its session, the pipeline and
// the journal); then the built waga-journal exports the file. Every line the simulator logged as
// sent is in the export, in order, byte for byte, with times inside the run.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "Station.h"
#include "TestSupport.h"

using namespace std::chrono_literals;
using namespace waga::test;

namespace {

struct SimRow {
    const char* name;
    std::vector<std::string> options;
};

class JournalSimulatorTest : public testing::TestWithParam<SimRow> {};

TEST_P(JournalSimulatorTest, TheJournalHoldsEveryLineSent) {
    TempDir dir;
    std::vector<std::string> args = {BinPath("scale-sim"), "--link",      dir.File("COM2"), "--log",
                                     dir.File("sent.bin"), "--wait-open", "--quiet"};
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    ChildProcess sim(args, dir.Path());
    ASSERT_TRUE(WaitUntil([&] {
        struct stat st {};
        return ::lstat(dir.File("COM2").c_str(), &st) == 0;
    })) << sim.Stderr();

    const std::int64_t startMs = UtcNowMs();
    {
        ScopedWorkingDir cwd(dir.Path());
        Station station(QString::fromStdString(dir.Path()));
        ASSERT_NE(station.Journal(), nullptr);
        station.Start({}, {});
        station.Pipeline().SetUnit(Win1250Text("kg"));
        station.Port().SetComPortSpeed(br115200);
        station.Session().Start();
        ASSERT_TRUE(station.Port().IsPortOpen());
        ASSERT_TRUE(RunEventsUntil([&] { return !sim.Running(); }, 60s));
        RunEvents(100ms);
        station.Stop();
    }  // the journal stores what is queued and closes
    const std::int64_t endMs = UtcNowMs();
    ASSERT_EQ(sim.Wait(), 0) << sim.Stderr();

    ChildProcess tool({BinPath("waga-journal"), "export", "--format", "json"}, dir.Path());
    ASSERT_EQ(tool.Wait(), 0) << tool.Stderr();
    const QJsonArray rows =
        QJsonDocument::fromJson(QByteArray::fromStdString(tool.Stdout())).array();
    std::vector<std::string> journaled;
    for (const QJsonValue& value : rows) {
        const QJsonObject row = value.toObject();
        const QByteArray bytes =
            QByteArray::fromBase64(row[QStringLiteral("bytes")].toString().toLatin1());
        for (int i = 0; i < row[QStringLiteral("count")].toInt(); ++i) {
            journaled.push_back(bytes.toStdString());
        }
        for (const char* key : {"first", "last"}) {
            const std::int64_t ms =
                QDateTime::fromString(row[QLatin1String(key)].toString(), Qt::ISODateWithMs)
                    .toMSecsSinceEpoch();
            EXPECT_GE(ms, startMs);
            EXPECT_LE(ms, endMs);
        }
    }
    const std::vector<std::string> sent = LinesOf(ReadFile(dir.File("sent.bin")));
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(journaled.size(), sent.size());
    EXPECT_TRUE(journaled == sent) << "the journal differs from what was sent";
}

const SimRow kSimRows[] = {
    {"ReadingsAndReports", {"--count", "600", "--rate", "0", "--report-every", "0.2"}},
    {"ArbitraryBytes", {"--count", "1500", "--mixed", "--rate", "0", "--seed", "11"}},
    {"SteadyShortLines", {"--count", "3000", "--short", "--rate", "0"}},
};

INSTANTIATE_TEST_SUITE_P(Rows, JournalSimulatorTest, testing::ValuesIn(kSimRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
