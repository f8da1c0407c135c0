#pragma once
// The listening socket under the HTTP server: the gate every connection and every request head
// passes before a route sees it, with the limits the HTTP module lacks.
// - Connections and event streams: which are kept when there are too many is ConnectionAdmission's
//   decision (a new connection has 2 s for its whole head; idle ones make way; clients without
//   the token hold a share; a token holder always finds a place). Those it names are closed here.
// - Each request head, as soon as it is complete: at most 16 KiB (431); read as HTTP/1.x (400);
//   sound framing, a Host that names the service, the token from other computers
//   (CheckRequestHead: 400, 411, 413, 421, 401). A client whose wrong tokens repeat waits
//   (GuessThrottle: 429 with Retry-After). A refused request is answered here, its connection
//   half-closed and forgotten by the limits at once, so it holds no place.
// - A later request must be complete within 10 s of the previous answer (else closed); a client
//   that asks again while more than 1 MiB of its answers are unread, or sends more than 16
//   requests at once, is cut off (429).
// - Connections are accepted a few at a time between reading requests, so that a flood never
//   keeps the server from reading. One the system cannot accept (no file descriptor left) is
//   told, and accepting starts again after a pause.

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "ConnectionAdmission.h"
#include "ServiceRules.h"

// Who the service is and who may ask: its own Host names (OwnHostNames), its token, and the
// browser origins that get CORS headers (Zrodla).
struct GatePolicy {
    QStringList ownNames;
    QByteArray token;
    QString origins;
};

class GuardedTcpServer final : public QTcpServer {
    Q_OBJECT
  public:
    GuardedTcpServer(ConnectionLimits limits, GatePolicy policy, QObject* parent = nullptr);
    ~GuardedTcpServer() override;
    // listen() with the gate's own accepting; false as listen().
    bool Listen(const QHostAddress& address, quint16 port);

    // A request on `socket` was answered: its time limit starts again.
    void RequestDone(QTcpSocket* socket);
    // `socket` asks to carry an event stream. Admitted, it leaves the ordinary connections'
    // count for the streams', and has no time limit; nothing more is read from it.
    ConnectionAdmission::Verdict AdmitStream(QTcpSocket* socket);
    const ConnectionLimits& Limits() const { return limits_; }

    int OpenConnections() const { return admission_.Ordinary(); }
    int OpeningConnections() const { return admission_.Opening(); }
    int OpenStreams() const { return admission_.Streams(); }
    quint64 Refused() const { return refused_; }                  // streams turned away
    quint64 Evicted() const { return evicted_; }                  // closed to make room
    quint64 RefusedRequests() const { return refusedRequests_; }  // heads answered here
    quint64 TimedOut() const { return timedOut_; }

  signals:
    // Something a flood causes: `cause` says what, in Polish (the same text for the same cause).
    void strained(const QString& cause);

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    struct Guard {
        ConnectionAdmission::Id id = 0;
        QTimer* timer = nullptr;
        QString client;     // ClientKey of the peer
        QString localName;  // HostLiteral of the address the client reached
        bool loopback = false;
        QByteArray head;      // the request head read so far
        qint64 bodyLeft = 0;  // bytes of the current request's body still to come
        bool rejected = false;
        bool streaming = false;
        bool evicted = false;
    };
    void OnReadyRead(QTcpSocket* socket);
    // Answers a complete head; false when the connection was refused.
    bool CheckHead(QTcpSocket* socket, Guard& guard, int requestsInRead);
    void Reject(QTcpSocket* socket, Guard& guard, int status, const QString& message,
                const QByteArray& origin = {}, const HeaderList& extra = {});
    void Linger(QTcpSocket* socket);
    void Close(const std::vector<ConnectionAdmission::Id>& ids);
    bool BytesWaiting(ConnectionAdmission::Id id) const;
    void Forget(QObject* socket);
    void AcceptSome();

    ConnectionLimits limits_;
    GatePolicy policy_;
    QHash<QObject*, Guard> guards_;
    QHash<ConnectionAdmission::Id, QTcpSocket*> sockets_;
    ConnectionAdmission admission_;
    ConnectionAdmission::Id nextId_ = 1;
    GuessThrottle throttle_;
    QElapsedTimer clock_;
    QSocketNotifier* acceptor_ = nullptr;
    int lingering_ = 0;
    quint64 refused_ = 0;
    quint64 evicted_ = 0;
    quint64 refusedRequests_ = 0;
    quint64 timedOut_ = 0;
};
