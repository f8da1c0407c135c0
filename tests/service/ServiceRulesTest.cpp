// The service's decisions as tables: who counts as loopback, bearer tokens, start refusals, how
// wrong tokens are slowed, query parsing, and the state text of the settings window.
#include <gtest/gtest.h>

#include <set>

#include "ConnectionAdmission.h"
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
        {"Bearer s3cre", "s3cret", false},  // a prefix is not the token
        {"Bearer s3cretX", "s3cret", false},
        {"bearer s3cret", "s3cret", true},  // the scheme in any case
        {"BEARER s3cret", "s3cret", true},
        {"Bearers3cret", "s3cret", false},
        {"Basic s3cret", "s3cret", false},
        {"", "s3cret", false},
        {"Bearer ", "", false},  // an empty token never matches
    };
    for (const auto& [header, token, match] : rows) {
        EXPECT_EQ(BearerMatches(header, token), match) << header << " / " << token;
    }
}

TEST(ServiceRules, StartRefusals) {
    const char* const kLong = "0123456789abcdef";  // 16 characters
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"127.0.0.1", "", nullptr},
        {"localhost", "", nullptr},
        {"127.0.0.2", "", nullptr},
        {"::1", "", nullptr},
        {"127.0.0.1", "krótki", nullptr},  // nobody else can reach it
        {"0.0.0.0", "", "adres inny niż 127.0.0.1 wymaga tokenu"},
        {"0.0.0.0", kLong, nullptr},
        {"0.0.0.0", "0123456789abcde", "token musi mieć co najmniej 16 znaków"},
        {"0.0.0.0", "ąęółśżźćńąęółśżź", nullptr},  // characters, not bytes
        {"192.168.1.5", "", "adres inny niż 127.0.0.1 wymaga tokenu"},
        {"::", kLong, nullptr},
        {"waga.local", kLong, "adres „waga.local” nie jest adresem IP"},
        {"", "", "adres „” nie jest adresem IP"},
    };
    for (const auto& [address, token, refusal] : rows) {
        ServiceSettings settings;
        settings.address = address;
        settings.token = token;
        EXPECT_EQ(StartRefusal(settings), refusal ? QString::fromUtf8(refusal) : QString())
            << address << " / " << token;
    }
}

// Wrong tokens from one address: the first five free, then waits of 1, 2, 4 ... s, at most a
// minute; other addresses unaffected; a right token or ten quiet minutes forget them.
TEST(ServiceRules, WrongTokensAreSlowedPerAddress) {
    GuessThrottle throttle;
    struct Step {
        const char* what;
        qint64 atMs;
        int failures;  // wrong tokens from "a" at that time
        qint64 waitA;  // then: what "a" must wait
    };
    const Step steps[] = {
        {"five free", 0, 5, 0},
        {"the sixth: a second", 10, 1, 1000},
        {"still waiting", 510, 0, 500},
        {"the seventh: two", 1010, 1, 2000},
        {"the eighth: four", 3010, 1, 4000},
        {"many more: at most a minute", 10000, 20, 60000},
        {"a minute later", 70000, 0, 0},
        {"the next right after: a minute again", 70000, 1, 60000},
        {"ten quiet minutes forget", 800000, 1, 0},
    };
    for (const Step& step : steps) {
        for (int i = 0; i < step.failures; ++i) throttle.Failed("a", step.atMs);
        EXPECT_EQ(throttle.WaitMs("a", step.atMs), step.waitA) << step.what;
        EXPECT_EQ(throttle.WaitMs("b", step.atMs), 0) << step.what;
    }
    for (int i = 0; i < 8; ++i) throttle.Failed("a", 900000);
    EXPECT_GT(throttle.WaitMs("a", 900000), 0);
    throttle.Succeeded("a");
    EXPECT_EQ(throttle.WaitMs("a", 900000), 0);

    GuessThrottle small(1, 3);  // one free failure, three addresses remembered
    small.Failed("a", 0);
    small.Failed("b", 1);
    small.Failed("c", 2);
    small.Failed("d", 3);  // "a" has been quiet the longest: forgotten
    EXPECT_EQ(small.Remembered(), 3);
    small.Failed("a", 4);  // its first failure again ("b" goes now)
    EXPECT_EQ(small.WaitMs("a", 4), 0);
    small.Failed("c", 5);  // remembered: its second
    EXPECT_GT(small.WaitMs("c", 5), 0);
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

// Which connections the service keeps, step by step, with small limits: openings make way for
// newer ones (their own address's first, one whose bytes wait last), clients without the token
// hold their share, a token holder always finds a place.
TEST(ServiceRules, ConnectionAdmissionTable) {
    ConnectionLimits limits;
    limits.maxOpening = 4;
    limits.maxOpeningPerClient = 2;
    limits.maxConnections = 4;
    limits.maxConnectionsPerClient = 3;
    limits.maxTokenlessConnections = 2;
    limits.maxStreams = 3;
    limits.maxStreamsPerClient = 2;
    limits.maxTokenlessStreams = 1;
    std::set<ConnectionAdmission::Id> pending;  // bytes wait unread
    ConnectionAdmission admission(
        limits, true, [&](ConnectionAdmission::Id id) { return pending.count(id) > 0; });
    using V = ConnectionAdmission::Verdict;
    enum Op { Open, Heard, HeardToken, Stream, Pending };
    struct Step {
        const char* what;
        Op op;
        ConnectionAdmission::Id id;
        const char* client;
        V verdict;
        std::vector<ConnectionAdmission::Id> closed;
    };
    const Step steps[] = {
        {"an opening", Open, 1, "a", V::Admitted, {}},
        {"a second from a", Open, 2, "a", V::Admitted, {}},
        {"a third from a: a's oldest goes", Open, 3, "a", V::Admitted, {1}},
        {"from b", Open, 4, "b", V::Admitted, {}},
        {"from c", Open, 5, "c", V::Admitted, {}},
        {"2's bytes wait", Pending, 2, "", V::Admitted, {}},
        {"from d: all 4 taken, the oldest idle goes", Open, 6, "d", V::Admitted, {3}},
        {"from e: 2 still waits to be read, 4 goes", Open, 7, "e", V::Admitted, {4}},
        {"2 asks without the token", Heard, 2, "", V::Admitted, {}},
        {"5 asks without the token", Heard, 5, "", V::Admitted, {}},
        {"6 too: the share of 2 is taken, the oldest without goes", Heard, 6, "", V::Admitted, {2}},
        {"7 with the token", HeardToken, 7, "", V::Admitted, {}},
        {"from f, with the token", Open, 8, "f", V::Admitted, {}},
        {"8 asks", HeardToken, 8, "", V::Admitted, {}},
        {"from g, with the token: all 4 places, one without goes", Open, 9, "g", V::Admitted, {}},
        {"9 asks", HeardToken, 9, "", V::Admitted, {5}},
        {"6's stream without the token", Stream, 6, "", V::Admitted, {}},
        {"from h, without the token", Open, 10, "h", V::Admitted, {}},
        {"10 asks", Heard, 10, "", V::Admitted, {}},
        {"10's stream: the share of 1 is taken", Stream, 10, "", V::TokenlessFull, {}},
        {"7's stream", Stream, 7, "", V::Admitted, {}},
        {"8's stream: all 3 taken", Stream, 8, "", V::Admitted, {}},
        {"9's stream takes the place of 6's", Stream, 9, "", V::Admitted, {6}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        ConnectionAdmission::Decision decision;
        switch (step.op) {
            case Open:
                decision = admission.Open(step.id, QString::fromLatin1(step.client));
                break;
            case Heard:
            case HeardToken:
                pending.erase(step.id);  // read: that is how it was heard
                decision = admission.Heard(step.id, step.op == HeardToken);
                break;
            case Stream:
                decision = admission.Stream(step.id);
                break;
            case Pending:
                pending.insert(step.id);
                break;
        }
        EXPECT_EQ(decision.verdict, step.verdict);
        EXPECT_EQ(decision.close, step.closed);
    }
    EXPECT_EQ(admission.Streams(), 3);
    EXPECT_LE(admission.Ordinary(), limits.maxConnections);
}

}  // namespace
