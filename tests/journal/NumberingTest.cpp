// One numbering: the journal's sink numbers every line, and the weight service's events carry its
// numbers. A sink ahead of both (the recording file) opens its error box while lines arrive; the
// service's ids stay distinct and rising, each the seq of the journal's row that holds the line,
// and with the journal off they come from the same rule.

#include <gtest/gtest.h>

#include <QString>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "Journal.h"
#include "JournalQuery.h"
#include "QtEventLoop.h"
#include "RecordingSink.h"
#include "Station.h"
#include "TestSupport.h"
#include "WeightService.h"

using namespace waga::test;

namespace {

// The error box: while it is open the port's next chunks arrive.
class BoxWithChunks : public IOperatorBoxes {
  public:
    BoxWithChunks(LinePipeline& pipeline, std::vector<std::string> chunks)
        : pipeline_(pipeline), chunks_(std::move(chunks)) {}
    void ShowError(const std::string& text) override {
        texts.push_back(text);
        for (const std::string& chunk : chunks_)
            pipeline_.Receive(chunk.data(), static_cast<std::int32_t>(chunk.size()));
        chunks_.clear();
    }
    ConfirmAnswer AskConfirmation(const std::string&) override { return ConfirmAnswer::No; }
    std::vector<std::string> texts;

  private:
    LinePipeline& pipeline_;
    std::vector<std::string> chunks_;
};

using Numbered = std::tuple<QString, std::int64_t, std::int64_t>;  // text, seq, count so far

// The station in `dir` with the recording file ahead of the journal: its box opens after the
// first chunk, and more lines arrive while it is open. The service's line events, and the boxes.
void RunWithABox(const TempDir& dir, bool journal, std::vector<Numbered>& heard,
                 std::vector<std::string>& boxTexts) {
    if (!journal) WriteFile(dir.File("dodatki.ini"), "[Dziennik]\nWlaczony=0\n");
    Station station(QString::fromStdString(dir.Path()));
    ASSERT_EQ(station.Journal() != nullptr, journal);
    station.Switches().SetRecording(true);
    station.Switches().SetRecordingFileName(dir.File("missing/rec.txt"));
    BoxWithChunks boxes(station.Pipeline(), {"1\r1\rB\r", "2\r"});
    QtEventLoop loop(station);
    RecordingSink recording(station.Switches(), boxes, loop);
    station.Start({&recording}, {});
    auto feed = std::make_shared<ServiceFeed>();
    station.Service().Sink().Connect(feed, {});

    for (const std::string chunk : {"A\r1\r", "1\rC\r"}) {
        station.Pipeline().Receive(chunk.data(), static_cast<std::int32_t>(chunk.size()));
        RunEvents(std::chrono::milliseconds(20));  // the box opens after the first chunk
    }
    station.Stop();
    boxTexts = boxes.texts;
    for (const ServiceEvent& event : feed->TakeAll())
        if (event.kind != ServiceEvent::Kind::Status)
            heard.emplace_back(event.text, event.seq, event.count);
}  // the journal stores what is queued

// Distinct, rising ids: a new row one above the last, a further line of a run the same.
void ExpectRisingIds(const std::vector<Numbered>& heard) {
    for (std::size_t i = 1; i < heard.size(); ++i) {
        const bool sameRow = std::get<2>(heard[i]) > 1;
        EXPECT_EQ(std::get<1>(heard[i]) - std::get<1>(heard[i - 1]), sameRow ? 0 : 1) << i;
    }
}

TEST(NumberingTest, AServiceIdIsTheJournalsSeqAlsoWhenABoxOpensAheadOfBoth) {
    TempDir dir;
    std::vector<Numbered> heard;
    std::vector<std::string> boxTexts;
    RunWithABox(dir, true, heard, boxTexts);
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_EQ(boxTexts, std::vector<std::string>{kRecordingWriteError});
    waga::journal::JournalQuery query(QString::fromStdString(dir.File("dziennik.sqlite")));
    std::vector<Numbered> stored;
    QStringList texts;
    ASSERT_TRUE(query.ForEach(0, std::numeric_limits<std::int64_t>::max(),
                              [&](const JournalRow& row) {
                                  texts << QString::fromStdString(row.text);
                                  for (std::int64_t n = 1; n <= row.count; ++n)
                                      stored.emplace_back(QString::fromStdString(row.text), row.seq,
                                                          n);
                                  return true;
                              }))
        << query.ErrorText().toStdString();
    // The rows in the order the lines arrived.
    EXPECT_EQ(texts, QStringList({"A", "1", "B", "2", "1", "C"}));
    EXPECT_EQ(heard, stored);
    ExpectRisingIds(heard);
}

// With the journal off the same rule numbers the lines, from the clock in microseconds, so an id
// never repeats across program starts.
TEST(NumberingTest, WithoutTheJournalTheIdsRiseFromTheClock) {
    TempDir dir;
    const std::int64_t startUs = UtcNowMs() * 1000;
    std::vector<Numbered> heard;
    std::vector<std::string> boxTexts;
    RunWithABox(dir, false, heard, boxTexts);
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_EQ(boxTexts, std::vector<std::string>{kRecordingWriteError});
    QStringList texts;
    for (const Numbered& line : heard) texts << std::get<0>(line);
    EXPECT_EQ(texts, QStringList({"A", "1", "1", "1", "B", "2", "1", "C"}));
    ASSERT_FALSE(heard.empty());
    EXPECT_GT(std::get<1>(heard.front()), startUs);
    ExpectRisingIds(heard);
}

}  // namespace
