// The weight service through real HTTP clients: routes and errors, the weight and its staleness,
// CORS, the event stream with Last-Event-ID resume, the journal's lines, and the limits.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpSocket>
#include <thread>

#include "HttpClient.h"
#include "ServiceFixture.h"

using namespace waga::test;

namespace {

class ServiceHttp : public ServiceFixture {};

TEST_F(ServiceHttp, RoutesAnswerWithTheirStatusAndJsonErrors) {
    StartService();
    ASSERT_NE(port_, 0);
    struct Row {
        const char* method;
        const char* target;
        int status;
        const char* type;
    };
    const Row rows[] = {
        {"GET", "/api/v1/weight", 200, "application/json"},
        {"GET", "/api/v1/health", 200, "application/json"},
        {"GET", "/api/v1/lines?since=0&limit=5", 200, "application/json"},
        {"GET", "/", 200, "text/html"},
        {"GET", "/app.js", 200, "text/javascript"},
        {"GET", "/style.css", 200, "text/css"},
        {"GET", "/api/v1/nothing", 404, "application/json"},   // unknown path
        {"POST", "/api/v1/nothing", 404, "application/json"},  // unknown wins over method
        {"POST", "/api/v1/weight", 405, "application/json"},   // read-only
        {"PUT", "/api/v1/lines", 405, "application/json"},
        {"DELETE", "/", 405, "application/json"},
        {"GET", "/api/v1/lines?since=abc", 400, "application/json"},  // not a number
        {"GET", "/api/v1/lines?limit=-", 400, "application/json"},
        {"OPTIONS", "/api/v1/weight", 204, ""},  // preflight
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.method) + " " + row.target);
        const HttpAnswer answer = Request(port_, row.method, row.target);
        EXPECT_EQ(answer.status, row.status);
        EXPECT_TRUE(answer.Header("Content-Type").startsWith(row.type));
        EXPECT_EQ(answer.Header("Cache-Control"), "no-store");
        if (row.status >= 400) {
            EXPECT_FALSE(answer.Json().value("error").toString().isEmpty()) << answer.body.data();
        }
        if (row.status == 405) {
            EXPECT_EQ(answer.Header("Allow"), "GET, HEAD, OPTIONS");
        }
    }
}

TEST_F(ServiceHttp, WeightFollowsReadingsPortStateAndStaleness) {
    ServiceSettings settings;
    settings.staleAfterMs = 10000;
    StartService(settings);
    QJsonObject weight = Get(port_, "/api/v1/weight").Json();
    EXPECT_TRUE(weight.value("reading").isNull());
    EXPECT_TRUE(weight.value("value").isNull());
    EXPECT_TRUE(weight.value("stale").toBool());

    pipeline_.AnnouncePortState(PortState::Opened);
    Feed("  12,34\r   BRUTTO 12,34 kg\r");
    Settle();
    weight = Get(port_, "/api/v1/weight").Json();
    EXPECT_EQ(weight.value("reading").toString(), "12,34");  // the report line did not replace it
    EXPECT_DOUBLE_EQ(weight.value("value").toDouble(), 12.34);
    EXPECT_EQ(weight.value("unit").toString(), "kg");
    EXPECT_EQ(weight.value("port").toString(), "COM2");
    EXPECT_TRUE(weight.value("connected").toBool());
    EXPECT_FALSE(weight.value("stale").toBool());
    EXPECT_EQ(weight.value("seq").toInteger(), 1);
    EXPECT_GE(weight.value("age_ms").toInteger(), 0);
    // ISO 8601 with milliseconds and an offset (Z never stands for it).
    EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)")
                    .match(weight.value("time").toString())
                    .hasMatch())
        << weight.value("time").toString().toStdString();

    // A reading that arrived longer ago than Nieaktualny_po_ms.
    clockMs_ = UtcNowMs() - 20000;
    Feed("13,00\r");
    clockMs_ = 0;
    Settle();
    weight = Get(port_, "/api/v1/weight").Json();
    EXPECT_EQ(weight.value("reading").toString(), "13,00");
    EXPECT_GE(weight.value("age_ms").toInteger(), 20000);
    EXPECT_TRUE(weight.value("stale").toBool());

    Feed("OVER\r");  // not a number: a report line
    Feed("-0.5\r");
    pipeline_.AnnouncePortState(PortState::Lost);
    Settle();
    weight = Get(port_, "/api/v1/weight").Json();
    EXPECT_EQ(weight.value("reading").toString(), "-0.5");
    EXPECT_FALSE(weight.value("connected").toBool());
    EXPECT_TRUE(weight.value("stale").toBool());  // the port is gone, however fresh the line
}

TEST_F(ServiceHttp, CorsHeadersOnlyForAllowedOrigins) {
    struct Row {
        const char* allowed;
        const char* origin;
        const char* expected;  // nullptr: no CORS header
    };
    const Row rows[] = {
        {"", "http://erp.example", nullptr},  // empty list: none
        {"http://erp.example", "http://erp.example", "http://erp.example"},
        {" http://a.example , http://erp.example/", "http://erp.example", "http://erp.example"},
        {"http://erp.example", "http://evil.example", nullptr},
        {"*", "http://any.example", "*"},
        {"*", "", nullptr},  // not a browser
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.allowed) + " / " + row.origin);
        ServiceSettings settings;
        settings.origins = row.allowed;
        StartService(settings);
        QList<QPair<QByteArray, QByteArray>> headers;
        if (*row.origin) headers.append(qMakePair(QByteArray("Origin"), QByteArray(row.origin)));
        for (const char* method : {"GET", "OPTIONS"}) {
            const HttpAnswer answer = Request(port_, method, "/api/v1/weight", headers);
            if (row.expected == nullptr) {
                EXPECT_FALSE(answer.HasHeader("Access-Control-Allow-Origin"));
            } else {
                EXPECT_EQ(answer.Header("Access-Control-Allow-Origin"), row.expected);
            }
        }
    }
}

TEST_F(ServiceHttp, EventStreamCarriesJournalSeqAndCoalescesIdenticalReadings) {
    StartService();
    pipeline_.AnnouncePortState(PortState::Opened);
    SseClient client(port_);
    ASSERT_EQ(client.Answer().status, 200);
    EXPECT_TRUE(client.Answer().Header("Content-Type").startsWith("text/event-stream"));
    const QList<SseEvent> hello = client.Take(1);
    ASSERT_EQ(hello.size(), 1);
    EXPECT_EQ(hello[0].name, "status");
    EXPECT_TRUE(hello[0].data.value("connected").toBool());

    // 50 identical readings are one journal row; they go out at most once a second.
    for (int i = 0; i < 50; ++i) Feed("  5,00\r");
    Feed("Raport \xB9\xEA\r");  // Windows-1250 bytes
    Feed("6,00\r");
    const QList<SseEvent> events = client.Take(3, 3000);
    ASSERT_GE(events.size(), 3);
    EXPECT_EQ(events[0].name, "reading");
    EXPECT_EQ(events[0].id, "1");
    EXPECT_EQ(events[0].data.value("seq").toInteger(), 1);
    EXPECT_EQ(events[0].data.value("text").toString(), "  5,00");
    EXPECT_DOUBLE_EQ(events[0].data.value("value").toDouble(), 5.0);
    // The run's final count is sent before the next row.
    qsizetype next = 1;
    while (next < events.size() && events[next].id == "1") ++next;
    ASSERT_LT(next + 1, events.size() + 1);
    const QList<SseEvent> rest = events.mid(next) + client.Take(2 - (events.size() - next), 2000);
    ASSERT_EQ(rest.size(), 2);
    EXPECT_EQ(events[next - 1].data.value("count").toInteger(), 50);
    EXPECT_EQ(rest[0].name, "report");
    EXPECT_EQ(rest[0].id, "2");
    EXPECT_EQ(rest[0].data.value("text").toString(), QStringLiteral("Raport ąę"));
    EXPECT_TRUE(rest[0].data.value("value").isNull());
    EXPECT_EQ(rest[1].id, "3");
    EXPECT_EQ(rest[1].data.value("kind").toString(), "reading");
}

// A resumed stream gets what it missed, the journal's rows first, then the recent lines not yet
// in it, in order and once; at most 1 MiB or 10,000 events of it, then one gap event naming the
// first row it did not get; then live events. The rest is paged from /api/v1/lines.
struct ResumeRow {
    const char* what;
    int rows;  // in the journal; 50 more only in the recent events
    int rowChars;
    int catchUpEvents;
    int resumeAfter;
    bool gap;
    friend void PrintTo(const ResumeRow& row, std::ostream* out) { *out << row.what; }
};

class Resume : public ServiceFixture, public testing::WithParamInterface<ResumeRow> {};

TEST_P(Resume, MissedRowsThenAGapIfTooManyThenLive) {
    const ResumeRow& row = GetParam();
    WeightServerOptions options;
    options.catchUpEvents = row.catchUpEvents;
    StartService({}, options);
    std::vector<std::string> sent;
    auto feed = [&](int count) {
        for (int i = 0; i < count; ++i) {
            std::string text = "Linia " + std::to_string(sent.size() + 1) + " ";
            text.resize(static_cast<std::size_t>(row.rowChars), 'x');
            sent.push_back(text);
            Feed(text + "\r");
        }
    };
    feed(row.rows);
    journal_.Commit();
    feed(50);
    Settle();
    SseClient resumed(port_, QByteArray::number(row.resumeAfter));
    ASSERT_EQ(resumed.Answer().status, 200);
    feed(1);  // a line while it catches up
    const int missed = static_cast<int>(sent.size()) - row.resumeAfter;
    QList<SseEvent> events;
    qint64 bytes = 0;
    while (events.size() < missed && (events.isEmpty() || events.back().name != "gap")) {
        const QList<SseEvent> more = resumed.Take(1, 10000);
        ASSERT_EQ(more.size(), 1) << "nothing after " << events.size() << " events";
        events += more;
        if (more[0].name != "gap") {
            // The message as the server wrote it (the same JSON, keys sorted).
            bytes += 21 + more[0].id.size() + more[0].name.size() +
                     QJsonDocument(more[0].data).toJson(QJsonDocument::Compact).size();
        }
    }
    const qsizetype got = events.size() - (row.gap ? 1 : 0);
    ASSERT_EQ(events.back().name == "gap", row.gap);
    for (qsizetype i = 0; i < got; ++i) {
        ASSERT_EQ(events[i].id.toLongLong(), row.resumeAfter + 1 + i);
        ASSERT_EQ(events[i].data.value("text").toString().toStdString(),
                  sent[static_cast<std::size_t>(row.resumeAfter + i)]);
    }
    EXPECT_LE(got, row.catchUpEvents);
    EXPECT_LE(bytes, 1024 * 1024);
    const qint64 last = row.resumeAfter + got;
    if (row.gap) {
        if (got < row.catchUpEvents) {  // the bytes ran out: the next row would not have fitted
            EXPECT_GT(bytes, 1024 * 1024 - (row.rowChars + 400));
        }
        const SseEvent& gap = events.back();
        EXPECT_EQ(gap.id.toLongLong(), last);
        EXPECT_EQ(gap.data.value("missed_from").toInteger(), last + 1);
        EXPECT_EQ(gap.data.value("text").toString(),
                  QStringLiteral("dalsze wiersze: /api/v1/lines?since=%1").arg(last));
        const QJsonArray page =
            Get(port_, QByteArray("/api/v1/lines?since=") + QByteArray::number(last))
                .Json()
                .value("lines")
                .toArray();
        ASSERT_FALSE(page.isEmpty());  // what it missed is there to be paged
        EXPECT_EQ(page.first().toObject().value("seq").toInteger(), last + 1);
    }
    // Live events follow, in order, and nothing is doubled.
    feed(1);
    qint64 previous = events.back().id.toLongLong();
    while (previous < static_cast<qint64>(sent.size())) {
        const QList<SseEvent> live = resumed.Take(1, 5000);
        ASSERT_EQ(live.size(), 1) << "after " << previous;
        EXPECT_GT(live[0].id.toLongLong(), previous);
        previous = live[0].id.toLongLong();
    }
    EXPECT_EQ(Get(port_, "/api/v1/health").Json().value("dropped_clients").toInteger(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Service, Resume,
    testing::Values(ResumeRow{"all of 2,000 rows after the 10th", 2000, 12, 10000, 10, false},
                    ResumeRow{"1 MiB of 12,000 rows", 12000, 40, 10000, 0, true},
                    ResumeRow{"100 events of 300", 300, 40, 100, 0, true},
                    ResumeRow{"rows of 300 KiB: three fit", 10, 300 * 1024, 10000, 0, true}));

TEST_F(ServiceHttp, LinesComeFromTheJournalInPages) {
    StartService();
    for (int i = 0; i < 1500; ++i) Feed(std::to_string(i) + ",5\r");
    journal_.Commit();
    struct Row {
        const char* query;
        int count;
        qint64 firstSeq;
        bool more;
    };
    const Row rows[] = {
        {"", 100, 1, true},                      // default page
        {"?since=1400", 100, 1401, false},       // the last page
        {"?since=0&limit=5000", 1000, 1, true},  // at most 1000
        {"?since=0&limit=0", 1, 1, true},        // at least one
        {"?since=1500", 0, 0, false},            // nothing newer
        {"?since=-5&limit=2", 2, 1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.query);
        const QJsonObject answer = Get(port_, QByteArray("/api/v1/lines") + row.query).Json();
        const QJsonArray lines = answer.value("lines").toArray();
        ASSERT_EQ(lines.size(), row.count);
        EXPECT_EQ(answer.value("more").toBool(), row.more);
        if (row.count > 0) {
            const QJsonObject first = lines.first().toObject();
            EXPECT_EQ(first.value("seq").toInteger(), row.firstSeq);
            EXPECT_EQ(first.value("kind").toString(), "reading");
            EXPECT_EQ(answer.value("next").toInteger(),
                      lines.last().toObject().value("seq").toInteger());
        }
    }
}

TEST_F(ServiceHttp, UntrustedJournalRowsNeverBreakTheAnswer) {
    StartService();
    journal_.Execute("INSERT INTO lines VALUES(1,'gap',0,0,7,'kolejka pełna',x'',NULL,'','COM2')");
    journal_.Execute(
        "INSERT INTO lines VALUES(2,'unbekannt','x','y','z',x'00ff',x'00',"
        "'nie liczba','kg','')");
    journal_.Execute(
        "INSERT INTO lines VALUES(3,'report',1,1,1,'<script>alert(1)</script>',"
        "x'',NULL,'kg','COM2')");
    journal_.Execute(
        QStringLiteral("INSERT INTO lines VALUES(4,'report',1,1,1,'%1',x'',NULL,'kg','COM2')")
            .arg(QString(200000, 'x')));
    journal_.Execute(
        "INSERT INTO lines VALUES(5,'report',1,1,1,'a\"b\\c' || char(1, 9, 10, 322, 8232),x'',"
        "NULL,'k\"g','COM2')");
    const QString awkward = QStringLiteral("a\"b\\c\u0001\t\nł\u2028");
    const HttpAnswer answer = Get(port_, "/api/v1/lines?since=0");
    ASSERT_EQ(answer.status, 200);
    // Row 2 makes no sense: left out (and told on standard error), never changed into another.
    const QJsonArray lines = answer.Json().value("lines").toArray();
    ASSERT_EQ(lines.size(), 4) << answer.body.left(300).data();
    EXPECT_EQ(lines[0].toObject().value("kind").toString(), "gap");
    EXPECT_EQ(lines[1].toObject().value("seq").toInteger(), 3);
    EXPECT_TRUE(lines[1].toObject().value("value").isNull());
    EXPECT_EQ(lines[2].toObject().value("text").toString().size(), 200000);
    EXPECT_EQ(lines[3].toObject().value("text").toString(), awkward);
    EXPECT_EQ(lines[3].toObject().value("unit").toString(), "k\"g");
    // The same rows through a resuming stream, each event's data one line of JSON.
    SseClient client(port_, "0");
    const QList<SseEvent> events = client.Take(4);
    ASSERT_EQ(events.size(), 4);
    EXPECT_EQ(events[3].data.value("text").toString(), awkward);
}

class ServiceWithoutJournal : public ServiceFixture {
  protected:
    void SetUp() override { journalOff_ = true; }  // the journal is off: no dziennik.sqlite
};

TEST_F(ServiceWithoutJournal, EventsAreNumberedByTheJournalsRuleAndNeverRepeat) {
    StartService();
    SseClient client(port_);
    client.Take(1);  // status
    Feed("1\r1\r2\rRaport\r2\r");
    const QList<SseEvent> events = client.Take(5, 3000);
    ASSERT_EQ(events.size(), 5);  // the second "1" follows the first with its count
    QList<qint64> ids;
    for (const SseEvent& event : events) ids << event.id.toLongLong();
    EXPECT_EQ(ids[0], ids[1]);
    EXPECT_EQ(events[1].data.value("count").toInteger(), 2);
    EXPECT_LT(ids[1], ids[2]);
    EXPECT_LT(ids[2], ids[3]);
    EXPECT_LT(ids[3], ids[4]);
    // Started from the time in microseconds: above any id a program start before gave out.
    EXPECT_GT(ids[0], qint64(1700000000000000));
}

TEST_F(ServiceWithoutJournal, LinesAre503AndHealthSaysWhy) {
    StartService();
    const HttpAnswer answer = Get(port_, "/api/v1/lines");
    EXPECT_EQ(answer.status, 503);
    EXPECT_TRUE(answer.Json().value("error").toString().contains("dziennik"));
    EXPECT_EQ(Get(port_, "/api/v1/health").Json().value("journal").toString(), "brak pliku");
}

TEST_F(ServiceHttp, HealthCountsClientsAndRequests) {
    StartService();
    pipeline_.AnnouncePortState(PortState::Opened);
    SseClient a(port_), b(port_);
    a.Take(1);
    b.Take(1);
    Get(port_, "/api/v1/weight");
    const QJsonObject health = Get(port_, "/api/v1/health").Json();
    EXPECT_EQ(health.value("clients").toInteger(), 2);
    EXPECT_EQ(health.value("requests").toInteger(), 4);
    EXPECT_EQ(health.value("journal").toString(), "otwarty");
    EXPECT_EQ(health.value("port").toString(), "COM2");
    EXPECT_TRUE(health.value("connected").toBool());
    EXPECT_GE(health.value("uptime_s").toInteger(), 0);
}

TEST_F(ServiceHttp, PageShowsTheCurrentReadingEscaped) {
    StartService();
    Feed("<b>7</b>\r  42,5\r");
    Settle();
    const HttpAnswer page = Get(port_, "/");
    ASSERT_EQ(page.status, 200);
    const QString html = QString::fromUtf8(page.body);
    EXPECT_TRUE(html.contains(QStringLiteral("<span id=\"waga\">42,5</span>"))) << page.body.data();
    EXPECT_TRUE(html.contains(QStringLiteral("<span id=\"jednostka\">kg</span>")));
    EXPECT_FALSE(html.contains("<b>7</b>"));  // a report line's markup is never markup
    EXPECT_FALSE(html.contains("http://") || html.contains("https://"));  // nothing from outside
}

}  // namespace
