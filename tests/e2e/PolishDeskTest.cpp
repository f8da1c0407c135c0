// The program as a Polish desk runs it: LANG and LC_ALL pl_PL.UTF-8 (whose decimal separator is
// ','). Readings written with a dot or a comma keep their decimals everywhere the value goes:
// the weight service, the journal's export, the history window and the central database.
#include <gtest/gtest.h>
#include <locale.h>
#include <signal.h>

#include <QApplication>
#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <algorithm>
#include <optional>

#include "AddOnSettings.h"
#include "CentralServer.h"
#include "HistoryChartView.h"
#include "HistoryWindow.h"
#include "HttpClient.h"
#include "ProgramRun.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;
using namespace waga::test;

struct LocaleCase {
    std::string line;  // as the scale sends it, without the CR
    double value;
};

const std::vector<LocaleCase> kReadings = {
    {" 14.84", 14.84}, {"12,50", 12.5}, {"-0.25", -0.25}, {"7.5", 7.5}, {"  1.08", 1.08}};

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The journal's readings as `waga-journal export --format json` gives them: their values and
// the day (here) of the first.
struct Exported {
    std::vector<double> values;
    QDate day;
};

Exported ExportedReadings(const std::string& dir) {
    ChildProcess json({BinPath("waga-journal"), "export", "--format", "json"}, dir);
    EXPECT_EQ(json.Wait(), 0) << json.Stderr();
    Exported out;
    for (const QJsonValue& row :
         QJsonDocument::fromJson(QByteArray::fromStdString(json.Stdout())).array()) {
        if (row[QStringLiteral("kind")].toString() != QStringLiteral("reading")) continue;
        EXPECT_TRUE(row[QStringLiteral("value")].isDouble()) << json.Stdout();
        out.values.push_back(row[QStringLiteral("value")].toDouble());
        if (!out.day.isValid()) {
            out.day =
                QDateTime::fromString(row[QStringLiteral("first")].toString(), Qt::ISODateWithMs)
                    .toLocalTime()
                    .date();
        }
    }
    return out;
}

// The values the history window plots for `day`.
std::vector<double> PlottedValues(const std::string& journal, const QDate& day) {
    HistoryWindow window(QString::fromStdString(journal));
    bool shown = false;
    QObject::connect(&window, &HistoryWindow::shown, [&] { shown = true; });
    window.ShowDay(day);
    EXPECT_TRUE(RunEventsUntil([&] { return shown; }));
    std::vector<double> values;
    for (const PlotPoint& point : window.ChartView()->Drawn()) values.push_back(point.value);
    return values;
}

TEST(PolishDesk, ReadingsKeepTheirDecimalsEverywhere) {
    locale_t polish = newlocale(LC_ALL_MASK, "pl_PL.UTF-8", nullptr);
    ASSERT_NE(polish, nullptr) << "the pl_PL.UTF-8 locale is missing (scripts/setup makes it)";
    freelocale(polish);
    ScopedEnv lang("LANG", "pl_PL.UTF-8");
    ScopedEnv all("LC_ALL", "pl_PL.UTF-8");

    CentralServer server("stacja1");
    ASSERT_TRUE(server.Ok()) << server.Log();
    ScopedEnv passwords("PGPASSFILE", server.PgPassPath());
    Workplace place;
    const quint16 port = FreePort();
    AddOnSettings settings;
    settings.service.enabled = true;
    settings.service.port = port;
    settings.central = server.SettingsFor("stacja1");
    std::string error;
    ASSERT_TRUE(SaveAddOnSettings(settings, error, place.Dir())) << error;

    auto program = StartProgram(place);
    // The port open, not only the service: the program empties the port's input when it opens
    // it, so a line written before would be gone.
    ASSERT_TRUE(WaitUntil(
        [&] { return Get(port, "/api/v1/health").Json().value("connected").toBool(); }, 20s))
        << program->Stderr();
    std::vector<double> expected;
    for (const LocaleCase& c : kReadings) {
        ASSERT_TRUE(place.Pty().Write(c.line + "\r"));
        std::optional<double> served;
        EXPECT_TRUE(WaitUntil([&] {
            const QJsonObject weight = Get(port, "/api/v1/weight").Json();
            if (!weight.value("value").isDouble()) return false;
            served = weight.value("value").toDouble();
            return *served == c.value;
        })) << c.line
            << " served as " << served.value_or(-1e9);
        expected.push_back(c.value);
    }
    EXPECT_TRUE(WaitUntil(
        [&] {
            const auto count = server.Sql(
                "SELECT count(*) FROM weighing_lines WHERE station = 'stacja1' AND kind = "
                "'reading'");
            return count == std::to_string(kReadings.size());
        },
        30s))
        << program->Stderr();
    program->Signal(SIGTERM);
    ASSERT_EQ(program->Wait(), 0) << program->Stderr();

    const Exported exported = ExportedReadings(place.Dir());
    EXPECT_EQ(exported.values, expected);
    ASSERT_TRUE(exported.day.isValid());
    // A day's plot keeps each time slot's lowest and highest value: these lines share one slot.
    const std::vector<double> plotted = PlottedValues(place.File("dziennik.sqlite"), exported.day);
    ASSERT_FALSE(plotted.empty());
    for (double v : plotted) {
        EXPECT_NE(std::find(expected.begin(), expected.end(), v), expected.end()) << v;
    }
    EXPECT_EQ(*std::min_element(plotted.begin(), plotted.end()), -0.25);
    EXPECT_EQ(*std::max_element(plotted.begin(), plotted.end()), 14.84);
    // numeric as text in the C locale of psql's output: the digits as the scale showed them
    const auto central = server.Sql(
        "SELECT string_agg(value::text, ' ' ORDER BY seq) FROM weighing_lines "
        "WHERE station = 'stacja1' AND kind = 'reading'");
    ASSERT_TRUE(central.has_value());
    EXPECT_EQ(*central, "14.84 12.50 -0.25 7.5 1.08");
}

}  // namespace
