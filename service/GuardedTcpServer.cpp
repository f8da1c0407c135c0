#include "GuardedTcpServer.h"

#ifdef _WIN32
#include <winsock2.h>
#define WAGA_SHUT_WR SD_SEND
#else
#include <sys/socket.h>
#define WAGA_SHUT_WR SHUT_WR
#endif

namespace {

constexpr qint64 kReadBufferBytes = 64 * 1024;
constexpr int kRejectLingerMs = 5000;

QByteArray RawResponse(const QByteArray& statusLine, const QByteArray& jsonError) {
    const QByteArray body = "{\"error\":\"" + jsonError + "\"}";
    return "HTTP/1.1 " + statusLine +
           "\r\nContent-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n"
           "Connection: close\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

}  // namespace

GuardedTcpServer::GuardedTcpServer(ConnectionLimits limits, QObject* parent)
    : QTcpServer(parent), limits_(limits) {}

void GuardedTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setReadBufferSize(kReadBufferBytes);
    if (guards_.size() >= limits_.maxConnections) {
        ++refused_;
        // Not handed to the HTTP server: answered here, then closed.
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        socket->write(RawResponse("503 Service Unavailable", "za dużo połączeń"));
        socket->flush();
        socket->disconnectFromHost();
        QTimer::singleShot(kRejectLingerMs, socket, [socket] { socket->abort(); });
        return;
    }
    Guard guard;
    guard.timer = new QTimer(socket);
    guard.timer->setSingleShot(true);
    guard.timer->setInterval(limits_.requestTimeoutMs);
    connect(guard.timer, &QTimer::timeout, socket, [this, socket] {
        if (!guards_.value(socket).rejected) ++timedOut_;
        socket->abort();
    });
    guard.timer->start();
    guards_.insert(socket, guard);
    connect(socket, &QObject::destroyed, this, &GuardedTcpServer::Forget);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // Connected before the HTTP server's own slot, so the limits see every byte first.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    addPendingConnection(socket);
}

void GuardedTcpServer::OnReadyRead(QTcpSocket* socket) {
    auto it = guards_.find(socket);
    if (it == guards_.end()) return;
    Guard& guard = *it;
    if (guard.rejected || guard.streaming) {
        socket->readAll();  // nothing more is wanted from this client
        return;
    }
    const QByteArray chunk = socket->peek(socket->bytesAvailable());
    static constexpr char kEnd[] = "\r\n\r\n";
    for (const char c : chunk) {
        ++guard.headerBytes;
        if (c == kEnd[guard.endMatch]) {
            if (++guard.endMatch == 4) {  // the header is complete; the next one starts
                guard.endMatch = 0;
                guard.headerBytes = 0;
            }
        } else {
            guard.endMatch = c == '\r' ? 1 : 0;
        }
        if (guard.headerBytes > limits_.maxHeaderBytes) {
            ++headerTooLarge_;
            Reject(socket, "431 Request Header Fields Too Large", "nagłówki ponad 16 KiB");
            return;
        }
    }
}

void GuardedTcpServer::Reject(QTcpSocket* socket, const QByteArray& statusLine,
                              const QByteArray& jsonError) {
    Guard& guard = guards_[socket];
    guard.rejected = true;
    socket->readAll();  // taken before the HTTP server's slot runs: it never sees the rest
    socket->write(RawResponse(statusLine, jsonError));
    socket->flush();
    // Half-close: the answer goes out, and what the client still sends is read and dropped,
    // so it is not reset before it reads the answer. It is cut off after a short while.
    ::shutdown(static_cast<int>(socket->socketDescriptor()), WAGA_SHUT_WR);
    guard.timer->start(kRejectLingerMs);
}

void GuardedTcpServer::RequestDone(QTcpSocket* socket) {
    auto it = guards_.find(socket);
    if (it == guards_.end() || it->rejected) return;
    it->timer->start(limits_.requestTimeoutMs);
}

void GuardedTcpServer::MarkStreaming(QTcpSocket* socket) {
    auto it = guards_.find(socket);
    if (it == guards_.end()) return;
    it->streaming = true;
    it->timer->stop();
}

void GuardedTcpServer::Forget(QObject* socket) { guards_.remove(socket); }
