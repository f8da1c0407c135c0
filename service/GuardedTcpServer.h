#pragma once
// The listening socket under the HTTP server: the gate every connection and every request head
// passes before a route sees it, with the limits the HTTP module lacks.
// - Connections: at most 256 ordinary ones (the rest get 503) and 32 from one client address
//   (429). Event streams are counted apart (256, 8 from one address), so a full stream quota
//   never blocks an ordinary request.
// - Each request head, as soon as it is complete: at most 16 KiB (431); read as HTTP/1.x (400);
//   sound framing, a Host that names the service, the token from other computers
//   (CheckRequestHead: 400, 411, 413, 421, 401). A client whose wrong tokens repeat waits
//   (GuessThrottle: 429 with Retry-After). A refused request is answered here, its connection
//   half-closed and forgotten by the limits at once, so it holds no place.
// - A request must be complete within 10 s of the connection or of the previous answer (else
//   closed); a client that asks again while more than 1 MiB of its answers are unread, or sends
//   more than 16 requests at once, is cut off (429).

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "ServiceRules.h"

struct ConnectionLimits {
    int maxConnections = 256;
    int maxConnectionsPerClient = 32;
    int maxStreams = 256;
    int maxStreamsPerClient = 8;
    qint64 maxHeaderBytes = 16 * 1024;
    qint64 maxBodyBytes = 64 * 1024;
    int requestTimeoutMs = 10000;
    int maxRequestsAtOnce = 16;
    qint64 maxUnsentBytes = 1024 * 1024;  // also what an event-stream client may leave unread
    int maxLingering = 512;               // refused connections still being told why
    int firstGuessWaitMs = 1000;          // after five wrong tokens; doubled with each more
};

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

    // A request on `socket` was answered: its time limit starts again.
    void RequestDone(QTcpSocket* socket);
    // `socket` asks to carry an event stream. Admitted, it leaves the ordinary connections'
    // count for the streams', and has no time limit; nothing more is read from it.
    enum class StreamAdmission { Admitted, ClientFull, AllFull };
    StreamAdmission AdmitStream(QTcpSocket* socket);

    int OpenConnections() const { return connections_; }
    int OpenStreams() const { return streams_; }
    quint64 Refused() const { return refused_; }                  // connections turned away
    quint64 RefusedRequests() const { return refusedRequests_; }  // heads answered here
    quint64 TimedOut() const { return timedOut_; }

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    struct Guard {
        QTimer* timer = nullptr;
        QString client;     // ClientKey of the peer
        QString localName;  // HostLiteral of the address the client reached
        bool loopback = false;
        QByteArray head;      // the request head read so far
        qint64 bodyLeft = 0;  // bytes of the current request's body still to come
        bool counted = true;  // still in the limits' counts
        bool rejected = false;
        bool streaming = false;
    };
    struct Counts {
        int connections = 0;
        int streams = 0;
    };
    void OnReadyRead(QTcpSocket* socket);
    // Answers a complete head; false when the connection was refused.
    bool CheckHead(QTcpSocket* socket, Guard& guard, int requestsInRead);
    void Reject(QTcpSocket* socket, Guard& guard, int status, const QString& message,
                const QByteArray& origin = {}, const HeaderList& extra = {});
    void Linger(QTcpSocket* socket);
    void Release(Guard& guard);
    void Forget(QObject* socket);

    ConnectionLimits limits_;
    GatePolicy policy_;
    QHash<QObject*, Guard> guards_;
    QHash<QString, Counts> perClient_;
    GuessThrottle throttle_;
    QElapsedTimer clock_;
    int connections_ = 0;
    int streams_ = 0;
    int lingering_ = 0;
    quint64 refused_ = 0;
    quint64 refusedRequests_ = 0;
    quint64 timedOut_ = 0;
};
