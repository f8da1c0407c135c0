#include "WeightServer.h"

#include <QDateTime>
#include <QFile>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <algorithm>

#ifdef __linux__
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

#include "ServiceRules.h"

namespace {

constexpr int kPageReports = 20;
constexpr std::int64_t kTrendMs = 5 * 60 * 1000;
constexpr int kTrendPoints = 600;
// A resuming client's catch-up is read and written a page at a time, whenever the system has
// taken all of the page before: the server holds at most a page per client, however far behind.
constexpr qint64 kCatchUpPageBytes = 8 * 1024;
constexpr int kCatchUpPageRows = 64;
// A flood's notice clears once its causes have not been seen for this long.
constexpr qint64 kStrainQuietMs = 30000;

// Bytes the system holds for the client, not yet acknowledged by it (Linux; elsewhere only what
// this process holds counts).
qint64 UnsentInSystem(const QTcpSocket& socket) {
#ifdef __linux__
    int unsent = 0;
    if (ioctl(static_cast<int>(socket.socketDescriptor()), SIOCOUTQ, &unsent) == 0) return unsent;
#else
    Q_UNUSED(socket);
#endif
    return 0;
}

QByteArray Json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray HeaderValue(const QHttpServerRequest& request, const QByteArray& name) {
    for (const auto& [key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
    }
    return {};
}

std::int64_t NowMs() { return QDateTime::currentMSecsSinceEpoch(); }

// About what an event holds in memory.
qint64 EventBytes(const ServiceEvent& event) {
    return 128 + 2 * (event.text.size() + event.reading.size() + event.unit.size());
}

QString UrlOf(const QHostAddress& address, quint16 port) {
    return QStringLiteral("http://%1:%2/").arg(HostLiteral(address)).arg(port);
}

}  // namespace

WeightServer::WeightServer(ServiceSettings settings, QString journalPath,
                           std::shared_ptr<ServiceFeed> feed, WeightServerOptions options)
    : settings_(std::move(settings)),
      options_(options),
      feed_(std::move(feed)),
      journal_(std::move(journalPath)),
      http_(new QHttpServer(this)),
      coalesce_(this),
      heartbeat_(this),
      strainQuiet_(this),
      stallCheck_(this) {
    DeclareRoutes();
    coalesce_.setSingleShot(true);
    connect(&coalesce_, &QTimer::timeout, this, &WeightServer::FlushPending);
    stallCheck_.setInterval(std::max(100, options_.limits.streamStallMs / 10));
    connect(&stallCheck_, &QTimer::timeout, this, &WeightServer::CheckStalls);
    strainQuiet_.setInterval(5000);
    connect(&strainQuiet_, &QTimer::timeout, this, &WeightServer::QuietStrains);
    heartbeat_.setInterval(options_.heartbeatMs);
    connect(&heartbeat_, &QTimer::timeout, this, [this] { Send(": \n\n"); });
    uptime_.start();
    sinceLastSent_.start();
}

WeightServer::~WeightServer() {
    for (const auto& client : clients_) {
        if (client->socket) client->socket->abort();
    }
}

void WeightServer::DeclareRoutes() {
    const std::pair<const char*, Route> routes[] = {
        {"/", &WeightServer::Page},
        {"/index.html", &WeightServer::Page},
        {"/style.css", &WeightServer::Style},
        {"/app.js", &WeightServer::Script},
        {"/api/v1/weight", &WeightServer::Weight},
        {"/api/v1/lines", &WeightServer::Lines},
        {"/api/v1/health", &WeightServer::Health},
    };
    for (const auto& entry : routes) {
        const Route route = entry.second;
        http_->route(
            QString::fromLatin1(entry.first),
            [this, route](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                Serve(request, responder, route);
            });
    }
    http_->route(QStringLiteral("/api/v1/events"),
                 [this](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                     OpenStream(request, std::move(responder));
                 });
    http_->setMissingHandler([this](const QHttpServerRequest& request,
                                    QHttpServerResponder&& responder) {
        ++requests_;
        if (tcp_) tcp_->RequestDone(responder.socket());
        Reply(request, responder, Error(Status::NotFound, QStringLiteral("nie ma takiej ścieżki")));
    });
}

void WeightServer::Start() {
    const QString refusal = StartRefusal(settings_);
    if (!refusal.isEmpty()) {
        emit Failed(refusal);
        return;
    }
    const QHostAddress address = ListenAddress(settings_);
    tcp_ =
        new GuardedTcpServer(options_.limits,
                             {OwnHostNames(settings_), QByteArray::fromStdString(settings_.token),
                              QString::fromStdString(settings_.origins)},
                             this);
    if (!tcp_->Listen(address, static_cast<quint16>(settings_.port))) {
        const QString cause = tcp_->serverError() == QAbstractSocket::AddressInUseError
                                  ? QStringLiteral("port %1 jest zajęty").arg(settings_.port)
                                  : tcp_->errorString();
        delete tcp_;
        tcp_ = nullptr;
        emit Failed(cause);
        return;
    }
    connect(tcp_, &GuardedTcpServer::strained, this, &WeightServer::Strain);
    http_->bind(tcp_);
    emit Listening(UrlOf(address, tcp_->serverPort()));
}

// Every route's answer, by method: OPTIONS is the CORS preflight, GET and HEAD the route's
// answer (HEAD without the body), anything else 405.
void WeightServer::Serve(const QHttpServerRequest& request, QHttpServerResponder& responder,
                         Route route) {
    ++requests_;
    if (tcp_) tcp_->RequestDone(responder.socket());
    switch (request.method()) {
        case QHttpServerRequest::Method::Options:
            Reply(request, responder,
                  {Status::NoContent,
                   {},
                   {},
                   {{"Access-Control-Allow-Methods", "GET, HEAD, OPTIONS"},
                    {"Access-Control-Allow-Headers", "Authorization, Last-Event-ID"},
                    {"Access-Control-Max-Age", "600"}}});
            return;
        case QHttpServerRequest::Method::Get:
        case QHttpServerRequest::Method::Head:
            Reply(request, responder, (this->*route)(request));
            return;
        default:
            Reply(request, responder,
                  Error(Status::MethodNotAllowed,
                        QStringLiteral("dozwolone są tylko GET, HEAD i OPTIONS"),
                        {{"Allow", "GET, HEAD, OPTIONS"}}));
    }
}

// The one place answers are written: the status, the shared headers, the answer's own, the body.
void WeightServer::Reply(const QHttpServerRequest& request, QHttpServerResponder& responder,
                         const Answer& answer) {
    responder.writeStatusLine(answer.status);
    for (const auto& [key, value] :
         SharedHeaders(HeaderValue(request, "Origin"), QString::fromStdString(settings_.origins))) {
        responder.writeHeader(key, value);
    }
    if (!answer.type.isEmpty()) responder.writeHeader("Content-Type", answer.type);
    if (answer.status != Status::NoContent) {
        responder.writeHeader("Content-Length", QByteArray::number(answer.body.size()));
    }
    for (const auto& [key, value] : answer.headers) responder.writeHeader(key, value);
    responder.writeBody(request.method() == QHttpServerRequest::Method::Head ? QByteArray()
                                                                             : answer.body);
}

WeightServer::Answer WeightServer::Error(Status status, const QString& message,
                                         HeaderList headers) {
    return {status, "application/json; charset=utf-8", ErrorJson(static_cast<int>(status), message),
            std::move(headers)};
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

WeightServer::Answer WeightServer::Weight(const QHttpServerRequest&) {
    return {Status::Ok, "application/json; charset=utf-8", Json(WeightJson()), {}};
}

WeightServer::Answer WeightServer::Lines(const QHttpServerRequest& request) {
    const QUrlQuery query = request.query();
    const auto asked =
        ParseLinesQuery(query.queryItemValue("since"), query.queryItemValue("limit"));
    if (!asked) {
        return Error(Status::BadRequest, QStringLiteral("since i limit muszą być liczbami"));
    }
    std::vector<ServiceEvent> rows;
    std::vector<std::int64_t> firstMs;
    bool truncated = false;
    // One row more than asked tells whether more follow.
    if (!journal_.RowsAfter(asked->since, asked->limit + 1, rows, &firstMs, options_.linesBytes,
                            &truncated)) {
        return Error(Status::ServiceUnavailable,
                     QStringLiteral("dziennik niedostępny: ") + journal_.State());
    }
    const bool more = truncated || static_cast<int>(rows.size()) > asked->limit;
    if (static_cast<int>(rows.size()) > asked->limit) rows.pop_back();
    QByteArray answer = "{\"lines\":[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) answer += ',';
        answer += EventJson(rows[i], firstMs[i]);
    }
    answer += "],\"more\":";
    answer += more ? "true" : "false";
    answer +=
        ",\"next\":" +
        QByteArray::number(static_cast<qint64>(rows.empty() ? asked->since : rows.back().seq));
    return {Status::Ok, "application/json; charset=utf-8", answer + '}', {}};
}

WeightServer::Answer WeightServer::Health(const QHttpServerRequest&) {
    QJsonObject health;
    health.insert("port", port_);
    health.insert("connected", connected_);
    journal_.Available();
    health.insert("journal", journal_.State());
    health.insert("uptime_s", static_cast<qint64>(uptime_.elapsed() / 1000));
    health.insert(
        "clients",
        static_cast<qint64>(std::count_if(clients_.begin(), clients_.end(), [](const auto& client) {
            return client->socket && client->socket->state() == QAbstractSocket::ConnectedState;
        })));
    health.insert("connections", tcp_ ? tcp_->OpenConnections() : 0);
    health.insert("opening", tcp_ ? tcp_->OpeningConnections() : 0);
    health.insert("evicted", static_cast<qint64>(tcp_ ? tcp_->Evicted() : 0));
    health.insert("requests", static_cast<qint64>(requests_));
    health.insert("dropped_clients", static_cast<qint64>(droppedClients_));
    health.insert("gaps", static_cast<qint64>(gaps_));
    health.insert("refused_connections", static_cast<qint64>(tcp_ ? tcp_->Refused() : 0));
    health.insert("refused_requests", static_cast<qint64>(tcp_ ? tcp_->RefusedRequests() : 0));
    health.insert("timed_out", static_cast<qint64>(tcp_ ? tcp_->TimedOut() : 0));
    health.insert("events_dropped", static_cast<qint64>(feed_->Dropped()));
    return {Status::Ok, "application/json; charset=utf-8", Json(health), {}};
}

namespace {

std::optional<QByteArray> Resource(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

}  // namespace

WeightServer::Answer WeightServer::Style(const QHttpServerRequest&) {
    const auto bytes = Resource(QStringLiteral(":/waga/style.css"));
    if (!bytes) return Error(Status::InternalServerError, QStringLiteral("brak arkusza stylów"));
    return {Status::Ok, "text/css; charset=utf-8", *bytes, {}};
}

WeightServer::Answer WeightServer::Script(const QHttpServerRequest&) {
    const auto bytes = Resource(QStringLiteral(":/waga/app.js"));
    if (!bytes) return Error(Status::InternalServerError, QStringLiteral("brak skryptu"));
    return {Status::Ok, "text/javascript; charset=utf-8", *bytes, {}};
}

namespace {

// The trend's points as the page takes them: [ms, value, join] (join 0: a line from the point
// before, 1: the same run of identical readings, 2: a break).
QByteArray TrendJson(const std::vector<PlotPoint>& points) {
    QByteArray out = "[";
    for (const PlotPoint& p : points) {
        if (out.size() > 1) out += ',';
        out += '[' + QByteArray::number(static_cast<qint64>(p.ms)) + ',' +
               QByteArray::number(p.value, 'g', QLocale::FloatingPointShortest) + ',' +
               QByteArray::number(static_cast<int>(p.join)) + ']';
    }
    return out + ']';
}

QByteArray JsonString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

}  // namespace

WeightServer::Answer WeightServer::Page(const QHttpServerRequest&) {
    const auto bytes = Resource(QStringLiteral(":/waga/index.html"));
    if (!bytes) return Error(Status::InternalServerError, QStringLiteral("brak strony"));
    QString page = QString::fromUtf8(*bytes);
    // The page comes with the current state filled in, so it shows the weight at once: the last
    // report lines and five minutes of readings from the journal (the program may have run
    // longer than the service), then the recent events it does not hold yet.
    const QJsonObject weight = WeightJson();
    const std::int64_t since = NowMs() - kTrendMs;
    std::vector<PlotPoint> points;
    std::vector<TimeSpan> gaps;
    std::int64_t journalSeq = 0;
    std::vector<ServiceEvent> reports;
    if (!journal_.Trend(since, points, gaps, journalSeq) ||
        !journal_.LastReports(kPageReports, reports)) {
        points.clear();
        gaps.clear();
        reports.clear();
        journalSeq = 0;
    }
    const std::int64_t journalReports = reports.empty() ? 0 : reports.back().seq;
    bool broken = false;  // a port loss since the journal's last point
    for (const ServiceEvent& event : ring_) {
        if (event.kind == ServiceEvent::Kind::Report && event.seq > journalReports) {
            reports.push_back(event);
        } else if (event.kind == ServiceEvent::Kind::Status && !event.connected &&
                   event.seq >= journalSeq) {
            broken = true;
        } else if (event.kind == ServiceEvent::Kind::Reading && event.value &&
                   event.timeMs >= since && event.seq >= journalSeq &&
                   (points.empty() || event.timeMs > points.back().ms)) {
            const bool sameRun = event.seq == journalSeq || (!points.empty() && event.grows);
            points.push_back({event.timeMs, *event.value,
                              broken    ? PlotPoint::Join::Break
                              : sameRun ? PlotPoint::Join::Run
                                        : PlotPoint::Join::Line});
            journalSeq = event.seq;
            broken = false;
        }
    }
    if (reports.size() > kPageReports) reports.erase(reports.begin(), reports.end() - kPageReports);
    MarkBreaks(points, gaps);
    points = ReduceMinMax(points, since, NowMs() + 1, kTrendPoints / 4);
    QByteArray initial = "{\"readout\":" + JsonString(readout_) + ",\"reports\":[";
    for (std::size_t i = 0; i < reports.size(); ++i) {
        if (i > 0) initial += ',';
        initial += EventJson(reports[i]);
    }
    initial += "],\"stale_after_ms\":" + QByteArray::number(settings_.staleAfterMs) +
               ",\"trend\":" + TrendJson(points) + ",\"weight\":" + Json(weight) + '}';
    QString data = QString::fromUtf8(initial);
    data.replace(QLatin1Char('<'), QStringLiteral("\\u003c"));  // never closes the script tag
    page.replace(QStringLiteral("{{ODCZYT}}"),
                 readout_.isEmpty() ? QStringLiteral("—") : readout_.toHtmlEscaped());
    page.replace(QStringLiteral("{{JEDNOSTKA}}"), weight.value("unit").toString().toHtmlEscaped());
    page.replace(QStringLiteral("{{DANE}}"), data);
    return {Status::Ok,
            "text/html; charset=utf-8",
            page.toUtf8(),
            {{"Content-Security-Policy",
              "default-src 'self'; style-src 'self'; script-src 'self'; connect-src 'self'"}}};
}

// What HEAD and OPTIONS get for the event stream; GET opens it.
WeightServer::Answer WeightServer::StreamHead(const QHttpServerRequest&) {
    return {Status::Ok, "text/event-stream; charset=utf-8", {}, {}};
}

void WeightServer::OpenStream(const QHttpServerRequest& request, QHttpServerResponder&& responder) {
    if (request.method() != QHttpServerRequest::Method::Get) {
        Serve(request, responder, &WeightServer::StreamHead);
        return;
    }
    ++requests_;
    QTcpSocket* socket = responder.socket();
    if (tcp_) {
        const ConnectionAdmission::Verdict verdict = tcp_->AdmitStream(socket);
        if (verdict != ConnectionAdmission::Verdict::Admitted) {
            tcp_->RequestDone(socket);
            Reply(request, responder,
                  verdict == ConnectionAdmission::Verdict::ClientFull
                      ? Error(Status::TooManyRequests,
                              QStringLiteral("za dużo strumieni zdarzeń z tego adresu"))
                  : verdict == ConnectionAdmission::Verdict::TokenlessFull
                      ? Error(Status::ServiceUnavailable,
                              QStringLiteral("za dużo strumieni zdarzeń bez tokenu"))
                      : Error(Status::ServiceUnavailable,
                              QStringLiteral("za dużo strumieni zdarzeń")));
            return;
        }
    }
    auto client = std::make_unique<StreamClient>();
    client->socket = socket;
    client->responder = std::make_unique<QHttpServerResponder>(std::move(responder));
    QHttpServerResponder& out = *client->responder;
    out.writeStatusLine(Status::Ok);
    for (const auto& [key, value] :
         SharedHeaders(HeaderValue(request, "Origin"), QString::fromStdString(settings_.origins))) {
        out.writeHeader(key, value);
    }
    out.writeHeader("Content-Type", "text/event-stream; charset=utf-8");
    QByteArray first = "retry: 1000\n\n";
    QByteArray lastId = HeaderValue(request, "Last-Event-ID");
    if (lastId.isEmpty()) lastId = request.query().queryItemValue("last_event_id").toLatin1();
    if (const auto resumeAfter = ParseLastEventId(lastId)) {
        client->cursor = *resumeAfter;  // what it missed comes in pages (CatchUp)
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
        client->live = true;
    }
    client->progressMs = uptime_.elapsed();
    Write(*client, first);
    const bool live = client->live;
    clients_.push_back(std::move(client));
    connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { CatchUp(socket); });
    // Its responder goes once the socket is gone, never while it is being destroyed.
    connect(socket, &QObject::destroyed, this, [this] {
        QTimer::singleShot(0, this, [this] {
            std::erase_if(clients_, [](const auto& c) { return c->socket.isNull(); });
            if (clients_.empty()) heartbeat_.stop();
        });
    });
    if (!live) CatchUp(socket);
    if (!heartbeat_.isActive()) heartbeat_.start();
}

WeightServer::StreamClient* WeightServer::Client(QTcpSocket* socket) {
    for (const auto& client : clients_) {
        if (client->socket.data() == socket) return client.get();
    }
    return nullptr;
}

// The next pages of what a resuming client missed, while the system takes them at once. At
// the budget's end a gap event names the first row it did not get; caught up or past the budget,
// it goes live.
void WeightServer::CatchUp(QTcpSocket* socket) {
    StreamClient* client = Client(socket);
    if (client == nullptr || client->live || client->feeding) return;
    client->feeding = true;  // flush() may tell of written bytes at once
    while (!client->live && socket->bytesToWrite() == 0 &&
           socket->state() == QAbstractSocket::ConnectedState) {
        QByteArray page = NextCatchUpPage(*client);
        if (page.isEmpty()) break;
        Write(*client, page);
        socket->flush();  // into the system's buffer, as much as it takes now
    }
    client->feeding = false;
}

QByteArray WeightServer::NextCatchUpPage(StreamClient& client) {
    std::vector<ServiceEvent> rows;
    bool truncated = false;
    journal_.RowsAfter(client.cursor, kCatchUpPageRows, rows, nullptr, kCatchUpPageBytes,
                       &truncated);
    bool fromRing = false;
    if (rows.empty()) {
        auto it = std::upper_bound(
            ring_.begin(), ring_.end(), client.cursor,
            [](std::int64_t seq, const ServiceEvent& event) { return seq < event.seq; });
        qint64 bytes = 0;
        for (; it != ring_.end() && bytes < kCatchUpPageBytes &&
               rows.size() < static_cast<std::size_t>(kCatchUpPageRows);
             ++it) {
            if (it->kind == ServiceEvent::Kind::Status) continue;
            rows.push_back(*it);
            bytes += EventBytes(*it);
        }
        fromRing = true;
    }
    if (rows.empty()) {
        client.live = true;  // caught up: live events follow
        return {};
    }
    auto gap = [&](std::int64_t firstMissed) {
        ServiceEvent event;
        event.kind = ServiceEvent::Kind::Gap;
        event.seq = client.cursor;
        event.timeMs = NowMs();
        event.port = port_;
        event.count = 0;
        event.missedFrom = firstMissed;
        event.text = QStringLiteral("dalsze wiersze: /api/v1/lines?since=%1").arg(firstMissed - 1);
        ++gaps_;
        return SseMessage(event);
    };
    QByteArray page;
    // Rows neither the journal nor the recent events hold any more: said, not skipped.
    if (fromRing && client.cursor > 0 && rows.front().seq > client.cursor + 1) {
        page += gap(client.cursor + 1);
    }
    for (const ServiceEvent& row : rows) {
        QByteArray message = SseMessage(row);
        if (client.caughtUpBytes + message.size() > options_.catchUpBytes ||
            client.caughtUpEvents >= options_.catchUpEvents) {
            page += gap(row.seq);
            client.live = true;
            break;
        }
        client.caughtUpBytes += message.size();
        ++client.caughtUpEvents;
        client.cursor = row.seq;
        page += message;
    }
    return page;
}

void WeightServer::Drain() {
    std::vector<ServiceEvent> events = feed_->TakeAll();
    const bool anyLive = AnyLive();
    QByteArray messages;
    for (ServiceEvent& event : events) {
        Remember(event);
        if (event.grows && event.seq == lastSentSeq_ &&
            sinceLastSent_.elapsed() < options_.sameReadingIntervalMs) {
            // The same run of identical readings: its latest state goes out within a second.
            pending_ = std::move(event);
            if (!coalesce_.isActive()) {
                coalesce_.start(
                    static_cast<int>(options_.sameReadingIntervalMs - sinceLastSent_.elapsed()));
            }
            continue;
        }
        if (pending_ && anyLive) messages += SseMessage(*pending_);
        pending_.reset();
        coalesce_.stop();
        if (anyLive) messages += SseMessage(event);
        lastSentSeq_ = event.seq;
        sinceLastSent_.restart();
    }
    if (!messages.isEmpty()) Send(messages);
}

void WeightServer::FlushPending() {
    if (!pending_) return;
    Send(SseMessage(*pending_));
    lastSentSeq_ = pending_->seq;
    sinceLastSent_.restart();
    pending_.reset();
}

void WeightServer::Remember(const ServiceEvent& event) {
    // The program's read-out: a reading's text, emptied by a report line and by a port that is
    // lost or closed (it stays empty when the port opens again, until a reading comes).
    if (event.kind == ServiceEvent::Kind::Reading) {
        readout_ = event.reading;
    } else if (event.kind == ServiceEvent::Kind::Report ||
               (event.kind == ServiceEvent::Kind::Status && !event.connected)) {
        readout_.clear();
    }
    if (event.kind == ServiceEvent::Kind::Status) {
        port_ = event.port;
        connected_ = event.connected;
    } else {
        if (event.kind == ServiceEvent::Kind::Reading) lastReading_ = event;
        port_ = event.port;
        connected_ = true;
    }
    if (event.grows && !ring_.empty() && ring_.back().seq == event.seq &&
        ring_.back().kind == ServiceEvent::Kind::Reading) {
        ringBytes_ += EventBytes(event) - EventBytes(ring_.back());
        ring_.back() = event;  // the row's newer state
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

bool WeightServer::AnyLive() const {
    return std::any_of(clients_.begin(), clients_.end(),
                       [](const auto& client) { return client->live && client->socket; });
}

void WeightServer::Send(const QByteArray& messages) {
    for (auto it = clients_.begin(); it != clients_.end();) {
        StreamClient& client = **it;
        QTcpSocket* socket = client.socket.data();
        if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState) {
            it = clients_.erase(it);
            continue;
        }
        if (!client.live) {  // still catching up: it reaches these events through the ring
            ++it;
            continue;
        }
        if (socket->bytesToWrite() > options_.limits.maxUnsentBytes) {
            // A client that does not read: dropped rather than buffered without end.
            it = clients_.erase(it);
            Drop(socket,
                 QStringLiteral("klient strumienia zdarzeń ma ponad 1 MiB zaległych danych: "
                                "rozłączony"));
            continue;
        }
        Write(client, messages);
        ++it;
    }
    if (clients_.empty()) heartbeat_.stop();
}

void WeightServer::Write(StreamClient& client, const QByteArray& bytes) {
    client.responder->writeBody(bytes);
    client.written += bytes.size();
    if (!stallCheck_.isActive()) stallCheck_.start();  // stops once nothing waits
}

// A client whose system has taken nothing more for streamStallMs while bytes wait for it (in
// this process or in the system's send queue) does not read: it goes.
void WeightServer::CheckStalls() {
    const qint64 now = uptime_.elapsed();
    bool waiting = false;
    for (const auto& client : clients_) {
        QTcpSocket* socket = client->socket.data();
        if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState) continue;
        const qint64 unsent = socket->bytesToWrite() + UnsentInSystem(*socket);
        const qint64 taken = client->written - unsent;
        if (unsent == 0 || taken > client->taken) {
            client->taken = taken;
            client->progressMs = now;
        } else if (now - client->progressMs > options_.limits.streamStallMs) {
            Drop(socket, QStringLiteral("klient strumienia zdarzeń nie odbiera: rozłączony"));
            continue;
        }
        waiting = waiting || unsent > 0;
    }
    if (!waiting) stallCheck_.stop();
}

void WeightServer::Drop(QTcpSocket* socket, const QString& cause) {
    ++droppedClients_;
    Strain(cause);
    socket->abort();  // its entry goes once the socket is gone
}

void WeightServer::Strain(const QString& cause) {
    const bool fresh = !strains_.contains(cause);
    strains_.insert(cause, uptime_.elapsed());
    if (!fresh) return;
    if (!strainQuiet_.isActive()) strainQuiet_.start();
    QStringList causes = strains_.keys();
    causes.sort();
    emit StrainChanged(causes.join(QStringLiteral("; ")));
}

void WeightServer::QuietStrains() {
    const qint64 now = uptime_.elapsed();
    const auto before = strains_.size();
    for (auto it = strains_.begin(); it != strains_.end();) {
        it = now - it.value() > kStrainQuietMs ? strains_.erase(it) : std::next(it);
    }
    if (strains_.isEmpty()) strainQuiet_.stop();
    if (strains_.size() == before) return;
    QStringList causes = strains_.keys();
    causes.sort();
    emit StrainChanged(causes.join(QStringLiteral("; ")));
}
