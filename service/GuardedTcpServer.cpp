#include "GuardedTcpServer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#define WAGA_SHUT_WR SD_SEND
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#define WAGA_SHUT_WR SHUT_WR
#endif

namespace {

constexpr qint64 kReadBufferBytes = 64 * 1024;
constexpr int kRejectLingerMs = 5000;
constexpr int kAcceptPauseMs = 200;
constexpr int kAcceptsPerTurn = 32;

QByteArray ReasonPhrase(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 411:
            return "Length Required";
        case 413:
            return "Content Too Large";
        case 421:
            return "Misdirected Request";
        case 429:
            return "Too Many Requests";
        case 431:
            return "Request Header Fields Too Large";
        default:
            return "Service Unavailable";
    }
}

// An answer written before (or instead of) the HTTP server's own: the JSON error, the shared
// headers, and the connection's end.
QByteArray RawAnswer(int status, const QString& message, const HeaderList& headers) {
    const QByteArray body = ErrorJson(status, message);
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) + ' ' + ReasonPhrase(status) +
                        "\r\nContent-Type: application/json; charset=utf-8\r\n";
    for (const auto& [key, value] : headers) answer += key + ": " + value + "\r\n";
    return answer + "Connection: close\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

// True when the head so far ends with an empty line after the request line.
bool HeadEnds(const QByteArray& head) { return head.endsWith("\n\n") || head.endsWith("\n\r\n"); }

// True when the head so far holds only empty lines (which may come before a request line).
bool OnlyEmptyLines(const QByteArray& head) {
    return std::all_of(head.begin(), head.end(), [](char c) { return c == '\r' || c == '\n'; });
}

}  // namespace

GuardedTcpServer::GuardedTcpServer(ConnectionLimits limits, GatePolicy policy, QObject* parent)
    : QTcpServer(parent),
      limits_(limits),
      policy_(std::move(policy)),
      admission_(limits_, !policy_.token.isEmpty(),
                 [this](ConnectionAdmission::Id id) { return BytesWaiting(id); }),
      throttle_(5, 4096, limits_.firstGuessWaitMs) {
    clock_.start();
}

GuardedTcpServer::~GuardedTcpServer() { delete acceptor_; }  // before the socket closes

bool GuardedTcpServer::Listen(const QHostAddress& address, quint16 port) {
    // Room for the connections a flood makes while the server is busy: a full queue would make a
    // client's connect wait a second for its retry.
    setListenBacklogSize(limits_.listenBacklog);
    if (!listen(address, port)) return false;
    // Connections are accepted here, at most kAcceptsPerTurn at a time: a flood that connects
    // as fast as it is taken would otherwise keep QTcpServer accepting without end, and no
    // request would ever be read.
    pauseAccepting();
    acceptor_ = new QSocketNotifier(socketDescriptor(), QSocketNotifier::Read);
    connect(acceptor_, &QSocketNotifier::activated, this, &GuardedTcpServer::AcceptSome);
    return true;
}

void GuardedTcpServer::AcceptSome() {
    acceptor_->setEnabled(false);  // one notifier for the socket at a time (see below)
    QString failure;
    for (int i = 0; i < kAcceptsPerTurn; ++i) {
#ifdef _WIN32
        const SOCKET accepted = ::accept(static_cast<SOCKET>(socketDescriptor()), nullptr, nullptr);
        if (accepted == INVALID_SOCKET) {
            const int error = WSAGetLastError();
            if (error != WSAEWOULDBLOCK && error != WSAECONNRESET && error != WSAEINTR) {
                failure = QStringLiteral("błąd %1").arg(error);
            }
            break;
        }
        const qintptr descriptor = static_cast<qintptr>(accepted);
#else
        const int descriptor = ::accept(static_cast<int>(socketDescriptor()), nullptr, nullptr);
        if (descriptor < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
                errno != ECONNABORTED) {
                failure = QString::fromLocal8Bit(std::strerror(errno));
            }
            break;
        }
        ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
#endif
        incomingConnection(descriptor);
        emit newConnection();
    }
    // Taking a connection lets QTcpServer accept on its own again: it must not.
    pauseAccepting();
    if (!failure.isEmpty()) {
        // Most often no descriptor is left: tried again after a pause, never given up.
        emit strained(QStringLiteral("system nie przyjmuje połączeń: ") + failure);
        QTimer::singleShot(kAcceptPauseMs, this, [this] { acceptor_->setEnabled(true); });
        return;
    }
    acceptor_->setEnabled(true);
}

void GuardedTcpServer::incomingConnection(qintptr descriptor) {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
#ifdef _WIN32
        ::closesocket(static_cast<SOCKET>(descriptor));
#else
        ::close(static_cast<int>(descriptor));
#endif
        return;
    }
    socket->setReadBufferSize(kReadBufferBytes);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    Guard guard;
    guard.id = nextId_++;
    guard.client = ClientKey(socket->peerAddress());
    guard.localName = HostLiteral(socket->localAddress());
    guard.loopback = IsLoopbackClient(socket->peerAddress());
    guard.timer = new QTimer(socket);
    guard.timer->setSingleShot(true);
    connect(guard.timer, &QTimer::timeout, socket, [this, socket] {
        if (!guards_.value(socket).rejected) ++timedOut_;
        socket->abort();
    });
    guard.timer->start(limits_.headTimeoutMs);
    const ConnectionAdmission::Decision decision = admission_.Open(guard.id, guard.client);
    sockets_.insert(guard.id, socket);
    guards_.insert(socket, guard);
    connect(socket, &QObject::destroyed, this, &GuardedTcpServer::Forget);
    // Connected before the HTTP server's own slot, so the gate sees every byte first.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    addPendingConnection(socket);
    if (!decision.close.empty()) {
        Close(decision.close);
        emit strained(QStringLiteral("za dużo połączeń bez żądania: najstarsze są zamykane"));
    }
}

void GuardedTcpServer::OnReadyRead(QTcpSocket* socket) {
    auto it = guards_.find(socket);
    if (it == guards_.end()) return;
    Guard& guard = *it;
    if (guard.rejected || guard.streaming || guard.evicted) {
        socket->readAll();  // nothing more is wanted from this client
        return;
    }
    const QByteArray chunk = socket->peek(socket->bytesAvailable());
    int requests = 0;
    qsizetype at = 0;
    while (at < chunk.size()) {
        if (guard.bodyLeft > 0) {  // a body the head announced: passed on as it is
            const qint64 take = std::min<qint64>(guard.bodyLeft, chunk.size() - at);
            guard.bodyLeft -= take;
            at += take;
            continue;
        }
        const qsizetype lineEnd = chunk.indexOf('\n', at);
        const qsizetype next = lineEnd < 0 ? chunk.size() : lineEnd + 1;
        guard.head.append(chunk.constData() + at, next - at);
        at = next;
        if (guard.head.size() > limits_.maxHeaderBytes) {
            Reject(socket, guard, 431, QStringLiteral("nagłówki ponad 16 KiB"));
            return;
        }
        if (lineEnd < 0) break;
        if (OnlyEmptyLines(guard.head)) {
            guard.head.clear();
        } else if (HeadEnds(guard.head) && !CheckHead(socket, guard, ++requests)) {
            return;
        }
    }
}

bool GuardedTcpServer::CheckHead(QTcpSocket* socket, Guard& guard, int requestsInRead) {
    const std::optional<RequestHead> head = ParseRequestHead(guard.head);
    guard.head.clear();
    if (!head) {
        Reject(socket, guard, 400, QStringLiteral("to nie jest żądanie HTTP/1.1"));
        return false;
    }
    const QList<QByteArray> origins = head->Values("Origin");
    const QByteArray origin = origins.size() == 1 ? origins.front() : QByteArray();
    if (requestsInRead > limits_.maxRequestsAtOnce ||
        socket->bytesToWrite() > limits_.maxUnsentBytes) {
        Reject(socket, guard, 429, QStringLiteral("za dużo żądań bez odczytu odpowiedzi"), origin);
        return false;
    }
    const bool needsToken = !guard.loopback && head->method != "OPTIONS";
    if (needsToken) {
        if (const qint64 waitMs = throttle_.WaitMs(guard.client, clock_.elapsed()); waitMs > 0) {
            Reject(socket, guard, 429, QStringLiteral("za dużo błędnych tokenów; spróbuj później"),
                   origin, {{"Retry-After", QByteArray::number((waitMs + 999) / 1000)}});
            return false;
        }
    }
    HeadRules rules;
    rules.ownNames = policy_.ownNames;
    rules.ownNames << guard.localName;
    rules.port = serverPort();
    rules.token = policy_.token;
    rules.loopbackClient = guard.loopback;
    rules.maxBodyBytes = limits_.maxBodyBytes;
    const HeadVerdict verdict = CheckRequestHead(*head, rules);
    if (verdict.wrongToken) throttle_.Failed(guard.client, clock_.elapsed());
    if (verdict.rightToken) throttle_.Succeeded(guard.client);
    if (verdict.refusal) {
        Reject(socket, guard, verdict.refusal->status, verdict.refusal->message, origin,
               verdict.refusal->headers);
        return false;
    }
    guard.bodyLeft = verdict.bodyBytes;
    guard.timer->start(limits_.requestTimeoutMs);  // its body; RequestDone starts it again
    const bool tokenHolder = verdict.rightToken;
    const ConnectionAdmission::Decision decision = admission_.Heard(guard.id, tokenHolder);
    if (!decision.close.empty()) {
        Close(decision.close);  // never this one: `guard` stays valid
        emit strained(
            tokenHolder
                ? QStringLiteral("za dużo połączeń: najstarsze bezczynne są zamykane")
                : QStringLiteral("za dużo połączeń bez tokenu: najstarsze bezczynne są zamykane"));
    }
    return true;
}

void GuardedTcpServer::Reject(QTcpSocket* socket, Guard& guard, int status, const QString& message,
                              const QByteArray& origin, const HeaderList& extra) {
    ++refusedRequests_;
    guard.rejected = true;
    guard.timer->stop();
    admission_.Forget(guard.id);  // from now on it holds no place
    socket->readAll();  // taken before the HTTP server's slot runs: it never sees the request
    socket->write(RawAnswer(status, message, SharedHeaders(origin, policy_.origins) + extra));
    socket->flush();
    Linger(socket);
}

// The answer goes out, then the connection is half-closed: what the client still sends is read
// and dropped, so it is not reset before it reads the answer. It is cut off after a short while,
// or at once when too many refused connections linger already.
void GuardedTcpServer::Linger(QTcpSocket* socket) {
    if (lingering_ >= limits_.maxLingering) {
        socket->abort();
        return;
    }
    ++lingering_;
    connect(socket, &QObject::destroyed, this, [this] { --lingering_; });
    ::shutdown(static_cast<int>(socket->socketDescriptor()), WAGA_SHUT_WR);
    QTimer::singleShot(kRejectLingerMs, socket, [socket] { socket->abort(); });
}

// True when the system holds bytes from the client that the event loop has not read yet.
bool GuardedTcpServer::BytesWaiting(ConnectionAdmission::Id id) const {
    const QTcpSocket* socket = sockets_.value(id);
    if (socket == nullptr) return false;
    int waiting = 0;
#ifdef _WIN32
    u_long count = 0;
    if (ioctlsocket(static_cast<SOCKET>(socket->socketDescriptor()), FIONREAD, &count) == 0) {
        waiting = static_cast<int>(count);
    }
#else
    if (ioctl(static_cast<int>(socket->socketDescriptor()), FIONREAD, &waiting) != 0) waiting = 0;
#endif
    return waiting > 0;
}

// Connections closed to make room: an idle one with nothing unsent ends as usual, any other is
// cut off.
void GuardedTcpServer::Close(const std::vector<ConnectionAdmission::Id>& ids) {
    for (const ConnectionAdmission::Id id : ids) {
        QTcpSocket* socket = sockets_.value(id);
        if (socket == nullptr) continue;
        ++evicted_;
        auto it = guards_.find(socket);
        if (it != guards_.end()) {
            it->evicted = true;
            it->timer->stop();
        }
        if (socket->bytesToWrite() == 0 && (it == guards_.end() || !it->streaming)) {
            socket->disconnectFromHost();
        } else {
            socket->abort();
        }
    }
}

void GuardedTcpServer::RequestDone(QTcpSocket* socket) {
    auto it = guards_.find(socket);
    if (it == guards_.end() || it->rejected || it->streaming) return;
    it->timer->start(limits_.requestTimeoutMs);
}

ConnectionAdmission::Verdict GuardedTcpServer::AdmitStream(QTcpSocket* socket) {
    auto it = guards_.find(socket);
    if (it == guards_.end() || it->evicted) return ConnectionAdmission::Verdict::AllFull;
    if (it->streaming) return ConnectionAdmission::Verdict::Admitted;
    const ConnectionAdmission::Id id = it->id;
    const ConnectionAdmission::Decision decision = admission_.Stream(id);
    if (decision.verdict != ConnectionAdmission::Verdict::Admitted) {
        ++refused_;
        emit strained(decision.verdict == ConnectionAdmission::Verdict::ClientFull
                          ? QStringLiteral("za dużo strumieni zdarzeń z jednego adresu")
                      : decision.verdict == ConnectionAdmission::Verdict::TokenlessFull
                          ? QStringLiteral("za dużo strumieni zdarzeń bez tokenu")
                          : QStringLiteral("za dużo strumieni zdarzeń"));
        return decision.verdict;
    }
    it->streaming = true;
    it->timer->stop();
    if (!decision.close.empty()) {
        Close(decision.close);
        emit strained(QStringLiteral("strumienie bez tokenu ustępują miejsca posiadaczom tokenu"));
    }
    return decision.verdict;
}

void GuardedTcpServer::Forget(QObject* socket) {
    auto it = guards_.find(socket);
    if (it == guards_.end()) return;
    admission_.Forget(it->id);
    sockets_.remove(it->id);
    guards_.erase(it);
}
