// The limits under the HTTP server, through real sockets: oversized headers (431), too many
// connections (503), a request that never completes (closed), an event-stream client that stops
// reading (dropped past 1 MiB unsent) while a reading client loses nothing.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTcpSocket>
#include <atomic>
#include <thread>

#include "HttpClient.h"
#include "ServiceFixture.h"

using namespace waga::test;

namespace {

class ServiceLimits : public ServiceFixture {};

TEST_F(ServiceLimits, HeadersOver16KiBGet431AndTheServerStaysUsable) {
    StartService();
    struct Row {
        qsizetype headerBytes;
        int status;
    };
    const Row rows[] = {
        {15 * 1024, 200},        // under the limit, the whole request included
        {17 * 1024, 431},        // just over
        {4 * 1024 * 1024, 431},  // far over: read and dropped, never held whole
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.headerBytes);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port_);
        ASSERT_TRUE(socket.waitForConnected(3000));
        QByteArray request = "GET /api/v1/weight HTTP/1.1\r\nHost: x\r\nX-Pad: ";
        request += QByteArray(row.headerBytes - request.size() - 4, 'a') + "\r\n\r\n";
        socket.write(request);
        // The answer may come while the rest is still being sent; keep writing meanwhile.
        while (socket.bytesToWrite() > 0 && socket.state() == QAbstractSocket::ConnectedState &&
               socket.waitForBytesWritten(2000)) {
        }
        const HttpAnswer answer = ReadAnswer(socket);
        EXPECT_EQ(answer.status, row.status);
        if (row.status == 431) {
            EXPECT_EQ(answer.Header("Connection"), "close");
            EXPECT_FALSE(answer.Json().value("error").toString().isEmpty());
        }
        EXPECT_EQ(Get(port_, "/api/v1/weight").status, 200);
    }
}

TEST_F(ServiceLimits, Over256ConnectionsTheRestGet503) {
    StartService();
    std::vector<std::unique_ptr<QTcpSocket>> open;
    for (int i = 0; i < 256; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, port_);
        ASSERT_TRUE(socket->waitForConnected(3000)) << i;
        open.push_back(std::move(socket));
    }
    // Asked through a held connection until the server has taken every one.
    auto health = [&] {
        open[0]->write("GET /api/v1/health HTTP/1.1\r\nHost: x\r\n\r\n");
        return ReadAnswer(*open[0]).Json();
    };
    ASSERT_TRUE(WaitUntil([&] { return health().value("connections").toInteger() == 256; }));
    const HttpAnswer refused = Get(port_, "/api/v1/weight");
    EXPECT_EQ(refused.status, 503);
    EXPECT_FALSE(refused.Json().value("error").toString().isEmpty());
    EXPECT_EQ(health().value("refused_connections").toInteger(), 1);
    open.pop_back();  // one leaves: a place is free again
    EXPECT_TRUE(WaitUntil([&] { return Get(port_, "/api/v1/weight").status == 200; },
                          std::chrono::seconds(5)));
}

TEST_F(ServiceLimits, IncompleteRequestIsClosedButAnEventStreamStays) {
    WeightServerOptions options;
    options.limits.requestTimeoutMs = 2000;  // 10 s in the program; shortened here
    StartService({}, options);
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

TEST_F(ServiceLimits, StalledStreamClientIsDroppedAndAReaderLosesNothing) {
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
    EXPECT_EQ(health.value("clients").toInteger(), 1);
    // The stalled client's connection was cut: reading on, it reaches the end.
    stalled.Socket().setReadBufferSize(0);
    EXPECT_TRUE(RunEventsUntil(
        [&] { return stalled.Socket().state() == QAbstractSocket::UnconnectedState; }));
}

TEST_F(ServiceLimits, NonLoopbackAddressWithoutTokenRefusesToStart) {
    ServiceSettings settings;
    settings.address = "0.0.0.0";
    StartService(settings);
    EXPECT_EQ(service_->CurrentState(), WeightService::State::Failed);
    EXPECT_EQ(ServiceStateText(service_->CurrentState(), service_->Url(), service_->Cause()),
              QStringLiteral("błąd: adres inny niż 127.0.0.1 wymaga tokenu"));
}

TEST_F(ServiceLimits, PortTakenIsReportedAsTheCause) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    ServiceSettings settings;
    settings.port = holder.serverPort();
    StartService(settings);
    EXPECT_EQ(service_->CurrentState(), WeightService::State::Failed);
    EXPECT_EQ(service_->Cause(), QStringLiteral("port %1 jest zajęty").arg(holder.serverPort()));
}

TEST_F(ServiceLimits, AnyLoopbackAddressNeedsNoToken) {
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
