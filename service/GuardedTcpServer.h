#pragma once
// The listening socket under the HTTP server, with the limits the HTTP module lacks: at most
// 256 open connections (the rest get 503), request headers of at most 16 KiB (431), a request
// must be complete within 10 s of the connection or of the previous request (else closed), and
// a bounded read buffer. Event-stream connections are exempt from the time limit once marked.

#include <QHash>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

struct ConnectionLimits {
    int maxConnections = 256;
    qint64 maxHeaderBytes = 16 * 1024;
    int requestTimeoutMs = 10000;
};

class GuardedTcpServer final : public QTcpServer {
    Q_OBJECT
  public:
    explicit GuardedTcpServer(ConnectionLimits limits, QObject* parent = nullptr);

    // A complete request arrived on `socket`: its time limit starts again.
    void RequestDone(QTcpSocket* socket);
    // `socket` now carries an event stream: no time limit, nothing more is read from it.
    void MarkStreaming(QTcpSocket* socket);

    int OpenConnections() const { return static_cast<int>(guards_.size()); }
    quint64 Refused() const { return refused_; }
    quint64 TimedOut() const { return timedOut_; }
    quint64 HeaderTooLarge() const { return headerTooLarge_; }

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    struct Guard {
        QTimer* timer = nullptr;
        qint64 headerBytes = 0;  // bytes of the request header seen so far
        int endMatch = 0;        // how much of "\r\n\r\n" the last bytes matched
        bool rejected = false;
        bool streaming = false;
    };
    void OnReadyRead(QTcpSocket* socket);
    void Reject(QTcpSocket* socket, const QByteArray& statusLine, const QByteArray& jsonError);
    void Forget(QObject* socket);

    ConnectionLimits limits_;
    QHash<QObject*, Guard> guards_;
    quint64 refused_ = 0;
    quint64 timedOut_ = 0;
    quint64 headerTooLarge_ = 0;
};
