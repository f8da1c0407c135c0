// The service's decisions as tables: who counts as loopback, bearer tokens, start refusals,
// query parsing, and the state text of the settings window.
#include <gtest/gtest.h>

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
        EXPECT_EQ(IsLoopbackClient(QHostAddress(QString::fromLatin1(address))), loopback) << address;
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
        {"127.0.0.1", "", true},  {"localhost", "", true},  {"127.0.0.2", "", true},
        {"::1", "", true},        {"0.0.0.0", "", false},   {"0.0.0.0", "t0ken", true},
        {"192.168.1.5", "", false}, {"::", "", false},      {"waga.local", "t", false},
        {"", "", false},
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
