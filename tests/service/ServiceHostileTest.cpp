// The service against hostile clients, through real sockets: one table of hostile requests
// (Host names, methods, framing, oversized headers, resumes), connections and event
// streams limited per client address and in all, a request that never completes (closed), an
// event-stream client that stops reading (dropped past 1 MiB unsent) while a reading client
// loses nothing, and the memory under 256 clients resuming from the first row.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QJsonArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>

#include "HttpClient.h"
#include "ServiceFixture.h"

#if defined(__SANITIZE_ADDRESS__)
#define WAGA_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#define WAGA_ADDRESS_SANITIZER __has_feature(address_sanitizer)
#else
#define WAGA_ADDRESS_SANITIZER 0
#endif

using namespace waga::test;

namespace {

class ServiceHostile : public ServiceFixture {};

// Client number `n` of many, each from an address of its own in 127/8.
QHostAddress ClientAddress(int n) {
    return QHostAddress(QStringLiteral("127.0.%1.%2").arg(1 + n / 250).arg(2 + n % 250));
}

// Hundreds of sockets on each side: the soft limit of open files up to the hard one.
void RaiseFileLimit() {
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = limit.rlim_max;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    ASSERT_GE(limit.rlim_cur, 2048u) << "too few files may be open for this test";
}

enum class Expect {
    Answer,       // the status
    Refused,      // the status, a JSON error, and the connection closed
    HeadThenGet,  // HEAD's answer has no body: the next answer follows its header at once
    TwoAnswers,   // the status twice
    Stream,       // an event stream
};

struct HostileRow {
    const char* what;
    std::string request;  // {PORT} stands for the service's port
    int status;
    Expect expect;
};

TEST_F(ServiceHostile, HostileRequestsTable) {
    ServiceSettings settings;
    settings.names = "waga1.firma.example, Druga.Firma.Example";
    StartService(settings);
    ASSERT_NE(port_, 0);
    auto get = [](const std::string& host, const std::string& target = "/api/v1/weight") {
        return "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    };
    const std::string own = "Host: 127.0.0.1:{PORT}\r\n";
    const std::string weight = "GET /api/v1/weight HTTP/1.1\r\n";
    const std::string smuggled = "GET /api/v1/weight HTTP/1.1\r\nHost: evil.example\r\n\r\n";
    auto pad = [](int bytes) { return "X-Pad: " + std::string(bytes, 'a') + "\r\n\r\n"; };
    std::string seventeen;
    for (int i = 0; i < 17; ++i) seventeen += get("127.0.0.1");
    using E = Expect;
    const HostileRow rows[] = {
        // The Host names: only the service's own (DNS rebinding asks with another).
        {"own address with the port", get("127.0.0.1:{PORT}"), 200, E::Answer},
        {"localhost with the port", get("localhost:{PORT}"), 200, E::Answer},
        {"any case, no port", get("LocalHost"), 200, E::Answer},
        {"IPv6 loopback", get("[::1]:{PORT}"), 200, E::Answer},
        {"a name from Nazwy", get("waga1.firma.example:{PORT}"), 200, E::Answer},
        {"another name from Nazwy, any case", get("druga.firma.example"), 200, E::Answer},
        {"a trailing dot", get("localhost.:{PORT}"), 200, E::Answer},
        {"evil.example with the port", get("evil.example:{PORT}"), 421, E::Refused},
        {"evil.example", get("evil.example"), 421, E::Refused},
        {"the journal for evil.example",
         get("evil.example:{PORT}", "/api/v1/lines?since=0&limit=1000"), 421, E::Refused},
        {"the stream for evil.example", get("evil.example:{PORT}", "/api/v1/events"), 421,
         E::Refused},
        {"the page for evil.example", get("evil.example:{PORT}", "/"), 421, E::Refused},
        {"own name, another port", get("127.0.0.1:1"), 421, E::Refused},
        {"own name as a prefix", get("localhost.evil.example"), 421, E::Refused},
        {"own name before an @", get("127.0.0.1@evil.example"), 421, E::Refused},
        {"IPv6 without brackets", get("::1"), 421, E::Refused},
        {"no Host on HTTP/1.1", weight + "\r\n", 400, E::Refused},
        {"no Host on HTTP/1.0", "GET /api/v1/weight HTTP/1.0\r\n\r\n", 200, E::Answer},
        {"two Hosts", weight + own + "Host: 127.0.0.1\r\n\r\n", 400, E::Refused},
        {"an empty Host", weight + "Host: \r\n\r\n", 400, E::Refused},
        {"absolute target of another name",
         "GET http://evil.example/api/v1/weight HTTP/1.1\r\n" + own + "\r\n", 421, E::Refused},
        {"absolute target of its own",
         "GET http://127.0.0.1:{PORT}/api/v1/weight HTTP/1.1\r\n" + own + "\r\n", 200, E::Answer},
        {"lines ended by LF alone", "GET /api/v1/weight HTTP/1.1\nHost: evil.example\n\n", 421,
         E::Refused},
        {"empty lines before the request", "\r\n\r\n" + get("localhost"), 200, E::Answer},
        // Methods: HEAD as GET without the body; only GET, HEAD and OPTIONS.
        {"HEAD of the weight", "HEAD /api/v1/weight HTTP/1.1\r\n" + own + "\r\n" + get("localhost"),
         200, E::HeadThenGet},
        {"HEAD of the page", "HEAD / HTTP/1.1\r\n" + own + "\r\n" + get("localhost"), 200,
         E::HeadThenGet},
        {"HEAD of the stream", "HEAD /api/v1/events HTTP/1.1\r\n" + own + "\r\n" + get("localhost"),
         200, E::HeadThenGet},
        {"POST", "POST /api/v1/weight HTTP/1.1\r\n" + own + "Content-Length: 2\r\n\r\n{}", 405,
         E::Answer},
        // Framing: one reading of where a request ends, or none at all.
        {"Content-Length and Transfer-Encoding",
         weight + own + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400,
         E::Refused},
        {"two different Content-Lengths",
         weight + own + "Content-Length: 3\r\nContent-Length: 5\r\n\r\nabcde", 400, E::Refused},
        {"a list of different lengths", weight + own + "Content-Length: 3, 5\r\n\r\nabcde", 400,
         E::Refused},
        {"the same Content-Length twice",
         weight + own + "Content-Length: 5\r\nContent-Length: 5\r\n\r\nabcde", 200, E::Answer},
        {"a chunked body", weight + own + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 411,
         E::Refused},
        {"a body over 64 KiB", weight + own + "Content-Length: 100000\r\n\r\n", 413, E::Refused},
        {"a length that is no number", weight + own + "Content-Length: 5x\r\n\r\nabcde", 400,
         E::Refused},
        {"a request inside a body stays a body",
         weight + own + "Content-Length: " + std::to_string(smuggled.size()) + "\r\n\r\n" +
             smuggled + get("localhost"),
         200, E::TwoAnswers},
        {"a folded header line", weight + own + "X-A: a\r\n b\r\n\r\n", 400, E::Refused},
        {"a space before the colon", weight + "Host : 127.0.0.1\r\n\r\n", 400, E::Refused},
        {"a CR inside a line", weight + "Host: 127.0.0.1\rHost: evil.example\r\n\r\n", 400,
         E::Refused},
        {"not HTTP at all", "HELLO\r\n\r\n", 400, E::Refused},
        {"17 requests at once", seventeen, 429, E::Refused},
        {"headers of 15 KiB", weight + own + pad(15 * 1024), 200, E::Answer},
        {"headers just over 16 KiB", weight + own + pad(16 * 1024), 431, E::Refused},
        {"headers of 4 MiB: read and dropped, never held", weight + pad(4 << 20), 431, E::Refused},
        // Resumes: an id that is no number is a new client; one beyond every row waits for it.
        {"Last-Event-ID not a number",
         "GET /api/v1/events HTTP/1.1\r\n" + own + "Last-Event-ID: x\r\n\r\n", 200, E::Stream},
        {"Last-Event-ID beyond every row",
         "GET /api/v1/events HTTP/1.1\r\n" + own + "Last-Event-ID: 99999999999\r\n\r\n", 200,
         E::Stream},
    };
    for (const HostileRow& row : rows) {
        SCOPED_TRACE(row.what);
        QByteArray request = QByteArray::fromStdString(row.request);
        request.replace("{PORT}", QByteArray::number(port_));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port_);
        ASSERT_TRUE(socket.waitForConnected(3000));
        socket.write(request);
        // The answer may come while the rest is still being sent; keep writing meanwhile.
        while (socket.bytesToWrite() > 0 && socket.state() == QAbstractSocket::ConnectedState &&
               socket.waitForBytesWritten(3000)) {
        }
        const HttpAnswer answer = ReadAnswer(socket, 5000, row.expect != Expect::HeadThenGet);
        EXPECT_EQ(answer.status, row.status);
        EXPECT_EQ(answer.Header("Cache-Control"), "no-store");
        switch (row.expect) {
            case Expect::Answer:
                break;
            case Expect::Refused:
                EXPECT_FALSE(answer.Json().value("error").toString().isEmpty())
                    << answer.body.data();
                EXPECT_EQ(answer.Header("Connection"), "close");
                EXPECT_TRUE(socket.state() == QAbstractSocket::UnconnectedState ||
                            socket.waitForDisconnected(5000));
                break;
            case Expect::HeadThenGet:
            case Expect::TwoAnswers: {
                // A HEAD answer's body is not sent; a GET answer's is, in full.
                const bool head = row.expect == Expect::HeadThenGet;
                if (!answer.Header("Content-Type").startsWith("text/event-stream")) {
                    EXPECT_GT(answer.Header("Content-Length").toLongLong(), 0);
                }
                QByteArray rest =
                    answer.body.mid(head ? 0 : answer.Header("Content-Length").toLongLong());
                while (rest.size() < 13 && socket.waitForReadyRead(5000)) rest += socket.readAll();
                EXPECT_TRUE(rest.startsWith("HTTP/1.1 200 ")) << rest.left(40).data();
                break;
            }
            case Expect::Stream:
                EXPECT_TRUE(answer.Header("Content-Type").startsWith("text/event-stream"));
                break;
        }
    }
    EXPECT_EQ(Get(port_, "/api/v1/weight").status, 200);  // and it still serves
}

TEST_F(ServiceHostile, StreamsAreLimitedPerAddressAndInAll) {
    RaiseFileLimit();
    StartService();
    // Event streams: 8 from one address, 256 in all; a full quota still leaves GET answered.
    std::vector<std::unique_ptr<SseClient>> streams;
    for (int client = 0; client < 32; ++client) {
        for (int i = 0; i < 8; ++i) {
            streams.push_back(
                std::make_unique<SseClient>(port_, QByteArray(), ClientAddress(client)));
            ASSERT_EQ(streams.back()->Answer().status, 200) << client << " " << i;
        }
        if (client == 0) {
            const SseClient ninth(port_, {}, ClientAddress(0));
            EXPECT_EQ(ninth.Answer().status, 429);
        }
    }
    {
        const SseClient tooMany(port_, {}, ClientAddress(32));
        EXPECT_EQ(tooMany.Answer().status, 503);
        EXPECT_FALSE(tooMany.Answer().Json().value("error").toString().isEmpty());
    }
    EXPECT_EQ(Request(port_, "GET", "/api/v1/weight", {}, QHostAddress::LocalHost, ClientAddress(0))
                  .status,
              200);
}

// Idle connections never keep out a request: a new connection that has sent nothing, or one
// that has had its answer, makes way for a client that asks (the oldest of the same address
// over 32 held, the oldest of all over 256), and the one that asks is answered.
TEST_F(ServiceHostile, IdleConnectionsMakeWayForARequest) {
    RaiseFileLimit();
    WeightServerOptions options;
    options.limits.headTimeoutMs = 120000;  // the idle ones stay however slow the machine
    options.limits.requestTimeoutMs = 120000;
    StartService({}, options);
    struct Row {
        const char* what;
        int total;          // held from 127.0.0.1 (up to 32), else 32 from each of 127.0.1.2 ...
        bool askedFirst;    // each held one had an answer before (else it never sent a byte)
        const char* count;  // the health figure that counts them
    };
    // With the connection that asks for the figures, kept alive too, all places are taken.
    const Row rows[] = {
        {"32 idle from 127.0.0.1, as one local user holds them", 32, false, "opening"},
        {"32 kept alive from 127.0.0.1", 32, true, "connections"},
        {"256 idle from 8 addresses", 256, false, "opening"},
        {"255 kept alive from 8 addresses", 255, true, "connections"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTcpSocket asker;  // from an address of its own
        asker.bind(ClientAddress(200));
        asker.connectToHost(QHostAddress::LocalHost, port_);
        ASSERT_TRUE(asker.waitForConnected(3000));
        const auto health = [&] {
            asker.write("GET /api/v1/health HTTP/1.1\r\nHost: localhost\r\n\r\n");
            return ReadAnswer(asker).Json();
        };
        const qint64 evictedBefore = health().value("evicted").toInteger();
        const bool local = row.total <= 32;
        const QHostAddress first = local ? QHostAddress(QHostAddress::LocalHost) : ClientAddress(0);
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < row.total; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->bind(local ? first : ClientAddress(i / 32));
            socket->connectToHost(QHostAddress::LocalHost, port_);
            ASSERT_TRUE(socket->waitForConnected(3000));
            if (row.askedFirst) {
                socket->write("GET /api/v1/weight HTTP/1.1\r\nHost: localhost\r\n\r\n");
                ASSERT_EQ(ReadAnswer(*socket).status, 200);
            }
            held.push_back(std::move(socket));
        }
        const int counted = row.total + (row.askedFirst ? 1 : 0);  // with the asker
        ASSERT_TRUE(WaitUntil([&] { return health().value(row.count).toInteger() == counted; }));
        // A client of the first address asks, on a new connection: answered.
        const HttpAnswer answer =
            Request(port_, "GET", "/api/v1/weight", {}, QHostAddress::LocalHost, first);
        EXPECT_EQ(answer.status, 200);
        EXPECT_TRUE(answer.Json().contains("reading"));
        // The oldest held one was closed for it; the others stay.
        EXPECT_TRUE(held.front()->waitForDisconnected(5000) ||
                    held.front()->state() == QAbstractSocket::UnconnectedState);
        EXPECT_EQ(held[1]->state(), QAbstractSocket::ConnectedState);
        EXPECT_EQ(health().value("evicted").toInteger() - evictedBefore, 1);
        held.clear();
        ASSERT_TRUE(WaitUntil([&] {
            const QJsonObject now = health();
            return now.value("opening").toInteger() == 0 &&
                   now.value("connections").toInteger() == 1;
        }));
    }
}

namespace {

qint64 StatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::stoll(line.substr(std::strlen(key)));
    }
    ADD_FAILURE() << key << " not in /proc/self/status";
    return 0;
}

// The peak resident size starts again from the current one.
void ResetPeakRss() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    ASSERT_TRUE(clear) << "/proc/self/clear_refs cannot be written";
}

// A raw client resuming from the first row (or a new one, without `lastEventId`), with a small
// receive buffer: it takes what the server sends only as fast as it is read.
int ResumeFromZero(quint16 port, const QHostAddress& from, const char* lastEventId = "0") {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 16 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(from.toIPv4Address());
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string request =
        std::string("GET /api/v1/events HTTP/1.1\r\nHost: localhost\r\n") +
        (*lastEventId ? std::string("Last-Event-ID: ") + lastEventId + "\r\n" : "") + "\r\n";
    EXPECT_EQ(send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    return fd;
}

// Reads every client's stream until it has had its gap event; the bytes read in all.
qint64 ReadUntilGaps(const std::vector<int>& fds) {
    std::vector<std::string> tails(fds.size());
    std::vector<bool> done(fds.size(), false);
    std::size_t left = fds.size();
    qint64 total = 0;
    char buffer[65536];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(150);
    while (left > 0 && std::chrono::steady_clock::now() < deadline) {
        std::vector<pollfd> polls;
        std::vector<std::size_t> which;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (!done[i]) {
                polls.push_back({fds[i], POLLIN, 0});
                which.push_back(i);
            }
        }
        if (poll(polls.data(), polls.size(), 1000) <= 0) continue;
        for (std::size_t k = 0; k < polls.size(); ++k) {
            if (polls[k].revents == 0) continue;
            const std::size_t i = which[k];
            const ssize_t n = recv(fds[i], buffer, sizeof buffer, 0);
            if (n <= 0) {
                ADD_FAILURE() << "client " << i << " closed before its gap event";
                done[i] = true;
                --left;
                continue;
            }
            total += n;
            tails[i] = tails[i].substr(tails[i].size() > 16 ? tails[i].size() - 16 : 0) +
                       std::string(buffer, static_cast<std::size_t>(n));
            if (tails[i].find("event: gap") != std::string::npos) {
                done[i] = true;
                --left;
            }
        }
    }
    EXPECT_EQ(left, 0u) << "clients still waiting for their gap event";
    return total;
}

}  // namespace

// 256 clients resume from the first of 200,000 rows (about 90 MB of events): each gets its
// bounded catch-up read page by page, so the memory stays near what it was. The figure is
// printed; the bound is 20 MB.
TEST_F(ServiceHostile, ResumingClientsKeepTheMemoryBounded) {
    RaiseFileLimit();
    StartService();
    journal_.Execute(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200000) "
        "INSERT INTO lines SELECT i, 'report', 0, 0, 1, printf('%0300d', i), x'', NULL, 'kg', "
        "'COM2' FROM n");
    {  // one client first: the caches are warm before the idle figure is taken
        const int fd = ResumeFromZero(port_, ClientAddress(300));
        ReadUntilGaps({fd});
        close(fd);
    }
    ResetPeakRss();
    const qint64 idleKiB = StatusKiB("VmHWM:");
    std::vector<int> fds;
    for (int i = 0; i < 256; ++i) fds.push_back(ResumeFromZero(port_, ClientAddress(i)));
    const qint64 bytes = ReadUntilGaps(fds);
    const qint64 peakKiB = StatusKiB("VmHWM:");
    for (const int fd : fds) close(fd);

    std::printf(
        "256 clients resuming from Last-Event-ID 0: %lld MB sent, RSS idle %lld KiB, "
        "peak %lld KiB (+%lld KiB)\n",
        static_cast<long long>(bytes >> 20), static_cast<long long>(idleKiB),
        static_cast<long long>(peakKiB), static_cast<long long>(peakKiB - idleKiB));
    RecordProperty("rss_growth_kib", static_cast<int>(peakKiB - idleKiB));
    EXPECT_GE(bytes, 256LL * 1000 * 1000);  // each had its full MiB
#if !WAGA_ADDRESS_SANITIZER                 // which keeps freed memory aside on purpose
    EXPECT_LT(peakKiB - idleKiB, 20 * 1024);
#endif
    EXPECT_EQ(Get(port_, "/api/v1/health").Json().value("gaps").toInteger(), 257);
}

TEST_F(ServiceHostile, IncompleteRequestIsClosedButAnEventStreamStays) {
    StartService();  // a new connection's head must be whole within 2 s
    QTcpSocket slow;
    slow.connectToHost(QHostAddress::LocalHost, port_);
    ASSERT_TRUE(slow.waitForConnected(3000));
    slow.write("GET /api/v1/weight HTTP/1.1\r\nHost:");  // and never the rest
    slow.waitForBytesWritten(1000);
    SseClient stream(port_);
    ASSERT_EQ(stream.Answer().status, 200);
    stream.Take(1);
    EXPECT_TRUE(slow.waitForDisconnected(5000));
    EXPECT_EQ(slow.readAll(), QByteArray());  // closed without an answer
    // The stream outlived the limit and still delivers.
    Feed("1,0\r");
    const QList<SseEvent> events = stream.Take(1, 3000);
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events[0].name, "reading");
    EXPECT_EQ(Get(port_, "/api/v1/health").Json().value("timed_out").toInteger(), 1);
}

TEST_F(ServiceHostile, StalledStreamClientIsDroppedAndAReaderLosesNothing) {
    StartService();
    SseClient stalled(port_);  // reads its answer's header, then nothing more
    ASSERT_EQ(stalled.Answer().status, 200);
    stalled.Socket().setReadBufferSize(1024);  // the event loop below reads no more than that
    const quint16 port = port_;
    constexpr int kLines = 40;
    std::atomic<int> received{0};
    std::atomic<bool> inOrder{true};
    std::thread reader([&] {
        SseClient client(port);
        client.Take(1);  // status
        while (received < kLines) {
            const QList<SseEvent> events = client.Take(1, 30000);
            if (events.isEmpty()) break;
            if (events[0].id.toInt() != received + 1) inOrder = false;
            ++received;
        }
    });
    RunEventsUntil(
        [&] { return Get(port_, "/api/v1/health").Json().value("clients").toInteger() == 2; });
    // Each line waits until the reader has the one before, so the reader is never the one
    // that falls behind, however busy the machine; the stalled client falls behind by all.
    const std::string big(700 * 1024, 'r');
    for (int i = 0; i < kLines; ++i) {
        ASSERT_TRUE(WaitUntil([&] { return received >= i - 1; }, std::chrono::seconds(30))) << i;
        Feed(big + std::to_string(i) + "\r");
    }
    reader.join();
    EXPECT_EQ(received, kLines);
    EXPECT_TRUE(inOrder);
    const QJsonObject health = Get(port_, "/api/v1/health").Json();
    EXPECT_EQ(health.value("dropped_clients").toInteger(), 1);
    // The stalled client's connection was cut: reading on, it reaches the end.
    stalled.Socket().setReadBufferSize(0);
    EXPECT_TRUE(RunEventsUntil(
        [&] { return stalled.Socket().state() == QAbstractSocket::UnconnectedState; }));
}

// An event-stream client that takes nothing is closed once none of what waits for it has been
// taken for streamStallMs (10 s in the program), long before 1 MiB waits; a reader beside it
// gets every event.
TEST_F(ServiceHostile, StreamThatTakesNothingIsClosedWithinTheBound) {
    WeightServerOptions options;
    options.limits.streamStallMs = 1000;
    StartService({}, options);
    const int stalled = ResumeFromZero(port_, ClientAddress(1), "");  // and never reads
    SseClient reader(port_);
    ASSERT_EQ(reader.Answer().status, 200);
    ASSERT_EQ(reader.Take(1).size(), 1);  // the status
    ASSERT_TRUE(WaitUntil(
        [&] { return Get(port_, "/api/v1/health").Json().value("clients").toInteger() == 2; }));
    qint64 sent = 0;  // what the stalled client was sent, about
    int lines = 0;
    QStringList wrong;
    const auto dropped = [&] {
        return Get(port_, "/api/v1/health").Json().value("dropped_clients").toInteger();
    };
    // Each a new reading; the reader takes them all.
    const auto feed = [&](int count) {
        for (int i = 0; i < count; ++i) Feed("  " + std::to_string(++lines) + ",00\r");
        const QList<SseEvent> events = reader.Take(count);
        for (int i = 0; i < events.size(); ++i) {
            const QString expected = "  " + QString::number(lines - count + 1 + i) + ",00";
            if (events[i].data.value("text").toString() != expected) {
                wrong << events[i].data.value("text").toString() + " for " + expected;
            }
            sent += 200;  // an event's bytes, about
        }
        return events.size() == count;
    };
    // More than the system's buffers hold for the stalled client, then a trickle until the
    // stalled one is closed.
    for (int batch = 0; batch < 20; ++batch) ASSERT_TRUE(feed(50)) << lines;
    ASSERT_TRUE(WaitUntil([&] { return feed(1) && dropped() > 0; }, std::chrono::seconds(30)));
    EXPECT_TRUE(wrong.isEmpty()) << wrong.mid(0, 5).join(", ").toStdString();
    EXPECT_EQ(dropped(), 1);
    EXPECT_LT(sent, 1024 * 1024);  // closed for taking nothing, not for the 1 MiB
    // Gone from the server (the client may not hear of it: its window is shut).
    EXPECT_TRUE(WaitUntil(
        [&] { return Get(port_, "/api/v1/health").Json().value("clients").toInteger() == 1; }));
    close(stalled);
    EXPECT_TRUE(service_->Notice().isEmpty() ||
                service_->Notice().startsWith(QStringLiteral("przeciążenie: ")));
    EXPECT_TRUE(RunEventsUntil([&] { return service_->Notice().contains("nie odbiera"); }))
        << service_->Notice().toStdString();
}

TEST_F(ServiceHostile, NonLoopbackAddressWithoutTokenRefusesToStart) {
    ServiceSettings settings;
    settings.address = "0.0.0.0";
    StartService(settings);
    EXPECT_EQ(service_->CurrentState(), WeightService::State::Failed);
    EXPECT_EQ(ServiceStateText(service_->CurrentState(), service_->Url(), service_->Cause()),
              QStringLiteral("błąd: adres inny niż 127.0.0.1 wymaga tokenu"));
}

TEST_F(ServiceHostile, PortTakenIsReportedAsTheCause) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    ServiceSettings settings;
    settings.port = holder.serverPort();
    StartService(settings);
    EXPECT_EQ(service_->CurrentState(), WeightService::State::Failed);
    EXPECT_EQ(service_->Cause(), QStringLiteral("port %1 jest zajęty").arg(holder.serverPort()));
}

TEST_F(ServiceHostile, AnyLoopbackAddressNeedsNoToken) {
    ServiceSettings settings;
    settings.address = "127.0.0.2";
    settings.token = "s3cret";
    StartService(settings);
    ASSERT_EQ(service_->CurrentState(), WeightService::State::Running);
    EXPECT_EQ(service_->Url(), QStringLiteral("http://127.0.0.2:%1/").arg(port_));
    const HttpAnswer answer = Request(port_, "GET", "/api/v1/weight", {}, QHostAddress("127.0.0.2"),
                                      QHostAddress("127.0.0.3"));
    EXPECT_EQ(answer.status, 200);
}

}  // namespace
