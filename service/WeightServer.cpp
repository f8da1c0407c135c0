#include "WeightServer.h"

#include <QDateTime>
#include <QFile>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>

#include "ServiceRules.h"

namespace {

constexpr int kPageReports = 20;
constexpr std::int64_t kTrendMs = 5 * 60 * 1000;
constexpr int kTrendPoints = 600;

QByteArray Json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray HeaderValue(const QHttpServerRequest& request, const QByteArray& name) {
    for (const auto& [key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
    }
    return {};
}

QString HtmlEscaped(const QString& text) { return text.toHtmlEscaped(); }

std::int64_t NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// About what an event holds in memory.
qint64 EventBytes(const ServiceEvent& event) {
    return 128 + 2 * (event.text.size() + event.reading.size() + event.unit.size()) +
           event.raw.size();
}

QString UrlOf(const QHostAddress& address, quint16 port) {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return QStringLiteral("http://%1:%2/").arg(host).arg(port);
}

}  // namespace

WeightServer::WeightServer(ServiceSettings settings, QString journalPath,
                           std::shared_ptr<ServiceFeed> feed, WeightServerOptions options)
    : settings_(std::move(settings)),
      options_(options),
      feed_(std::move(feed)),
      journal_(std::move(journalPath)),
      coalesce_(this),
      heartbeat_(this) {
    coalesce_.setSingleShot(true);
    connect(&coalesce_, &QTimer::timeout, this, &WeightServer::FlushPending);
    heartbeat_.setInterval(options_.heartbeatMs);
    connect(&heartbeat_, &QTimer::timeout, this, [this] { Send(": \n\n"); });
    uptime_.start();
    sinceLastSent_.start();
}

WeightServer::~WeightServer() {
    for (StreamClient& client : clients_) {
        if (client.socket) client.socket->abort();
    }
}

void WeightServer::Start() {
    const QString refusal = StartRefusal(settings_);
    if (!refusal.isEmpty()) {
        emit Failed(refusal);
        return;
    }
    const QHostAddress address = ListenAddress(settings_);
    tcp_ = new GuardedTcpServer(options_.limits, this);
    if (!tcp_->listen(address, static_cast<quint16>(settings_.port))) {
        const QString cause = tcp_->serverError() == QAbstractSocket::AddressInUseError
                                  ? QStringLiteral("port %1 jest zajęty").arg(settings_.port)
                                  : tcp_->errorString();
        delete tcp_;
        tcp_ = nullptr;
        emit Failed(cause);
        return;
    }
    bind(tcp_);
    emit Listening(UrlOf(address, tcp_->serverPort()));
}

void WeightServer::Drain() {
    std::vector<ServiceEvent> events = feed_->TakeAll();
    QByteArray messages;
    for (ServiceEvent& event : events) {
        Remember(event);
        const bool reading = event.kind == ServiceEvent::Kind::Reading;
        if (reading && lastSentReading_ && event.seq == lastSentSeq_ &&
            sinceLastSent_.elapsed() < options_.sameReadingIntervalMs) {
            // The same run of identical readings: its latest state goes out within a second.
            pending_ = std::move(event);
            if (!coalesce_.isActive()) {
                coalesce_.start(
                    static_cast<int>(options_.sameReadingIntervalMs - sinceLastSent_.elapsed()));
            }
            continue;
        }
        if (pending_ && !clients_.empty()) messages += SseMessage(*pending_);
        pending_.reset();
        coalesce_.stop();
        if (!clients_.empty()) messages += SseMessage(event);
        lastSentSeq_ = event.seq;
        lastSentReading_ = reading;
        sinceLastSent_.restart();
    }
    if (!messages.isEmpty()) Send(messages);
}

void WeightServer::FlushPending() {
    if (!pending_) return;
    Send(SseMessage(*pending_));
    lastSentSeq_ = pending_->seq;
    lastSentReading_ = true;
    sinceLastSent_.restart();
    pending_.reset();
}

void WeightServer::Remember(const ServiceEvent& event) {
    if (event.kind == ServiceEvent::Kind::Status) {
        port_ = event.port;
        connected_ = event.connected;
    } else {
        if (event.kind == ServiceEvent::Kind::Reading) lastReading_ = event;
        port_ = event.port;
        connected_ = true;
    }
    if (!ring_.empty() && ring_.back().seq == event.seq && ring_.back().kind == event.kind &&
        event.kind == ServiceEvent::Kind::Reading) {
        ringBytes_ += EventBytes(event) - EventBytes(ring_.back());
        ring_.back() = event;  // a run of identical readings is one row
        return;
    }
    ring_.push_back(event);
    ringBytes_ += EventBytes(event);
    while (ring_.size() > 1 &&
           (ring_.size() > options_.ringEvents || ringBytes_ > options_.ringBytes)) {
        ringBytes_ -= EventBytes(ring_.front());
        ring_.pop_front();
    }
}

void WeightServer::Send(const QByteArray& messages) {
    for (auto it = clients_.begin(); it != clients_.end();) {
        QTcpSocket* socket = it->socket.data();
        if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState) {
            it = clients_.erase(it);
            continue;
        }
        it->allowance = std::min(it->allowance, socket->bytesToWrite());
        if (socket->bytesToWrite() > options_.maxUnsentBytes + it->allowance) {
            // A client that does not read: dropped rather than buffered without end.
            ++droppedClients_;
            it = clients_.erase(it);
            socket->abort();
            continue;
        }
        it->responder->writeBody(messages);
        ++it;
    }
    if (clients_.empty()) heartbeat_.stop();
}

bool WeightServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    ++requests_;
    if (tcp_) tcp_->RequestDone(socket);
    const QString path = request.url().path();
    const auto method = request.method();
    const bool known =
        path == QLatin1String("/") || path == QLatin1String("/index.html") ||
        path == QLatin1String("/style.css") || path == QLatin1String("/app.js") ||
        path == QLatin1String("/api/v1/weight") || path == QLatin1String("/api/v1/events") ||
        path == QLatin1String("/api/v1/lines") || path == QLatin1String("/api/v1/health");
    if (known && method == QHttpServerRequest::Method::Options) {
        Reply(request, socket, Status::NoContent, {}, {},
              {{"Access-Control-Allow-Methods", "GET, OPTIONS"},
               {"Access-Control-Allow-Headers", "Authorization, Last-Event-ID"},
               {"Access-Control-Max-Age", "600"}});
        return true;
    }
    if (!IsLoopbackClient(request.remoteAddress()) &&
        !BearerMatches(HeaderValue(request, "Authorization"),
                       QByteArray::fromStdString(settings_.token))) {
        ReplyError(request, socket, Status::Unauthorized, QStringLiteral("wymagany token"),
                   {{"WWW-Authenticate", "Bearer"}});
        return true;
    }
    if (!known) {
        ReplyError(request, socket, Status::NotFound, QStringLiteral("nie ma takiej ścieżki"));
        return true;
    }
    if (method != QHttpServerRequest::Method::Get) {
        ReplyError(request, socket, Status::MethodNotAllowed,
                   QStringLiteral("dozwolone są tylko GET i OPTIONS"), {{"Allow", "GET, OPTIONS"}});
        return true;
    }
    if (path == QLatin1String("/api/v1/weight")) {
        ServeWeight(request, socket);
    } else if (path == QLatin1String("/api/v1/events")) {
        OpenStream(request, socket);
    } else if (path == QLatin1String("/api/v1/lines")) {
        ServeLines(request, socket);
    } else if (path == QLatin1String("/api/v1/health")) {
        ServeHealth(request, socket);
    } else if (path == QLatin1String("/style.css")) {
        ServeResource(request, socket, QStringLiteral(":/waga/style.css"),
                      "text/css; charset=utf-8");
    } else if (path == QLatin1String("/app.js")) {
        ServeResource(request, socket, QStringLiteral(":/waga/app.js"),
                      "text/javascript; charset=utf-8");
    } else {
        ServePage(request, socket);
    }
    return true;
}

void WeightServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    ReplyError(request, socket, Status::NotFound, QStringLiteral("nie ma takiej ścieżki"));
}

void WeightServer::Reply(const QHttpServerRequest& request, QTcpSocket* socket, Status status,
                         const QByteArray& body, const QByteArray& type,
                         const std::vector<std::pair<QByteArray, QByteArray>>& extra) {
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(status);
    if (!type.isEmpty()) responder.writeHeader("Content-Type", type);
    responder.writeHeader("Content-Length", QByteArray::number(body.size()));
    responder.writeHeader("Cache-Control", "no-store");
    if (const auto origin = AllowedOrigin(HeaderValue(request, "Origin"),
                                          QString::fromStdString(settings_.origins))) {
        responder.writeHeader("Access-Control-Allow-Origin", *origin);
        responder.writeHeader("Vary", "Origin");
    }
    for (const auto& [key, value] : extra) responder.writeHeader(key, value);
    responder.writeBody(body);
}

void WeightServer::ReplyError(const QHttpServerRequest& request, QTcpSocket* socket, Status status,
                              const QString& message,
                              const std::vector<std::pair<QByteArray, QByteArray>>& extra) {
    QJsonObject error;
    error.insert("error", message);
    error.insert("status", static_cast<int>(status));
    Reply(request, socket, status, Json(error), "application/json; charset=utf-8", extra);
}

QJsonObject WeightServer::WeightJson() const {
    QJsonObject weight;
    const std::int64_t now = NowMs();
    const ServiceEvent* reading = lastReading_ ? &*lastReading_ : nullptr;
    weight.insert("reading", reading ? QJsonValue(reading->reading) : QJsonValue());
    weight.insert("value", reading && reading->value ? QJsonValue(*reading->value) : QJsonValue());
    weight.insert("unit", reading ? reading->unit : QString());
    weight.insert("time", reading ? QJsonValue(IsoTime(reading->timeMs)) : QJsonValue());
    const std::int64_t age = reading ? std::max<std::int64_t>(0, now - reading->timeMs) : 0;
    weight.insert("age_ms", reading ? QJsonValue(static_cast<qint64>(age)) : QJsonValue());
    weight.insert("stale", !connected_ || reading == nullptr || age > settings_.staleAfterMs);
    weight.insert("port", port_);
    weight.insert("connected", connected_);
    weight.insert("seq", reading ? QJsonValue(static_cast<qint64>(reading->seq)) : QJsonValue());
    return weight;
}

void WeightServer::ServeWeight(const QHttpServerRequest& request, QTcpSocket* socket) {
    Reply(request, socket, Status::Ok, Json(WeightJson()));
}

void WeightServer::ServeLines(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QUrlQuery query = request.query();
    const auto asked =
        ParseLinesQuery(query.queryItemValue("since"), query.queryItemValue("limit"));
    if (!asked) {
        ReplyError(request, socket, Status::BadRequest,
                   QStringLiteral("since i limit muszą być liczbami"));
        return;
    }
    std::vector<ServiceEvent> rows;
    std::vector<std::int64_t> firstMs;
    bool truncated = false;
    // One row more than asked tells whether more follow.
    if (!journal_.RowsAfter(asked->since, asked->limit + 1, rows, &firstMs, 16 << 20, &truncated)) {
        ReplyError(request, socket, Status::ServiceUnavailable,
                   QStringLiteral("dziennik niedostępny: ") + journal_.State());
        return;
    }
    const bool more = truncated || static_cast<int>(rows.size()) > asked->limit;
    if (static_cast<int>(rows.size()) > asked->limit) rows.pop_back();
    QJsonArray lines;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        QJsonObject line = EventJson(rows[i]);
        line.insert("first_time", IsoTime(firstMs[i]));
        lines.append(line);
    }
    QJsonObject answer;
    answer.insert("lines", lines);
    answer.insert("next", static_cast<qint64>(rows.empty() ? asked->since : rows.back().seq));
    answer.insert("more", more);
    Reply(request, socket, Status::Ok, Json(answer));
}

void WeightServer::ServeHealth(const QHttpServerRequest& request, QTcpSocket* socket) {
    QJsonObject health;
    health.insert("port", port_);
    health.insert("connected", connected_);
    journal_.Available();
    health.insert("journal", journal_.State());
    health.insert("uptime_s", static_cast<qint64>(uptime_.elapsed() / 1000));
    health.insert("clients", static_cast<qint64>(clients_.size()));
    health.insert("connections", tcp_ ? tcp_->OpenConnections() : 0);
    health.insert("requests", static_cast<qint64>(requests_));
    health.insert("dropped_clients", static_cast<qint64>(droppedClients_));
    health.insert("refused_connections", static_cast<qint64>(tcp_ ? tcp_->Refused() : 0));
    health.insert("timed_out", static_cast<qint64>(tcp_ ? tcp_->TimedOut() : 0));
    health.insert("events_dropped", static_cast<qint64>(feed_->Dropped()));
    Reply(request, socket, Status::Ok, Json(health));
}

void WeightServer::ServeResource(const QHttpServerRequest& request, QTcpSocket* socket,
                                 const QString& name, const QByteArray& type) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        ReplyError(request, socket, Status::NotFound, QStringLiteral("nie ma takiej ścieżki"));
        return;
    }
    Reply(request, socket, Status::Ok, file.readAll(), type);
}

void WeightServer::ServePage(const QHttpServerRequest& request, QTcpSocket* socket) {
    QFile file(QStringLiteral(":/waga/index.html"));
    if (!file.open(QIODevice::ReadOnly)) {
        ReplyError(request, socket, Status::InternalServerError, QStringLiteral("brak strony"));
        return;
    }
    QString page = QString::fromUtf8(file.readAll());
    // The page comes with the current state filled in, so it shows the weight at once.
    const QJsonObject weight = WeightJson();
    QJsonArray reports;
    QJsonArray trend;
    const std::int64_t since = NowMs() - kTrendMs;
    std::vector<const ServiceEvent*> readings;
    for (auto it = ring_.rbegin(); it != ring_.rend(); ++it) {
        if (it->kind == ServiceEvent::Kind::Report && reports.size() < kPageReports) {
            reports.prepend(EventJson(*it));
        } else if (it->kind == ServiceEvent::Kind::Reading && it->value && it->timeMs >= since) {
            readings.push_back(&*it);
        }
    }
    const std::size_t step = readings.size() / kTrendPoints + 1;
    for (std::size_t i = readings.size(); i-- > 0;) {
        if (i % step != 0) continue;
        trend.append(QJsonArray{static_cast<qint64>(readings[i]->timeMs), *readings[i]->value});
    }
    QJsonObject initial;
    initial.insert("weight", weight);
    initial.insert("reports", reports);
    initial.insert("trend", trend);
    initial.insert("stale_after_ms", settings_.staleAfterMs);
    QString data = QString::fromUtf8(Json(initial));
    data.replace(QLatin1Char('<'), QStringLiteral("\\u003c"));  // never closes the script tag
    const QJsonValue reading = weight.value("reading");
    page.replace(QStringLiteral("{{ODCZYT}}"),
                 reading.isNull() ? QStringLiteral("—") : HtmlEscaped(reading.toString()));
    page.replace(QStringLiteral("{{JEDNOSTKA}}"), HtmlEscaped(weight.value("unit").toString()));
    page.replace(QStringLiteral("{{DANE}}"), data);
    Reply(request, socket, Status::Ok, page.toUtf8(), "text/html; charset=utf-8",
          {{"Content-Security-Policy",
            "default-src 'self'; style-src 'self'; script-src 'self'; connect-src 'self'"}});
}

void WeightServer::OpenStream(const QHttpServerRequest& request, QTcpSocket* socket) {
    if (tcp_) tcp_->MarkStreaming(socket);
    auto responder = std::make_unique<QHttpServerResponder>(makeResponder(request, socket));
    responder->writeStatusLine(Status::Ok);
    responder->writeHeader("Content-Type", "text/event-stream; charset=utf-8");
    responder->writeHeader("Cache-Control", "no-store");
    if (const auto origin = AllowedOrigin(HeaderValue(request, "Origin"),
                                          QString::fromStdString(settings_.origins))) {
        responder->writeHeader("Access-Control-Allow-Origin", *origin);
        responder->writeHeader("Vary", "Origin");
    }
    QByteArray first = "retry: 1000\n\n";
    QByteArray lastId = HeaderValue(request, "Last-Event-ID");
    if (lastId.isEmpty()) lastId = request.query().queryItemValue("last_event_id").toLatin1();
    if (const auto resumeAfter = ParseLastEventId(lastId)) {
        // What the client missed: the journal first, then the recent events not yet in it.
        std::int64_t sentUpTo = *resumeAfter;
        std::vector<ServiceEvent> rows;
        bool truncated = false;
        if (journal_.RowsAfter(sentUpTo, options_.catchUpRows, rows, nullptr, options_.catchUpBytes,
                               &truncated)) {
            for (const ServiceEvent& row : rows) first += SseMessage(row);
            if (!rows.empty()) sentUpTo = rows.back().seq;
        }
        if (truncated) {
            // Rows too long to send at once: said, not dropped in silence.
            ServiceEvent gap;
            gap.kind = ServiceEvent::Kind::Gap;
            gap.seq = sentUpTo;
            gap.timeMs = NowMs();
            gap.port = port_;
            gap.count = 0;
            gap.text = QStringLiteral("dalsze wiersze: /api/v1/lines?since=%1").arg(sentUpTo);
            first += SseMessage(gap);
        }
        for (const ServiceEvent& event : ring_) {
            if (event.seq > sentUpTo && event.kind != ServiceEvent::Kind::Status) {
                first += SseMessage(event);
                sentUpTo = event.seq;
            }
        }
    } else {
        // A new client: the port's state and the current reading.
        ServiceEvent status;
        status.kind = ServiceEvent::Kind::Status;
        status.seq = lastReading_ ? lastReading_->seq : 0;
        status.port = port_;
        status.connected = connected_;
        status.timeMs = NowMs();
        first += SseMessage(status);
        if (lastReading_) first += SseMessage(*lastReading_);
    }
    responder->writeBody(first);
    socket->flush();  // as much as the system takes now
    const qint64 allowance = socket->bytesToWrite();
    clients_.push_back({QPointer<QTcpSocket>(socket), std::move(responder), allowance});
    if (!heartbeat_.isActive()) heartbeat_.start();
}
