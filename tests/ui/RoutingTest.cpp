// Received bytes through the window's receive handler into the read-out, the report view and
// the recording file: the widgets, the file and both overflow rules.

#include <QClipboard>
#include <QScrollBar>
#include <QThread>

#include "ReadoutLabel.h"
#include "ReportView.h"
#include "UiFixture.h"
#include "Win1250Qt.h"

using RoutingTest = UiFixture;

// The window's widgets and the file get what the sinks route: everything with every switch on,
// report text alone with every switch off (every combination is the core's table, SinksTest).
TEST_F(RoutingTest, TheSwitchesRouteReadingsAndReportsToTheWidgetsAndTheFile) {
    const struct {
        bool on;
        std::vector<std::string> report;
        std::string file;
    } rows[] = {{false, {"RAPORT"}, ""}, {true, {" 12,50", "RAPORT"}, " 12,50\r\nRAPORT\r\n"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.on);
        const std::string file = Path("rec.txt");
        WriteFile(file, "");
        Switches().SetRecordingFileName(file);
        Form().ReportDisplay().Clear();
        Switches().SetShowReadings(row.on);
        Switches().SetRecording(row.on);
        Switches().SetRecordReadings(row.on);
        Feed(" 12,5");
        Feed("0\r\n");
        EXPECT_EQ(ReadoutBytes(Form()), "12.50");
        Feed("RAPORT\r\n");
        EXPECT_EQ(ReadoutBytes(Form()), "");
        EXPECT_EQ(ReportLines(), row.report);
        EXPECT_EQ(ReadFile(file), row.file);
    }
}

TEST_F(RoutingTest, WidgetTextFollowsTheLinesAfterTheEventLoopRuns) {
    Feed("alpha\r\r gamma \r");
    EXPECT_TRUE(Find<ReportView>(Form(), "Mraport")->FlushPending());
    waga::test::RunEventsUntil(
        [&] { return !Find<ReportView>(Form(), "Mraport")->FlushPending(); });
    EXPECT_EQ(Find<ReportView>(Form(), "Mraport")->Text(), QStringLiteral("alpha\n\n gamma "));
    EXPECT_EQ(Find<ReportView>(Form(), "Mraport")->LineCount(), 3);
}

// Chunks faster than the screen: the reading and the view's lines follow every chunk at once,
// the pictures at most once a frame, and once the frame is over both show the last chunk.
TEST_F(RoutingTest, ChunksFasterThanTheScreenAreDrawnOnceAFrameEndingWithTheLast) {
    Switches().SetShowReadings(true);
    auto* readout = Find<ReadoutLabel>(Form(), "Ldisplay");
    auto* view = Find<ReportView>(Form(), "Mraport");
    ASSERT_TRUE(waga::test::RunEventsUntil(
        [&] { return !readout->DrawPending() && !view->FlushPending(); }));
    QThread::msleep(2 * FramePacer::kFrameMs);  // a quiet spell
    Feed("0\r");
    EXPECT_EQ(readout->text(), QStringLiteral("0"));  // after a quiet spell: at once
    for (int i = 1; i < 30; ++i) {
        Feed(std::to_string(i % 10) + "\r");
        EXPECT_EQ(ReadoutBytes(Form()), std::to_string(i % 10));
        EXPECT_EQ(view->LineCount(), i + 1);
    }
    EXPECT_EQ(readout->text(), QStringLiteral("0"));  // the event loop has not run: no frame yet
    EXPECT_TRUE(readout->DrawPending());
    ASSERT_TRUE(waga::test::RunEventsUntil(
        [&] { return !readout->DrawPending() && !view->FlushPending(); }));
    EXPECT_EQ(readout->text(), QStringLiteral("9"));
    EXPECT_EQ(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
    EXPECT_EQ(view->Lines().back().Bytes(), "9");
}

TEST_F(RoutingTest, ReadOutAndViewStopAtByteZeroWhileTheFileGetsEveryByte) {
    const std::string file = Path("rec.txt");
    WriteFile(file, "");
    Switches().SetRecordingFileName(file);
    Switches().SetRecordReadings(true);
    Feed(std::string("12.5\0xyz\r", 9));
    EXPECT_EQ(ReadoutBytes(Form()), "12.5");
    Feed(std::string("ab\0cd\r", 6));
    EXPECT_EQ(ReportLines(), (std::vector<std::string>{"ab"}));
    EXPECT_EQ(ReadFile(file), std::string("12.5\0xyz\r\nab\0cd\r\n", 17));
}

TEST_F(RoutingTest, PolishBytesShowAsTheirLetters) {
    Feed("\xA5\xB9 \xA3\xB3 \x8C\x9C\r");  // Ąą Łł Śś in Windows-1250
    Find<ReportView>(Form(), "Mraport")->Flush();
    EXPECT_EQ(Find<ReportView>(Form(), "Mraport")->Text(), QString::fromUtf8("Ąą Łł Śś"));
    Form().SetUnitCaption(Win1250Text("g"));
    EXPECT_EQ(Find<QLabel>(Form(), "Ljednost")->text(), QStringLiteral("g"));
}

// The limit rule before each append, in both modes, with the widget checked against the model.
TEST_F(RoutingTest, LimitRuleInBothModes) {
    struct Row {
        bool deleteOldest;
        int limit;
        int lines;
        std::vector<std::string> expectedTail;
        int expectedCount;
    } rows[] = {
        {true, 10, 10, {"r9"}, 10},  {true, 10, 11, {"r10"}, 10}, {true, 10, 25, {"r24"}, 10},
        {false, 10, 10, {"r9"}, 10}, {false, 10, 11, {"r10"}, 1}, {false, 10, 25, {"r24"}, 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.deleteOldest << " " << row.lines);
        Form().ReportDisplay().Clear();
        Switches().SetMaxReportLines(row.limit);
        Switches().SetDeleteOldest(row.deleteOldest);
        Switches().SetRecording(false);
        FeedReportLines(row.lines);
        EXPECT_EQ(Form().ReportDisplay().LineCount(), row.expectedCount);
        EXPECT_EQ(ReportLines().back(), row.expectedTail.back());
        // The view's scroll range follows the lines once it is brought up to date.
        auto* view = Find<ReportView>(Form(), "Mraport");
        view->Flush();
        EXPECT_EQ(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
        EXPECT_EQ(view->Text().count(QLatin1Char('\n')) + 1, row.expectedCount);
    }
}

// Deletes and appends spread over several flushes keep the widget equal to the model.
TEST_F(RoutingTest, ViewMatchesModelAcrossFlushes) {
    Switches().SetRecording(false);
    Switches().SetMaxReportLines(50);
    for (int round = 0; round < 20; ++round) {
        FeedReportLines(round * 7 % 23, "x" + std::to_string(round) + "_");
        if (round % 5 == 4) Form().ReportDisplay().Clear();
        if (round % 3 == 0) Feed("\r");  // an empty report line
        Find<ReportView>(Form(), "Mraport")->Flush();
        QStringList model;
        for (const Win1250Text& line : Find<ReportView>(Form(), "Mraport")->Lines())
            model << QString::fromStdString(line.Bytes());
        ASSERT_EQ(Find<ReportView>(Form(), "Mraport")->Text(), model.join(QLatin1Char('\n')))
            << round;
    }
}

// Every byte survives the way from received bytes to a widget's text and back (byte 0 included);
// a character the code page has no byte for comes back as '?', as konfig.ini would get it.
TEST(Win1250AtTheWindow, EveryByteRoundTripsAndForeignCharactersBecomeQuestionMarks) {
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b) all[static_cast<std::size_t>(b)] = static_cast<char>(b);
    const QString shown = ToQString(Win1250Text(all));
    ASSERT_EQ(shown.size(), 256);
    EXPECT_EQ(shown[0xA5], QChar(0x0104));  // Ą
    EXPECT_EQ(shown[0x9C], QChar(0x015B));  // ś
    EXPECT_EQ(ToWin1250(shown).Bytes(), all);
    EXPECT_EQ(ToWin1250(QString::fromUtf8("Łódź 日 €")).Bytes(),
              "\xA3\xF3"
              "d\x9F ? \x80");
}

// The operator selects with the mouse or Ctrl+A and copies with Ctrl+C; a selection stays on its
// lines while older ones leave the top, and is gone with them.
TEST_F(RoutingTest, TheReportViewSelectsAndCopiesWholeAndPartLines) {
    Switches().SetRecording(false);
    FeedReportLines(6, "linia ");
    auto* view = Find<ReportView>(Form(), "Mraport");
    view->Flush();
    QWidget* paper = view->viewport();
    const QFontMetrics metrics(view->font());
    const auto at = [&](int row, int column) {
        return QPoint(4 + column * metrics.horizontalAdvance(QLatin1Char('0')),
                      4 + row * metrics.lineSpacing() + metrics.lineSpacing() / 2);
    };
    QTest::mousePress(paper, Qt::LeftButton, Qt::NoModifier, at(1, 2));
    QTest::mouseMove(paper, at(2, 4));
    QTest::mouseRelease(paper, Qt::LeftButton, Qt::NoModifier, at(2, 4));
    EXPECT_EQ(view->SelectedText(), QStringLiteral("nia 1\nlini"));
    view->setFocus();
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("nia 1\nlini"));

    Switches().SetMaxReportLines(6);
    FeedReportLines(2, "nowa ");  // "linia 0" and "linia 1" leave the top
    EXPECT_EQ(view->SelectedText(), QStringLiteral("lini"));  // only the part in "linia 2" is left
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view->SelectedText(), view->Text());
}

// A line far wider than the view is not wrapped; the horizontal range reaches its end, and an
// operator who scrolled up is not pulled back down by new lines.
TEST_F(RoutingTest, TheReportViewScrollsToLongLinesAndStaysWhereTheOperatorLooks) {
    Switches().SetRecording(false);
    const std::string wide(4000, 'W');
    Feed(wide + "\r");
    FeedReportLines(100);
    auto* view = Find<ReportView>(Form(), "Mraport");
    view->Flush();
    const int columnWidth = QFontMetrics(view->font()).horizontalAdvance(QLatin1Char('0'));
    EXPECT_GE(view->horizontalScrollBar()->maximum() + view->viewport()->width(),
              4000 * columnWidth);
    EXPECT_EQ(view->verticalScrollBar()->value(), view->verticalScrollBar()->maximum());
    view->verticalScrollBar()->setValue(0);
    FeedReportLines(5, "x");
    view->Flush();
    EXPECT_EQ(view->FirstVisibleLine(), 0);
    EXPECT_EQ(view->Lines().front().Bytes(), wide);
}

// The view draws again only the strip its text reaches; what the screen holds after long lines
// gave way to short ones, or to none, is what a whole new picture shows.
TEST_F(RoutingTest, TheReportViewLeavesNothingOfLinesThatScrolledAway) {
    Switches().SetRecording(false);
    Switches().SetMaxReportLines(40);
    auto* view = Find<ReportView>(Form(), "Mraport");
    QWidget* paper = view->viewport();
    const auto screen = [&] {
        QCoreApplication::processEvents();  // the picture the flush asked for
        const QPoint at = paper->mapTo(&Form(), QPoint(0, 0));
        return Form()
            .screen()
            ->grabWindow(Form().winId(), at.x(), at.y(), paper->width(), paper->height())
            .toImage();
    };
    const struct {
        const char* what;
        int lines;
        std::string prefix;
    } kSteps[] = {
        {"long lines", 40, std::string(70, 'W')},
        {"short lines", 40, "a"},
        {"one long line", 1, std::string(30, 'M')},
        {"short lines again", 40, "b"},
    };
    for (const auto& step : kSteps) {
        FeedReportLines(step.lines, step.prefix);
        view->Flush();
        const QImage flushed = screen();
        paper->repaint();
        ASSERT_EQ(flushed, screen()) << step.what;
    }
    Form().ReportDisplay().Clear();
    view->Flush();
    const QImage cleared = screen();
    paper->repaint();
    EXPECT_EQ(cleared, screen()) << "cleared";
}
