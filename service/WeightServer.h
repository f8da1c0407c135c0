#pragma once
// The weight service's HTTP server. It lives on a thread of its own (WeightService moves it
// there): the window's thread only pushes events into its ServiceFeed. Qt's HTTP module parses
// the requests; GuardedTcpServer under it enforces the connection limits.
//
// Routes: GET / (the live page), /style.css, /app.js, /api/v1/weight, /api/v1/events (Server-Sent
// Events, resumable with Last-Event-ID), /api/v1/lines, /api/v1/health. OPTIONS answers CORS
// preflight; other methods get 405, unknown paths 404, always with a JSON body.

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "AddOnSettings.h"
#include "GuardedTcpServer.h"
#include "JournalReader.h"
#include "ServiceEvent.h"
#include "WeightServiceSink.h"

struct WeightServerOptions {
    ConnectionLimits limits;
    qint64 maxUnsentBytes = 1024 * 1024;  // an event-stream client past this is dropped
    int catchUpRows = 10000;              // rows a resuming client gets from the journal
    std::size_t ringEvents = 10000;       // recent events kept for clients and the page
    qint64 ringBytes = 32 << 20;          // and at most about this much of them
    qint64 catchUpBytes = 16 << 20;       // a resuming client's journal rows, at most
    int sameReadingIntervalMs = 1000;     // identical readings go out at most this often
    int heartbeatMs = 15000;              // a comment line to event-stream clients
};

class WeightServer final : public QAbstractHttpServer {
    Q_OBJECT
  public:
    WeightServer(ServiceSettings settings, QString journalPath, std::shared_ptr<ServiceFeed> feed,
                 WeightServerOptions options = {});
    ~WeightServer() override;

    // Binds the address and port of the settings; emits Listening or Failed. Call on the
    // server's thread.
    Q_INVOKABLE void Start();
    // Takes every event waiting in the feed.
    Q_INVOKABLE void Drain();

  signals:
    void Listening(const QString& url);
    void Failed(const QString& cause);

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

  private:
    struct StreamClient {
        QPointer<QTcpSocket> socket;
        std::unique_ptr<QHttpServerResponder> responder;
        // Unsent bytes of its catch-up, allowed on top of the limit until they are sent.
        qint64 allowance = 0;
    };
    using Status = QHttpServerResponder::StatusCode;

    void Reply(const QHttpServerRequest& request, QTcpSocket* socket, Status status,
               const QByteArray& body, const QByteArray& type = "application/json; charset=utf-8",
               const std::vector<std::pair<QByteArray, QByteArray>>& extra = {});
    void ReplyError(const QHttpServerRequest& request, QTcpSocket* socket, Status status,
                    const QString& message,
                    const std::vector<std::pair<QByteArray, QByteArray>>& extra = {});
    void ServeWeight(const QHttpServerRequest& request, QTcpSocket* socket);
    void ServeLines(const QHttpServerRequest& request, QTcpSocket* socket);
    void ServeHealth(const QHttpServerRequest& request, QTcpSocket* socket);
    void ServePage(const QHttpServerRequest& request, QTcpSocket* socket);
    void ServeResource(const QHttpServerRequest& request, QTcpSocket* socket, const QString& name,
                       const QByteArray& type);
    void OpenStream(const QHttpServerRequest& request, QTcpSocket* socket);

    QJsonObject WeightJson() const;
    void Remember(const ServiceEvent& event);
    void Send(const QByteArray& messages);
    void FlushPending();

    ServiceSettings settings_;
    WeightServerOptions options_;
    std::shared_ptr<ServiceFeed> feed_;
    JournalReader journal_;
    GuardedTcpServer* tcp_ = nullptr;

    std::deque<ServiceEvent> ring_;
    qint64 ringBytes_ = 0;
    std::optional<ServiceEvent> lastReading_;
    QString port_;
    bool connected_ = false;

    std::vector<StreamClient> clients_;
    std::int64_t lastSentSeq_ = -1;
    bool lastSentReading_ = false;
    QElapsedTimer sinceLastSent_;
    std::optional<ServiceEvent> pending_;
    QTimer coalesce_;
    QTimer heartbeat_;

    QElapsedTimer uptime_;
    quint64 requests_ = 0;
    quint64 droppedClients_ = 0;
};
