// The service seen from outside, in a network namespace of the test program's own (made before
// anything else runs; only the loopback device, which also gets an address outside 127/8 where a
// test needs a client that is not loopback), so nothing here can reach beyond this machine:
// - the live page in a real browser: Debian's Chromium, headless, loads the page from the running
//   service and its DOM shows the read-out, the report lines and the trend from the journal, the
//   trend broken where the scale was unplugged; a screenshot is saved for a person to look at
//   (WAGA_SERVICE_PAGE_PNG names the file);
// - a page of another name that resolves to this computer (DNS rebinding) reads nothing;
// - a client that is not on loopback needs the token (401 without it), its wrong guesses are
//   slowed, and a flood of clients without one never keeps the token holder out.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <atomic>
#include <cstring>
#include <thread>

#include "Flood.h"
#include "HttpClient.h"
#include "ServiceFixture.h"

using namespace waga::test;
namespace flood = waga::flood;

namespace {

std::string namespaceProblem;

// A network namespace with the loopback device up; as root, or else in a user namespace.
void EnterLoopbackOnlyNetwork() {
    if (unshare(CLONE_NEWNET) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        namespaceProblem = std::string("unshare: ") + std::strerror(errno);
        return;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (fd < 0 || ioctl(fd, SIOCGIFFLAGS, &request) != 0) {
        namespaceProblem = std::string("SIOCGIFFLAGS: ") + std::strerror(errno);
    } else {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
        if (ioctl(fd, SIOCSIFFLAGS, &request) != 0) {
            namespaceProblem = std::string("SIOCSIFFLAGS: ") + std::strerror(errno);
        }
    }
    if (fd >= 0) close(fd);
}

class ServiceBrowser : public ServiceFixture {
  protected:
    void SetUp() override {
        if (!namespaceProblem.empty()) GTEST_SKIP() << "no own network: " << namespaceProblem;
        chromium_ = QStandardPaths::findExecutable("chromium");
        if (chromium_.isEmpty()) GTEST_SKIP() << "chromium is not installed (scripts/setup)";
        ServiceFixture::SetUp();
    }

    // Runs headless Chromium on `url` with `extra` arguments; its standard output.
    QByteArray RunChromium(const QStringList& extra, const QString& url) {
        TempDir profile;
        QProcess chromium;
        chromium.setProgram(chromium_);
        chromium.setArguments(
            QStringList{"--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update",
                        "--hide-scrollbars",
                        "--user-data-dir=" + QString::fromStdString(profile.Path())} +
            extra + QStringList{url});
        chromium.start();
        EXPECT_TRUE(chromium.waitForStarted(10000));
        EXPECT_TRUE(RunEventsUntil([&] { return chromium.state() == QProcess::NotRunning; },
                                   std::chrono::seconds(90)));
        if (chromium.state() != QProcess::NotRunning) {
            chromium.kill();
            chromium.waitForFinished(5000);
        }
        return chromium.readAllStandardOutput();
    }

    QString chromium_;
};

// The program ran for five minutes before the service was switched on: the page's trend and
// report lines come from the journal; the line breaks where the scale was unplugged; after an
// unplug the page shows what the program's read-out shows (nothing).
TEST_F(ServiceBrowser, PageShowsTheReadoutReportsAndTheTrendFromTheJournal) {
    StartService();
    ASSERT_NE(port_, 0);
    const std::int64_t now = UtcNowMs();
    pipeline_.AnnouncePortState(PortState::Opened);
    // Five minutes of readings (a load put on and taken off, the scale unplugged for a minute
    // in between) and report lines, 28 of them, the last 20 on the page.
    int reports = 0;
    for (int i = 0; i <= 140; ++i) {
        if (i >= 100 && i < 130) continue;  // unplugged
        clockMs_ = now - 290000 + i * 2000;
        const double value = i < 30 ? 0.0 : i < 90 ? 12.0 + (i % 7) * 0.05 : i < 110 ? 0.0 : 12.34;
        char text[32];
        std::snprintf(text, sizeof text, "%8.2f\r", value);
        std::string line(text);
        std::replace(line.begin(), line.end(), '.', ',');
        Feed(line);
        if (i % 4 == 0)
            Feed(
                "Wa\xBF"
                "enie nr " +
                std::to_string(++reports) + ": " + line);
    }
    journal_.Commit();
    clockMs_ = 0;
    StartService();      // switched on now: it has seen none of it
    Feed("   12.34\r");  // sent with a dot, shown with the Polish comma
    Settle();
    const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(port_);

    QString dom = QString::fromUtf8(RunChromium({"--dump-dom"}, url));
    EXPECT_TRUE(dom.contains(QStringLiteral("<span id=\"waga\">12,34</span>")))
        << dom.toStdString();
    EXPECT_TRUE(dom.contains(QStringLiteral("<span id=\"jednostka\">kg</span>")));
    // Filled in by the page's script from the journal: the last 20 report lines, not numbered.
    ASSERT_EQ(reports, 28);
    EXPECT_TRUE(dom.contains(QStringLiteral("<ul id=\"raport\">"))) << dom.toStdString();
    EXPECT_FALSE(dom.contains(QStringLiteral("Ważenie nr 8:")));
    EXPECT_TRUE(dom.contains(QStringLiteral(">Ważenie nr 9:")));
    EXPECT_TRUE(dom.contains(QStringLiteral(">Ważenie nr 28:")));
    EXPECT_TRUE(dom.contains(QStringLiteral("COM2: połączono"))) << dom.toStdString();

    const QString png = qEnvironmentVariableIsSet("WAGA_SERVICE_PAGE_PNG")
                            ? qEnvironmentVariable("WAGA_SERVICE_PAGE_PNG")
                            : QString::fromStdString(dir_.File("strona.png"));
    Feed("   12,34\r");  // fresh for the picture
    Settle();
    RunChromium({"--screenshot=" + png, "--window-size=1100,760"}, url);
    const QImage shot(png);
    ASSERT_FALSE(shot.isNull()) << png.toStdString();
    EXPECT_EQ(shot.width(), 1100);
    // The trend line (its colour, give or take the edges' smoothing) is drawn on the canvas in
    // two parts, the minute unplugged between them without it.
    const auto lineColour = [](QRgb c) {
        return std::abs(qRed(c) - 0x1f) < 40 && std::abs(qGreen(c) - 0x6f) < 40 &&
               std::abs(qBlue(c) - 0xb2) < 40;
    };
    std::vector<bool> drawn(std::size_t(shot.width()), false);
    int trendPixels = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (lineColour(shot.pixel(x, y))) {
                ++trendPixels;
                drawn[std::size_t(x)] = true;
            }
        }
    }
    EXPECT_GT(trendPixels, 200);
    // Parts: drawn columns separated by more than 8 columns without the line.
    int parts = 0;
    int empty = 1000;
    for (const bool column : drawn) {
        if (column && empty > 8) ++parts;
        empty = column ? 0 : empty + 1;
    }
    EXPECT_EQ(parts, 2);

    pipeline_.AnnouncePortState(PortState::Lost);
    Settle();
    dom = QString::fromUtf8(RunChromium({"--dump-dom"}, url));
    EXPECT_TRUE(dom.contains(QStringLiteral("<span id=\"waga\">—</span>"))) << dom.toStdString();
    EXPECT_TRUE(dom.contains(QStringLiteral("COM2: brak połączenia z wagą")));
}

// The attacker's server for evil.example: its page at /atak.html, and every other request passed
// on, as it is (Host: evil.example:PORT), to the service, as after a rebinding of the name to
// 127.0.0.1 the browser would send it.
class RebindingProxy : public QObject {
  public:
    RebindingProxy(const QHostAddress& address, quint16 port, quint16 servicePort)
        : servicePort_(servicePort) {
        EXPECT_TRUE(server_.listen(address, port)) << server_.errorString().toStdString();
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* client = server_.nextPendingConnection()) Serve(client);
        });
    }

  private:
    void Serve(QTcpSocket* client) {
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QTcpSocket::readyRead, this, [this, client] {
            if (client->property("upstream").isValid()) return;
            const QByteArray head = client->peek(client->bytesAvailable());
            if (!head.contains("\r\n\r\n")) return;
            if (head.startsWith("GET /atak.html ")) {
                client->readAll();
                client->write(
                    "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                    "Connection: close\r\nContent-Length: " +
                    QByteArray::number(kPage.size()) + "\r\n\r\n" + kPage);
                client->disconnectFromHost();
                return;
            }
            auto* upstream = new QTcpSocket(client);
            client->setProperty("upstream", true);
            connect(upstream, &QTcpSocket::connected, client,
                    [client, upstream] { upstream->write(client->readAll()); });
            connect(client, &QTcpSocket::readyRead, upstream, [client, upstream] {
                if (upstream->state() == QAbstractSocket::ConnectedState) {
                    upstream->write(client->readAll());
                }
            });
            connect(upstream, &QTcpSocket::readyRead, client,
                    [client, upstream] { client->write(upstream->readAll()); });
            connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            upstream->connectToHost(QHostAddress::LocalHost, servicePort_);
        });
    }

    // What the attacker's page tries: read the weight, the journal and the health.
    static inline const QByteArray kPage = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>atak</title></head><body><pre id="wynik"></pre><script>
function probe(path) {
  const request = new XMLHttpRequest();
  request.open('GET', path, false);
  try { request.send(); } catch (e) { return path + ' blad ' + e; }
  return path + ' ' + request.status + ' ' + request.responseText;
}
document.getElementById('wynik').textContent =
  ['/api/v1/weight', '/api/v1/lines?since=0&limit=1000', '/api/v1/health'].map(probe).join('\n');
</script></body></html>
)";
    QTcpServer server_;
    quint16 servicePort_;
};

TEST_F(ServiceBrowser, RebindingPageOfAnotherNameReadsNothing) {
    struct Row {
        const char* names;  // Nazwy
        int status;
    };
    // The second row shows what the page would read from a name the station answers to.
    const Row rows[] = {{"", 421}, {"evil.example", 200}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.names);
        ServiceSettings settings;
        settings.names = row.names;
        StartService(settings);
        ASSERT_NE(port_, 0);
        Feed("  12,34\rTajny raport 7\r");
        journal_.Commit();
        Settle();
        // evil.example is the attacker's server at first, then 127.0.0.1: the proxy on
        // 127.0.0.2 with the service's port plays both, so the page's origin stays the same.
        RebindingProxy proxy(QHostAddress("127.0.0.2"), port_, port_);
        const QString dom = QString::fromUtf8(
            RunChromium({"--dump-dom", "--host-resolver-rules=MAP evil.example 127.0.0.2"},
                        QStringLiteral("http://evil.example:%1/atak.html").arg(port_)));
        const QString status = QStringLiteral(" %1 ").arg(row.status);
        for (const char* path :
             {"/api/v1/weight ", "/api/v1/lines?since=0&amp;limit=1000 ", "/api/v1/health "}) {
            EXPECT_TRUE(dom.contains(QString::fromLatin1(path).trimmed() + status))
                << path << "\n"
                << dom.toStdString();
        }
        EXPECT_EQ(dom.contains(QStringLiteral("12,34")), row.status == 200);
        EXPECT_EQ(dom.contains(QStringLiteral("Tajny raport")), row.status == 200);
    }
}

// A non-loopback address on the namespace's own loopback device (TEST-NET-2, the namespace's
// alone).
constexpr char kOwnAddress[] = "198.51.100.7";
// Another computer, as far as the service can tell.
constexpr char kOtherAddress[] = "198.51.100.8";
constexpr char kToken[] = "Zb9-tajny_token-16+";

class ServiceRemoteClient : public ServiceFixture {
  protected:
    void SetUp() override {
        if (!namespaceProblem.empty()) GTEST_SKIP() << "no own network: " << namespaceProblem;
        const QString ip = QStandardPaths::findExecutable("ip", {"/usr/sbin", "/sbin", "/usr/bin"});
        if (ip.isEmpty()) GTEST_SKIP() << "ip (iproute2) is not installed (scripts/setup)";
        static bool made = false;
        if (!made) {
            // The LAN's 250 flooding addresses: on the loopback device a prefix is local whole.
            for (const char* address : {"198.51.100.7/32", "198.51.100.8/32", "10.77.0.1/24"}) {
                const QStringList args{"addr", "add", QString(address), "dev", "lo"};
                ASSERT_EQ(QProcess::execute(ip, args), 0) << args.join(' ').toStdString();
            }
            made = true;
        }
        ServiceFixture::SetUp();
    }
    void StartRemote(WeightServerOptions options = {}) {
        ServiceSettings settings;
        settings.address = kOwnAddress;
        settings.token = kToken;
        StartService(settings, options);
        ASSERT_EQ(service_->CurrentState(), WeightService::State::Running)
            << service_->Cause().toStdString();
    }
    // One GET from `from` with `authorization` (none when empty).
    HttpAnswer Ask(const char* from, const QByteArray& authorization,
                   const QByteArray& target = "/api/v1/weight") {
        QList<QPair<QByteArray, QByteArray>> headers;
        if (!authorization.isEmpty()) headers.append({"Authorization", authorization});
        return Request(port_, "GET", target, headers, QHostAddress(kOwnAddress),
                       QHostAddress(from));
    }
};

TEST_F(ServiceRemoteClient, NeedsTheBearerToken) {
    StartRemote();
    const QHostAddress server(kOwnAddress);
    const QByteArray right = QByteArray("Bearer ") + kToken;
    struct Row {
        const char* target;
        const char* method;
        QByteArray authorization;  // empty: none
        int status;
    };
    const Row rows[] = {
        {"/api/v1/weight", "GET", {}, 401},
        {"/api/v1/weight", "GET", "Bearer zly", 401},
        {"/api/v1/weight", "GET", right, 200},
        {"/api/v1/weight", "GET", QByteArray("bearer ") + kToken, 200},  // any case
        {"/api/v1/weight", "GET", QByteArray("Basic ") + kToken, 401},
        {"/api/v1/events?x", "GET", {}, 401},
        {"/", "GET", {}, 401},
        {"/nothing", "GET", {}, 401},  // nothing is told without the token
        {"/nothing", "GET", right, 404},
        {"/api/v1/weight", "OPTIONS", {}, 204},  // preflight carries no credentials
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.method) + " " + row.target + " " +
                     row.authorization.toStdString());
        QList<QPair<QByteArray, QByteArray>> headers;
        if (!row.authorization.isEmpty()) headers.append({"Authorization", row.authorization});
        const HttpAnswer answer =
            Request(port_, row.method, row.target, headers, server, QHostAddress(kOwnAddress));
        EXPECT_EQ(answer.status, row.status);
        if (row.status == 401) {
            EXPECT_EQ(answer.Header("WWW-Authenticate"), "Bearer");
            EXPECT_FALSE(answer.Json().value("error").toString().isEmpty());
            EXPECT_EQ(answer.Header("Connection"), "close");  // it holds no place
        }
    }
}

TEST_F(ServiceRemoteClient, RepeatedWrongTokensMakeThatAddressWait) {
    WeightServerOptions options;
    options.limits.firstGuessWaitMs = 60000;  // 1 s in the program: long enough to see here
    StartRemote(options);
    for (int i = 1; i <= 6; ++i) {
        EXPECT_EQ(Ask(kOtherAddress, "Bearer zgadywany-token-" + QByteArray::number(i)).status, 401)
            << i;
    }
    // The sixth wrong one shut the address out: not even the right token is looked at now.
    const HttpAnswer waiting = Ask(kOtherAddress, QByteArray("Bearer ") + kToken);
    EXPECT_EQ(waiting.status, 429);
    EXPECT_GT(waiting.Header("Retry-After").toInt(), 0);  // whole seconds, at most a minute
    EXPECT_LE(waiting.Header("Retry-After").toInt(), 60);
    EXPECT_FALSE(waiting.Json().value("error").toString().isEmpty());
    // Another address is not.
    EXPECT_EQ(Ask(kOwnAddress, QByteArray("Bearer ") + kToken).status, 200);
}

// 300 idle connections, requests and event streams without the token, all from one address,
// while the token holder asks from another: every one of its requests is answered.
TEST_F(ServiceRemoteClient, TokenHolderIsServedDuringAnUnauthenticatedFlood) {
    StartRemote();
    const quint16 port = port_;
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 300; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->bind(QHostAddress(kOtherAddress));
        socket->connectToHost(QHostAddress(kOwnAddress), port);
        if (socket->waitForConnected(3000)) idle.push_back(std::move(socket));
    }
    std::atomic<bool> stop{false};
    std::atomic<int> flood{0};
    std::atomic<int> floodServed{0};
    std::thread flooder([&] {
        while (!stop) {
            for (const char* target : {"/api/v1/weight", "/api/v1/events", "/api/v1/lines"}) {
                // Without the token: 401, 429 once the address holds its 32 connections, or
                // no answer at all when too many refused connections linger already.
                if (Request(port, "GET", target, {}, QHostAddress(kOwnAddress),
                            QHostAddress(kOtherAddress))
                        .status == 200) {
                    ++floodServed;
                }
                ++flood;
            }
        }
    });
    const QByteArray token = QByteArray("Bearer ") + kToken;
    int served = 0;
    for (int i = 0; i < 50; ++i) {
        const HttpAnswer answer = Ask(kOwnAddress, token);
        if (answer.status == 200 && answer.Json().contains("reading")) ++served;
    }
    QTcpSocket stream;  // and an event stream, as the token holder's program would keep
    stream.bind(QHostAddress(kOwnAddress));
    stream.connectToHost(QHostAddress(kOwnAddress), port);
    ASSERT_TRUE(stream.waitForConnected(3000));
    stream.write("GET /api/v1/events HTTP/1.1\r\nHost: " + QByteArray(kOwnAddress) +
                 "\r\nAuthorization: " + token + "\r\n\r\n");
    EXPECT_EQ(ReadAnswer(stream, 5000, false).status, 200);
    stop = true;
    flooder.join();
    EXPECT_EQ(served, 50);
    EXPECT_GT(flood, 0);
    EXPECT_EQ(floodServed, 0);
    const QJsonObject health = Ask(kOwnAddress, token, "/api/v1/health").Json();
    EXPECT_GE(health.value("evicted").toInteger(), 300 - 32);  // the idle ones made way
}

// The service on every address (Adres=0.0.0.0) with a token, flooded from 250 addresses on the
// LAN (10.77.0.2 ...) or on this computer (127.0.0.2 ...), which need no token: idle
// connections, request heads that never end, requests without the token, event streams that
// never read. Meanwhile the token holder, on another computer, asks 100 times, each on a new
// connection, and opens an event stream: at least 99% are answered. Its answer times are
// printed (p50, p99); bench/service measures them beside the same without a flood.
TEST_F(ServiceRemoteClient, TokenHolderIsServedDuringFloodsFromManyAddresses) {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = limit.rlim_max;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    ServiceSettings settings;
    settings.address = "0.0.0.0";
    settings.token = kToken;
    StartService(settings);
    ASSERT_EQ(service_->CurrentState(), WeightService::State::Running);
    Feed("  12,34\r");
    using flood::Kind;
    constexpr std::uint32_t kLan = (10u << 24) | (77u << 16) | 2u;  // 10.77.0.2
    constexpr std::uint32_t kLocal = (127u << 24) | 2u;             // 127.0.0.2
    constexpr std::uint32_t kLanServer = (198u << 24) | (51u << 16) | (100u << 8) | 7u;
    constexpr std::uint32_t kLocalServer = (127u << 24) | 1u;
    struct Row {
        const char* what;
        std::vector<std::pair<Kind, int>> lan;    // from 10.77.0.2 ...
        std::vector<std::pair<Kind, int>> local;  // from 127.0.0.2 ...
    };
    const Row rows[] = {
        {"idle connections and heads that never end from the LAN",
         {{Kind::Idle, 300}, {Kind::Partial, 300}},
         {}},
        {"requests without the token from the LAN", {{Kind::Tokenless, 300}}, {}},
        {"all of it from this computer",
         {},
         {{Kind::Idle, 300}, {Kind::Partial, 300}, {Kind::Tokenless, 300}, {Kind::Stream, 300}}},
    };
    const QByteArray token = QByteArray("Bearer ") + kToken;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::unique_ptr<flood::Flood>> floods;
        int wanted = 0;
        for (const auto& [kinds, source, server] : {std::tuple(&row.lan, kLan, kLanServer),
                                                    std::tuple(&row.local, kLocal, kLocalServer)}) {
            if (kinds->empty()) continue;
            floods.push_back(
                std::make_unique<flood::Flood>(flood::Plan{server, port_, source, 250, *kinds}));
            for (const auto& kind : *kinds) wanted += kind.second;
        }
        const auto held = [&] {
            int n = 0;
            for (const auto& f : floods) n += f->Connected();
            return n;
        };
        // The flood is on: more connections held than the service has places for.
        ASSERT_TRUE(
            WaitUntil([&] { return held() >= std::min(wanted, 260); }, std::chrono::seconds(30)))
            << held() << " of " << wanted;
        std::vector<double> times;
        int served = 0;
        constexpr int kAsks = 100;
        for (int i = 0; i < kAsks; ++i) {
            const auto start = std::chrono::steady_clock::now();
            // Served, however slow the machine: the answer may take up to 15 s here.
            QTcpSocket socket;
            socket.bind(QHostAddress(kOtherAddress));
            socket.connectToHost(QHostAddress(kOwnAddress), port_);
            socket.waitForConnected(15000);
            socket.write("GET /api/v1/weight HTTP/1.1\r\nHost: " + QByteArray(kOwnAddress) +
                         "\r\nAuthorization: " + token + "\r\n\r\n");
            const HttpAnswer answer = ReadAnswer(socket, 15000);
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            if (answer.status == 200 && answer.Json().value("reading") == "12,34") ++served;
        }
        QTcpSocket stream;
        stream.bind(QHostAddress(kOtherAddress));
        stream.connectToHost(QHostAddress(kOwnAddress), port_);
        ASSERT_TRUE(stream.waitForConnected(3000));
        stream.write("GET /api/v1/events HTTP/1.1\r\nHost: " + QByteArray(kOwnAddress) +
                     "\r\nAuthorization: " + token + "\r\n\r\n");
        const HttpAnswer opened = ReadAnswer(stream, 5000, false);
        const int stillHeld = held();
        long failures = 0;
        for (const auto& f : floods) failures += f->Failures();
        floods.clear();
        std::sort(times.begin(), times.end());
        std::printf(
            "%s: token holder %d/%d served (%.1f %%), p50 %.1f ms, p99 %.1f ms; flood "
            "held %d connections at the end\n",
            row.what, served, kAsks, 100.0 * served / kAsks, times[kAsks / 2],
            times[kAsks * 99 / 100], stillHeld);
        EXPECT_GE(served, kAsks * 99 / 100);
        EXPECT_EQ(opened.status, 200);
        EXPECT_TRUE(opened.Header("Content-Type").startsWith("text/event-stream"));
        EXPECT_EQ(failures, 0);  // the flood itself never failed to connect
    }
    // What the flood caused was told, as the service's notice.
    EXPECT_TRUE(RunEventsUntil([&] { return service_->Notice().startsWith("przeciążenie: "); }))
        << service_->Notice().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    EnterLoopbackOnlyNetwork();  // before any socket or thread exists
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
