// The service's decisions as tables: who counts as loopback, bearer tokens, start refusals,
// query parsing, and the state text of the settings window.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>

#include "ServiceEvent.h"
#include "ServiceRules.h"
#include "WeightService.h"

namespace {

TEST(ServiceRules, LoopbackClients) {
    const std::pair<const char*, bool> rows[] = {
        {"127.0.0.1", true},        {"127.0.0.2", true},  // the whole 127/8 stays on this machine
        {"127.255.255.254", true},  {"::1", true},
        {"::ffff:127.0.0.1", true},  // IPv4-mapped, as a dual-stack socket reports it
        {"128.0.0.1", false},       {"10.0.0.5", false},
        {"192.168.1.20", false},    {"::ffff:192.168.1.20", false},
        {"fe80::1", false},         {"0.0.0.0", false},
    };
    for (const auto& [address, loopback] : rows) {
        EXPECT_EQ(IsLoopbackClient(QHostAddress(QString::fromLatin1(address))), loopback)
            << address;
    }
}

TEST(ServiceRules, BearerToken) {
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"Bearer s3cret", "s3cret", true},
        {"Bearer s3cret ", "s3cret", false},  // exact
        {"Bearer s3cre", "s3cret", false},    // a prefix is not the token
        {"Bearer s3cretX", "s3cret", false},
        {"bearer s3cret", "s3cret", false},
        {"Basic s3cret", "s3cret", false},
        {"", "s3cret", false},
        {"Bearer ", "", false},  // an empty token never matches
    };
    for (const auto& [header, token, match] : rows) {
        EXPECT_EQ(BearerMatches(header, token), match) << header << " / " << token;
    }
}

TEST(ServiceRules, StartRefusals) {
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"127.0.0.1", "", true},    {"localhost", "", true},
        {"127.0.0.2", "", true},    {"::1", "", true},
        {"0.0.0.0", "", false},     {"0.0.0.0", "t0ken", true},
        {"192.168.1.5", "", false}, {"::", "", false},
        {"waga.local", "t", false}, {"", "", false},
    };
    for (const auto& [address, token, starts] : rows) {
        ServiceSettings settings;
        settings.address = address;
        settings.token = token;
        EXPECT_EQ(StartRefusal(settings).isEmpty(), starts) << address << " / " << token;
    }
}

TEST(ServiceRules, LinesQueryAndLastEventId) {
    EXPECT_EQ(ParseLinesQuery("", "")->limit, 100);
    EXPECT_EQ(ParseLinesQuery("7", "99999")->limit, 1000);
    EXPECT_EQ(ParseLinesQuery("7", "3")->since, 7);
    EXPECT_FALSE(ParseLinesQuery("x", "3"));
    EXPECT_FALSE(ParseLinesQuery("1", "1e3"));
    EXPECT_EQ(ParseLastEventId(" 42 "), 42);
    EXPECT_FALSE(ParseLastEventId(""));
    EXPECT_FALSE(ParseLastEventId("abc"));
}

TEST(ServiceRules, StateTexts) {
    using S = WeightService::State;
    EXPECT_EQ(ServiceStateText(S::Running, "http://127.0.0.1:8765/", {}),
              QStringLiteral("działa: http://127.0.0.1:8765/"));
    EXPECT_EQ(ServiceStateText(S::Failed, {}, "port 8765 jest zajęty"),
              QStringLiteral("błąd: port 8765 jest zajęty"));
    EXPECT_EQ(ServiceStateText(S::Off, {}, {}), QStringLiteral("wyłączony"));
}

}  // namespace

namespace {

// The event stream's hand-written JSON says what QJsonDocument would, for awkward texts too.
TEST(ServiceEvents, StreamJsonEqualsTheJsonObject) {
    const char16_t awkward[] = u"a\"b\\c\u0001\u001f\t\r\n ąęł€ </script>";
    const std::tuple<ServiceEvent::Kind, QString, std::optional<double>, bool> rows[] = {
        {ServiceEvent::Kind::Reading, "  12,34", 12.34, true},
        {ServiceEvent::Kind::Reading, "-0,000001", -0.000001, true},
        {ServiceEvent::Kind::Reading, "1e300", 1e300, true},
        {ServiceEvent::Kind::Report, QString::fromUtf16(awkward), std::nullopt, true},
        {ServiceEvent::Kind::Gap, "", std::nullopt, true},
        {ServiceEvent::Kind::Status, "", std::nullopt, false},
    };
    for (const auto& [kind, text, value, connected] : rows) {
        ServiceEvent event;
        event.kind = kind;
        event.seq = 1234567890123;
        event.text = text;
        event.value = value;
        event.unit = QStringLiteral("kg\"");
        event.port = "COM3";
        event.timeMs = 1765100000123;
        event.count = 7;
        event.connected = connected;
        const QByteArray message = SseMessage(event);
        SCOPED_TRACE(message.toStdString());
        const QList<QByteArray> lines = message.split('\n');
        ASSERT_EQ(lines.size(), 5);  // id, event, data, and the blank line
        EXPECT_EQ(lines[0], "id: 1234567890123");
        EXPECT_EQ(lines[1], QByteArray("event: ") + EventKindName(kind));
        QJsonParseError error{};
        const QJsonDocument data = QJsonDocument::fromJson(lines[2].mid(6), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError);
        EXPECT_EQ(data.object(), EventJson(event));
        EXPECT_FALSE(lines[2].contains("</script>") && !text.contains("</script>"));
    }
}

// Times agree with Qt's own calendar in the zone the test runs in, far back and ahead too.
TEST(ServiceEvents, IsoTimeAgreesWithQt) {
    for (const qint64 ms :
         {qint64(0), qint64(-1), qint64(951782400000), qint64(1765100000123), qint64(1774746000000),
          qint64(1792890000999), qint64(-86400001), qint64(4102444800000)}) {
        const QDateTime utc = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        const QDateTime local = utc.toOffsetFromUtc(utc.toLocalTime().offsetFromUtc());
        QString expected = local.toString("yyyy-MM-ddTHH:mm:ss.zzz");
        const int offset = local.offsetFromUtc();
        expected += QString::asprintf("%c%02d:%02d", offset < 0 ? '-' : '+',
                                      std::abs(offset) / 3600, std::abs(offset) / 60 % 60);
        EXPECT_EQ(IsoTime(ms), expected) << ms;
    }
}

}  // namespace
