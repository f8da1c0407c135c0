#pragma once
// A small blocking HTTP/1.1 client over a real TCP socket for the service's tests: one request,
// the status, the headers and a Content-Length body; and an event-stream reader. The server runs
// on its own thread, so blocking here never stalls it.

#include <QByteArray>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTcpSocket>
#include <memory>
#include <string>

namespace waga::test {

struct HttpAnswer {
    int status = 0;  // 0: no answer (closed or timed out)
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QByteArray Header(const QByteArray& name) const {
        for (const auto& [key, value] : headers) {
            if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
        }
        return {};
    }
    bool HasHeader(const QByteArray& name) const {
        for (const auto& h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0) return true;
        }
        return false;
    }
    QJsonObject Json() const { return QJsonDocument::fromJson(body).object(); }
};

// Reads one answer's status line and headers from `socket`; the body per Content-Length.
inline HttpAnswer ReadAnswer(QTcpSocket& socket, int timeoutMs = 5000, bool withBody = true) {
    HttpAnswer answer;
    QByteArray buffer;
    qsizetype headerEnd = -1;
    while ((headerEnd = buffer.indexOf("\r\n\r\n")) < 0) {
        if (!socket.waitForReadyRead(timeoutMs)) {
            buffer += socket.readAll();
            if ((headerEnd = buffer.indexOf("\r\n\r\n")) >= 0) break;
            return answer;
        }
        buffer += socket.readAll();
    }
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> statusParts = lines.value(0).trimmed().split(' ');
    answer.status = statusParts.value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0) {
            answer.headers.append(
                {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
        }
    }
    answer.body = buffer.mid(headerEnd + 4);
    if (!withBody) return answer;
    const qsizetype length = answer.Header("Content-Length").toLongLong();
    while (answer.body.size() < length && socket.waitForReadyRead(timeoutMs)) {
        answer.body += socket.readAll();
    }
    return answer;
}

// One request on a new connection from `from` (any local address) to `server`:`port`.
inline HttpAnswer Request(quint16 port, const QByteArray& method, const QByteArray& target,
                          const QList<QPair<QByteArray, QByteArray>>& headers = {},
                          const QHostAddress& server = QHostAddress::LocalHost,
                          const QHostAddress& from = QHostAddress()) {
    QTcpSocket socket;
    if (!from.isNull()) socket.bind(from);
    socket.connectToHost(server, port);
    if (!socket.waitForConnected(3000)) return {};
    QByteArray request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& [key, value] : headers) request += key + ": " + value + "\r\n";
    request += "\r\n";
    socket.write(request);
    socket.waitForBytesWritten(3000);
    return ReadAnswer(socket);
}

inline HttpAnswer Get(quint16 port, const QByteArray& target,
                      const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
    return Request(port, "GET", target, headers);
}

struct SseEvent {
    QByteArray id;
    QByteArray name;
    QJsonObject data;
};

// An open /api/v1/events stream.
class SseClient {
  public:
    explicit SseClient(quint16 port, const QByteArray& lastEventId = {},
                       const QHostAddress& from = QHostAddress()) {
        if (!from.isNull()) socket_.bind(from);
        socket_.connectToHost(QHostAddress::LocalHost, port);
        if (!socket_.waitForConnected(3000)) return;
        QByteArray request =
            "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\n"
            "Accept: text/event-stream\r\n";
        if (!lastEventId.isEmpty()) request += "Last-Event-ID: " + lastEventId + "\r\n";
        socket_.write(request + "\r\n");
        socket_.waitForBytesWritten(3000);
        answer_ = ReadAnswer(socket_, 5000, false);
        pending_ = answer_.body;
    }
    const HttpAnswer& Answer() const { return answer_; }
    QTcpSocket& Socket() { return socket_; }

    // Events until `count` of them arrived or nothing came for `timeoutMs`.
    QList<SseEvent> Take(int count, int timeoutMs = 5000) {
        QList<SseEvent> events;
        while (events.size() < count) {
            const qsizetype end = pending_.indexOf("\n\n");
            if (end < 0) {
                if (!socket_.waitForReadyRead(timeoutMs)) break;
                pending_ += socket_.readAll();
                continue;
            }
            const QByteArray block = pending_.left(end);
            pending_.remove(0, end + 2);
            SseEvent event;
            bool any = false;
            for (const QByteArray& line : block.split('\n')) {
                if (line.startsWith("id: ")) event.id = line.mid(4), any = true;
                if (line.startsWith("event: ")) event.name = line.mid(7), any = true;
                if (line.startsWith("data: "))
                    event.data = QJsonDocument::fromJson(line.mid(6)).object();
            }
            if (any && !event.name.isEmpty()) events.append(event);
        }
        return events;
    }

  private:
    QTcpSocket socket_;
    HttpAnswer answer_;
    QByteArray pending_;
};

}  // namespace waga::test
