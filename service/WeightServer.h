#pragma once
// The weight service's HTTP server. It lives on a thread of its own (WeightService moves it
// there): the window's thread only pushes events into its ServiceFeed. Qt's HTTP server parses
// the requests and routes them; GuardedTcpServer under it admits connections and request heads
// (limits, framing, Host, token) before any route sees them.
//
// Routes: GET / (the live page), /style.css, /app.js, /api/v1/weight, /api/v1/events (Server-Sent
// Events, resumable with Last-Event-ID), /api/v1/lines, /api/v1/health. HEAD answers as GET
// without the body, OPTIONS answers CORS preflight; other methods get 405, unknown paths 404,
// always with a JSON body. Every answer passes Reply(), which adds the shared headers.
//
// A resumed event stream first gets what it missed, in pages read as the client takes them, at
// most 1 MiB or 10,000 events: then one "gap" event names the first row it did not get (to be
// read from /api/v1/lines), and live events follow.

#include <QElapsedTimer>
#include <QHttpServer>
#include <QHttpServerResponder>
#include <QJsonObject>
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
    int catchUpEvents = 10000;          // a resuming client's catch-up, at most this many events
    qint64 catchUpBytes = 1024 * 1024;  // and this many bytes
    std::size_t ringEvents = 10000;     // recent events kept for clients and the page
    qint64 ringBytes = 32 << 20;        // and at most about this much of them
    qint64 linesBytes = 1024 * 1024;    // an /api/v1/lines page's rows, about
    int sameReadingIntervalMs = 1000;   // identical readings go out at most this often
    int heartbeatMs = 15000;            // a comment line to event-stream clients
};

class WeightServer final : public QObject {
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
    // What a flood causes now, in Polish ("" once it has been quiet for 30 s): told, never silent.
    void StrainChanged(const QString& text);

  private:
    using Status = QHttpServerResponder::StatusCode;
    struct Answer {
        Status status = Status::Ok;
        QByteArray type = "application/json; charset=utf-8";
        QByteArray body;
        HeaderList headers;
    };
    using Route = Answer (WeightServer::*)(const QHttpServerRequest&);
    struct StreamClient {
        QPointer<QTcpSocket> socket;
        std::unique_ptr<QHttpServerResponder> responder;
        bool live = false;         // gets each event as it comes
        std::int64_t cursor = 0;   // catching up: the last row sent
        qint64 caughtUpBytes = 0;  // catching up: what it got so far
        int caughtUpEvents = 0;
        bool feeding = false;
        qint64 written = 0;     // bytes handed to the socket
        qint64 taken = 0;       // of them, acknowledged by the client's system
        qint64 progressMs = 0;  // when it last took some (uptime_)
    };

    void DeclareRoutes();
    void Serve(const QHttpServerRequest& request, QHttpServerResponder& responder, Route route);
    void Reply(const QHttpServerRequest& request, QHttpServerResponder& responder,
               const Answer& answer);
    static Answer Error(Status status, const QString& message, HeaderList headers = {});

    Answer Weight(const QHttpServerRequest& request);
    Answer Lines(const QHttpServerRequest& request);
    Answer Health(const QHttpServerRequest& request);
    Answer Page(const QHttpServerRequest& request);
    Answer Style(const QHttpServerRequest& request);
    Answer Script(const QHttpServerRequest& request);
    Answer StreamHead(const QHttpServerRequest& request);
    void OpenStream(const QHttpServerRequest& request, QHttpServerResponder&& responder);
    void CatchUp(QTcpSocket* socket);
    // The journal's rows after the client's cursor, then the recent events not yet in it.
    QByteArray NextCatchUpPage(StreamClient& client);
    StreamClient* Client(QTcpSocket* socket);

    QJsonObject WeightJson() const;
    void Remember(const ServiceEvent& event);
    void Send(const QByteArray& messages);
    bool AnyLive() const;
    void FlushPending();
    // Writes to an event-stream client; one that takes nothing for streamStallMs goes.
    void Write(StreamClient& client, const QByteArray& bytes);
    void CheckStalls();
    void Drop(QTcpSocket* socket, const QString& cause);
    void Strain(const QString& cause);
    void QuietStrains();

    ServiceSettings settings_;
    WeightServerOptions options_;
    std::shared_ptr<ServiceFeed> feed_;
    JournalReader journal_;
    QHttpServer* http_ = nullptr;
    GuardedTcpServer* tcp_ = nullptr;

    std::deque<ServiceEvent> ring_;
    qint64 ringBytes_ = 0;
    std::optional<ServiceEvent> lastReading_;
    QString readout_;  // what the program's read-out shows
    QString port_;
    bool connected_ = false;

    std::vector<std::unique_ptr<StreamClient>> clients_;
    std::int64_t lastSentSeq_ = -1;
    QElapsedTimer sinceLastSent_;
    std::optional<ServiceEvent> pending_;
    QTimer coalesce_;
    QTimer heartbeat_;

    QHash<QString, qint64> strains_;  // cause -> when last seen (uptime_)
    QTimer strainQuiet_;
    QTimer stallCheck_;  // runs while bytes wait for an event-stream client

    QElapsedTimer uptime_;
    quint64 requests_ = 0;
    quint64 droppedClients_ = 0;
    quint64 gaps_ = 0;
};
