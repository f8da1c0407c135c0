// The history window offscreen on a journal written by the real writer: a day's readings drawn
// reduced and zoomed to the hours with data, the report lines listed with their times one line
// each, hover, zoom and pan by mouse, the line broken at gaps with the axes fitted, a far outlier
// left off the value axis, the range typed whole or as a time alone, the window reading again by
// itself while a message stays, the exports equal to waga-journal's, and a journal that is
// missing. The window's decisions (the robust fit, the data's span, typed times) in tables.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QWheelEvent>
#include <cmath>

#include "ExportManifest.h"
#include "HistoryChartView.h"
#include "HistoryWindow.h"
#include "JournalFile.h"
#include "JournalRig.h"
#include "ProgramRun.h"
#include "StationKey.h"
#include "TestSupport.h"

namespace {

using waga::test::Rig;
using waga::test::TempDir;

struct Day {
    QDate date = QDate(2026, 12, 3);
    std::int64_t start = date.startOfDay().toMSecsSinceEpoch();
    int readings = 0;     // lines
    int reports = 0;      // report lines
    int readingRows = 0;  // rows they make
};

// Two hours from 08:00 at 4 lines/s: weighings with settling loads, a steady zero between them
// (one row per run), and a report line after each weighing; from 09:00 to 09:05 the scale was
// unplugged.
Day WriteDay(const std::string& folder) {
    Day day;
    Rig rig(folder);
    std::string previous;
    for (int i = 0; i < 2 * 3600 * 4; ++i) {
        if (i >= 3600 * 4 && i < 3900 * 4) continue;
        const int second = (i / 4) % 600;
        const int load = 8000 + (i / 2400) * 1500;
        const int level = second < 120 || second >= 480 ? 0 : load + (second < 300 ? i % 7 : 0);
        rig.now = day.start + 8 * 3'600'000 + std::int64_t(i) * 250;
        std::string line = std::to_string(level) + ",00";
        if (line != previous) ++day.readingRows;
        previous = line;
        rig.Send(line + "\r\n");
        ++day.readings;
        if (second == 479 && i % 4 == 3) {
            rig.Send(
                "Wa\xBF"
                "enie nr " +
                std::to_string(++day.reports) + ": " + std::to_string(load) + " kg\r\n");
            previous.clear();
        }
    }
    return day;
}

class HistoryWindowTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        day_ = WriteDay(dir_->Path());
    }
    static void TearDownTestSuite() { delete dir_; }
    static QString Journal() { return QString::fromStdString(dir_->File("dziennik.sqlite")); }

    static void WaitShown(HistoryWindow& window, const std::function<void()>& start) {
        bool shown = false;
        const auto c = QObject::connect(&window, &HistoryWindow::shown, [&] { shown = true; });
        start();
        ASSERT_TRUE(waga::test::RunEventsUntil([&] { return shown; }));
        QObject::disconnect(c);
    }

    static TempDir* dir_;
    static Day day_;
};
TempDir* HistoryWindowTest::dir_ = nullptr;
Day HistoryWindowTest::day_;

TEST_F(HistoryWindowTest, ADayIsDrawnReducedWithItsReportsBeside) {
    HistoryWindow window(Journal());
    window.resize(1200, 500);
    WaitShown(window, [&] {
        window.show();
        window.ShowDay(day_.date);
    });
    EXPECT_EQ(window.Summary(), SummaryText(day_.readings, day_.readingRows, day_.reports));
    ASSERT_EQ(window.ReportRows(), day_.reports);
    HistoryChartView* view = window.ChartView();
    // The day opens on its two hours of data (with a margin), not on 24 hours.
    EXPECT_GE(view->VisibleFrom(), day_.start + 8 * 3'600'000 - 10 * 60'000);
    EXPECT_LE(view->VisibleTo(), day_.start + 10 * 3'600'000 + 10 * 60'000);
    // The report list: one line per row, the whole line in the tooltip.
    auto* reports = window.findChild<QTableWidget*>(QStringLiteral("TRaporty"));
    ASSERT_NE(reports, nullptr);
    EXPECT_LE(reports->rowHeight(0), reports->fontMetrics().height() + 8);
    EXPECT_EQ(reports->item(0, 1)->toolTip(), QStringLiteral("Ważenie nr 1: 8000 kg"));
    const int columns = int(view->chart()->plotArea().width());
    EXPECT_GT(window.PlottedPoints(), 2 * day_.reports);  // every weighing shows
    EXPECT_LE(window.PlottedPoints(), 4 * columns + 2);

    // The hover text at the middle of the plot: a value in kg and a time of that day.
    const QRectF area = view->chart()->plotArea();
    const QPoint middle = view->mapFromScene(view->chart()->mapToScene(area.center()));
    const QString hover = window.HoverTextAt(middle);
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d+ kg\\n2026-12-03 \\d\\d:\\d\\d:\\d\\d,\\d{3}$"))
            .match(hover)
            .hasMatch())
        << hover.toStdString();
    EXPECT_EQ(window.HoverTextAt(QPoint(1, 1)), QString());  // outside the plot

    if (!qEnvironmentVariableIsEmpty("WAGA_SCREENSHOT_DIR")) {  // the day as it opens
        waga::test::RunEvents(std::chrono::milliseconds(500));
        window.grab().save(QDir(qEnvironmentVariable("WAGA_SCREENSHOT_DIR"))
                               .filePath(QStringLiteral("historia.png")));
    }
}

TEST_F(HistoryWindowTest, TheWheelZoomsTheDragPansADoubleClickShowsAllAgain) {
    HistoryWindow window(Journal());
    window.resize(1200, 500);
    WaitShown(window, [&] {
        window.show();
        window.ShowRange({day_.start + 8 * 3'600'000, day_.start + 10 * 3'600'000});
    });
    HistoryChartView* view = window.ChartView();
    QWidget* port = view->viewport();
    const QRectF area = view->chart()->plotArea();
    const QPointF middle(view->mapFromScene(view->chart()->mapToScene(area.center())));
    const std::int64_t span = view->VisibleTo() - view->VisibleFrom();
    for (int step = 0; step < 20; ++step) {
        QWheelEvent wheel(middle, port->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(port, &wheel);
    }
    const std::int64_t zoomed = view->VisibleTo() - view->VisibleFrom();
    EXPECT_NEAR(double(zoomed), double(span) / std::pow(1.25, 20), double(span) * 0.001);
    // Zoomed in to about 80 s: fewer readings than pixel columns, so every one is drawn (and
    // the two just outside the edges).
    const HistoryData inView = LoadHistory(Journal(), {view->VisibleFrom(), view->VisibleTo()});
    const auto visible = std::count_if(inView.points->begin(), inView.points->end(), [&](auto p) {
        return p.ms >= view->VisibleFrom() && p.ms < view->VisibleTo();
    });
    ASSERT_LT(visible, int(area.width()) / 2);
    EXPECT_GE(view->DrawnPoints(), visible);
    EXPECT_LE(view->DrawnPoints(), visible + 2);

    const std::int64_t from = view->VisibleFrom();
    const QPointF right = middle + QPointF(area.width() / 4, 0);
    QMouseEvent press(QEvent::MouseButtonPress, middle, port->mapToGlobal(middle), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, right, port->mapToGlobal(right), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, right, port->mapToGlobal(right), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(port, &press);
    QApplication::sendEvent(port, &move);
    QApplication::sendEvent(port, &release);
    // Dragged a quarter of the plot to the right: a quarter of the span earlier.
    EXPECT_NEAR(double(from - view->VisibleFrom()), double(zoomed) / 4, double(zoomed) * 0.01);

    QMouseEvent twice(QEvent::MouseButtonDblClick, middle, port->mapToGlobal(middle),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(port, &twice);
    EXPECT_EQ(view->VisibleTo() - view->VisibleFrom(), span);
}

TEST_F(HistoryWindowTest, TheExportEqualsWagaJournalsByteForByte) {
    HistoryWindow window(Journal());
    WaitShown(window, [&] { window.ShowDay(day_.date); });
    TempDir out;
    // The exports are signed with a station key of the test's own.
    waga::test::ScopedEnv config("XDG_CONFIG_HOME", out.File("konfiguracja"));
    waga::journal::StationKey key;
    bool created = false;
    QString error, warning;
    ASSERT_TRUE(key.LoadOrCreate(waga::journal::StationKeyPath(), created, error, warning))
        << error.toStdString();
    bool done = false, ok = false;
    QObject::connect(&window, &HistoryWindow::exportDone, [&](bool success, const QString&) {
        done = true;
        ok = success;
    });
    const std::string rows = std::to_string(day_.readingRows + day_.reports);
    for (const char* name : {"eksport.xlsx", "eksport.csv"}) {
        done = false;
        const QString target = QString::fromStdString(out.File(name));
        std::string(name).ends_with("csv") ? window.ExportCsv(target) : window.ExportXlsx(target);
        ASSERT_TRUE(waga::test::RunEventsUntil([&] { return done; }));
        ASSERT_TRUE(ok) << window.Summary().toStdString();
        EXPECT_EQ(window.Summary().toStdString(),
                  "Zapisano wierszy: " + rows + " do pliku " + name + ".");
        const waga::journal::ExportCheck check =
            waga::journal::VerifyExport(target, key.Fingerprint());
        EXPECT_TRUE(check.readable && check.findings.isEmpty()) << check.error.toStdString();
    }
    // The workbook's cells are spreadsheet_test.py's to read; here: a whole zip file.
    EXPECT_EQ(waga::test::ReadFile(out.File("eksport.xlsx")).substr(0, 2), "PK");

    waga::test::ChildProcess tool(
        {waga::test::BinPath("waga-journal"), "export", "--from", "2026-12-03", "--to",
         "2026-12-03", "--journal", Journal().toStdString()},
        out.Path());
    ASSERT_EQ(tool.Wait(), 0) << tool.Stderr();
    EXPECT_EQ(waga::test::ReadFile(out.File("eksport.csv")), tool.Stdout());
}

// Readings every 250 ms, a report line, a gap row where the queue once overflowed, then the
// scale unplugged for three minutes: the plot's line breaks at the gap row and at the silence,
// never within the readings, and the axes fit what is drawn.
TEST(HistoryPlotTest, TheLineBreaksAtAGapRowAndAtASilence) {
    TempDir dir;
    const std::int64_t t0 = QDate(2026, 12, 3).startOfDay().toMSecsSinceEpoch() + 8 * 3'600'000;
    {
        Rig rig(dir.Path());
        auto send = [&](std::int64_t from, std::int64_t to, const std::string& report) {
            for (std::int64_t t = from; t < to; t += 250) {
                rig.now = t;
                rig.Send(std::to_string(100 + (t / 250) % 50) + ",5\r\n");
                if (t == from + 30'000) rig.Send(report);
            }
        };
        send(t0, t0 + 120'000,
             "Wa\xBF"
             "enie 1\r\n");
        send(t0 + 300'000, t0 + 360'000,
             "Wa\xBF"
             "enie 2\r\n");
    }
    {
        // One line the queue could not hold, between the readings of 08:01:00.000 and .250.
        waga::journal::JournalDb db;
        ASSERT_TRUE(db.Open(waga::journal::JournalPath(QString::fromStdString(dir.Path())),
                            waga::journal::JournalAccess::Writer));
        QSqlDatabase sql = db.Database();
        waga::journal::RowStore store;
        QSqlError error;
        ASSERT_TRUE(store.Prepare(sql, error)) << error.text().toStdString();
        JournalRuns runs(1'000'000'000'000'000);
        const JournalOp gap = runs.Gap(1, t0 + 60'100, t0 + 60'100, "kolejka pełna");
        ASSERT_TRUE(store.Apply(gap, gap.row.seq, error)) << error.text().toStdString();
        store.Clear();
    }
    HistoryWindow window(QString::fromStdString(dir.File("dziennik.sqlite")));
    window.resize(1200, 500);
    window.show();
    bool shown = false;
    QObject::connect(&window, &HistoryWindow::shown, [&] { shown = true; });
    // Typed whole, as an operator types it; Enter or "Pokaż" takes it.
    window.TypeRange(QStringLiteral("2026-12-03 08:00:00"), QStringLiteral("2026-12-03 08:07"));
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return shown; }));
    HistoryChartView* view = window.ChartView();
    EXPECT_EQ(view->VisibleFrom(), t0);
    EXPECT_EQ(view->VisibleTo(), t0 + 420'000);
    using Line = std::pair<std::int64_t, std::int64_t>;
    EXPECT_EQ(view->DrawnLines(),
              (std::vector<Line>{
                  {t0, t0 + 60'000}, {t0 + 60'250, t0 + 119'750}, {t0 + 300'000, t0 + 359'750}}));
    // The value axis holds 100..149 in round steps, not down to a negative it never had; the
    // time ticks sit on whole minutes.
    const auto [low, high] = view->ValueRange();
    EXPECT_GE(low, 0);
    EXPECT_LE(low, 100);
    EXPECT_GE(high, 149.5);
    EXPECT_LE(high - low, 100);
    EXPECT_EQ(view->TimeLabels(), (QStringList{"08:00", "08:01", "08:02", "08:03", "08:04", "08:05",
                                               "08:06", "08:07"}));
    EXPECT_TRUE(view->chart()->axes(Qt::Vertical).front()->titleText().contains("kg"));
    // The report list follows the visible part.
    EXPECT_EQ(window.VisibleReportRows(), 3);  // two reports and the gap row
    view->SetVisible(t0 + 300'000, t0 + 420'000);
    EXPECT_EQ(window.VisibleReportRows(), 1);
    // A time alone is on the day shown.
    shown = false;
    window.TypeRange(QStringLiteral("08:01"), QStringLiteral("8:02:30"));
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return shown; }));
    EXPECT_EQ(view->VisibleFrom(), t0 + 60'000);
    EXPECT_EQ(view->VisibleTo(), t0 + 150'000);
    window.TypeRange(QStringLiteral("3.12.2026 08:00"), QStringLiteral("2026-12-03 08:07"));
    EXPECT_TRUE(window.Summary().contains(QStringLiteral("Oczekiwany format: RRRR-MM-DD gg:mm:ss")))
        << window.Summary().toStdString();
    if (!qEnvironmentVariableIsEmpty("WAGA_SCREENSHOT_DIR")) {
        view->SetVisible(t0, t0 + 420'000);
        waga::test::RunEvents(std::chrono::milliseconds(500));
        window.grab().save(QDir(qEnvironmentVariable("WAGA_SCREENSHOT_DIR"))
                               .filePath(QStringLiteral("historia-przerwy.png")));
    }
}

// Open on a range that reaches the present while lines come in: it reads them by itself,
// keeping the operator's zoom.
TEST(HistoryPlotTest, TheWindowReadsNewLinesByItselfWhileOpen) {
    TempDir dir;
    Rig rig(dir.Path());
    rig.now = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < 8; ++i, rig.now += 250) rig.Send(std::to_string(i) + ",0\r\n");
    HistoryWindow window(QString::fromStdString(dir.File("dziennik.sqlite")));
    window.SetRefreshInterval(100);
    int shown = 0;
    QObject::connect(&window, &HistoryWindow::shown, [&] { ++shown; });
    window.show();
    // An hour either side of now (a day's range could end at a midnight within the test).
    window.ShowRange({rig.now - 3'600'000, rig.now + 3'600'000});
    ASSERT_TRUE(waga::test::RunEventsUntil([&] {
        return window.Summary().startsWith(QStringLiteral("Odczyty: 8 "));
    })) << window.Summary().toStdString();
    HistoryChartView* view = window.ChartView();
    view->SetVisible(rig.now - 60'000, rig.now + 60'000);
    for (int i = 8; i < 12; ++i, rig.now += 250) rig.Send(std::to_string(i) + ",0\r\n");
    ASSERT_TRUE(waga::test::RunEventsUntil([&] {
        return window.Summary().startsWith(QStringLiteral("Odczyty: 12 "));
    })) << window.Summary().toStdString();
    EXPECT_EQ(view->VisibleTo() - view->VisibleFrom(), 120'000);
    EXPECT_GT(shown, 1);

    // What an export says stays while the window reads again, then the summary comes back.
    TempDir out;
    window.SetMessageTime(1500);
    QString told;
    QObject::connect(&window, &HistoryWindow::exportDone,
                     [&](bool, const QString& message) { told = message; });
    window.ExportCsv(QString::fromStdString(out.File("teraz.csv")));
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return !told.isEmpty(); }));
    const int before = shown;
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return shown >= before + 3; }));
    EXPECT_EQ(window.Summary(), told);
    EXPECT_TRUE(waga::test::RunEventsUntil([&] {
        return window.Summary().startsWith(QStringLiteral("Odczyty: 12 "));
    })) << window.Summary().toStdString();
}

// One numeric line that is no weight ("+48 123 456" reads as 48123456) among the weighings:
// the value axis fits the weighings and counts the outlier; "Wszystkie wartości" takes it in.
TEST(HistoryPlotTest, AFarOutlierDoesNotFlattenTheWeighings) {
    TempDir dir;
    const std::int64_t t0 = QDate(2026, 12, 3).startOfDay().toMSecsSinceEpoch() + 8 * 3'600'000;
    {
        Rig rig(dir.Path());
        for (int i = 0; i < 400; ++i) {
            rig.now = t0 + i * 250;
            rig.Send(i == 200 ? "+48 123 456\r\n" : std::to_string(i % 40) + ",50\r\n");
        }
    }
    HistoryWindow window(QString::fromStdString(dir.File("dziennik.sqlite")));
    window.resize(1200, 500);
    bool shown = false;
    QObject::connect(&window, &HistoryWindow::shown, [&] { shown = true; });
    window.show();
    window.ShowDay(QDate(2026, 12, 3));
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return shown; }));
    HistoryChartView* view = window.ChartView();
    EXPECT_LE(view->ValueRange().second, 50);
    EXPECT_EQ(view->OutsideValues(), 1);
    EXPECT_TRUE(view->chart()->axes(Qt::Vertical).front()->titleText().contains("poza osią: 1"));
    if (!qEnvironmentVariableIsEmpty("WAGA_SCREENSHOT_DIR")) {
        waga::test::RunEvents(std::chrono::milliseconds(500));
        window.grab().save(QDir(qEnvironmentVariable("WAGA_SCREENSHOT_DIR"))
                               .filePath(QStringLiteral("historia-odstajaca.png")));
    }
    window.findChild<QCheckBox*>()->click();
    EXPECT_GE(view->ValueRange().second, 48123456);
    EXPECT_EQ(view->OutsideValues(), 0);
    // "Dopasuj do danych" after a double click: the 100 s of data again.
    view->SetVisible(t0 - 3'600'000, t0 + 3'600'000);
    for (QPushButton* button : window.findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("Dopasuj do danych")) button->click();
    EXPECT_EQ(view->VisibleFrom(), t0 - 30'000);
    EXPECT_EQ(view->VisibleTo(), t0 + 99'750 + 30'000);
}

// The decisions behind the window, case by case.
TEST(HistoryDecisionsTest, RobustValueSpan) {
    std::vector<double> day(1000);
    for (std::size_t i = 0; i < day.size(); ++i) day[i] = i % 3 == 0 ? 0 : 17.7 + double(i % 9);
    auto withOutliers = day;
    withOutliers[10] = 48123456;
    withOutliers[20] = -48123456;
    struct Case {
        const char* name;
        std::vector<double> values;
        double low, high;
        int outside;
    };
    const std::vector<Case> cases = {
        {"a day of weighings", day, 0, 25.7, 0},
        {"one far value either side", withOutliers, 0, 25.7, 2},
        {"three values, one far", {0, 20, 48123456}, 0, 20, 1},
        {"a heavy load among zeros", {0, 0, 0, 500, 0}, 0, 500, 0},
        {"a lorry beside sacks", {20, 25, 30, 18000}, 20, 18000, 0},
        {"two far values of five: more than 1 in 100", {0, 1, 2, 48e6, 49e6}, 0, 49e6, 0},
        {"not finite values skipped", {1, NAN, 2, INFINITY}, 1, 2, 0},
    };
    for (const Case& c : cases) {
        const ValueSpan span = RobustValueSpan(c.values);
        EXPECT_EQ(span.low, c.low) << c.name;
        EXPECT_EQ(span.high, c.high) << c.name;
        EXPECT_EQ(span.outside, c.outside) << c.name;
    }
    EXPECT_GT(RobustValueSpan({}).low, RobustValueSpan({}).high);
}

TEST(HistoryDecisionsTest, TypedTimes) {
    const QDate day(2026, 12, 3);
    const struct {
        const char* typed;
        QDateTime expected;  // invalid: refused
    } times[] = {
        {"13:52", QDateTime(day, QTime(13, 52))},
        {" 8:05:30 ", QDateTime(day, QTime(8, 5, 30))},
        {"2026-12-04 08:30", QDateTime(QDate(2026, 12, 4), QTime(8, 30))},
        {"25:00", QDateTime()},
        {"13.52", QDateTime()},
    };
    for (const auto& t : times) {
        const auto parsed = ParseRangeTime(QString::fromUtf8(t.typed), day);
        EXPECT_EQ(parsed.value_or(QDateTime()), t.expected) << t.typed;
    }
    EXPECT_EQ(OneLineText(QStringLiteral("dwie\nlinie\tz\r")), QStringLiteral("dwie␊linie␉z␍"));
}

TEST(HistoryWindowFaultTest, AMissingJournalSaysSoAndDrawsNothing) {
    TempDir dir;
    HistoryWindow window(QString::fromStdString(dir.File("dziennik.sqlite")));
    bool shown = false;
    QObject::connect(&window, &HistoryWindow::shown, [&] { shown = true; });
    window.ShowDay(QDate(2026, 12, 3));
    ASSERT_TRUE(waga::test::RunEventsUntil([&] { return shown; }));
    EXPECT_TRUE(window.Summary().startsWith(QStringLiteral("Nie ma pliku dziennika")))
        << window.Summary().toStdString();
    EXPECT_EQ(window.PlottedPoints(), 0);
    EXPECT_EQ(window.ReportRows(), 0);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir.File("dziennik.sqlite"))));
}

}  // namespace
