#include "WeightService.h"

#include <QStringList>

WeightService::WeightService(QString journalPath, WeightServerOptions options, QObject* parent)
    : QObject(parent), journalPath_(std::move(journalPath)), options_(options) {
    thread_.setObjectName(QStringLiteral("serwer wagi"));
}

WeightService::~WeightService() {
    Stop();
    thread_.quit();
    thread_.wait();
}

void WeightService::Stop() {
    sink_.Disconnect();
    if (server_ != nullptr) {
        WeightServer* server = server_;
        server_ = nullptr;
        disconnect(server, nullptr, this, nullptr);
        // Deleted on its own thread; the port is free once this returns.
        if (thread_.isRunning()) {
            QMetaObject::invokeMethod(
                server, [server] { delete server; }, Qt::BlockingQueuedConnection);
        } else {
            delete server;
        }
    }
    state_ = State::Off;
    url_.clear();
    cause_.clear();
    strain_.clear();
}

void WeightService::Apply(const ServiceSettings& settings) {
    Stop();
    if (!settings.enabled) {
        emit stateChanged();
        return;
    }
    if (!thread_.isRunning()) thread_.start();
    auto feed = std::make_shared<ServiceFeed>();
    auto* server = new WeightServer(settings, journalPath_, feed, options_);
    server->moveToThread(&thread_);
    server_ = server;
    state_ = State::Starting;
    connect(server, &WeightServer::Listening, this, [this, server](const QString& url) {
        if (server != server_) return;
        state_ = State::Running;
        url_ = url;
        emit stateChanged();
    });
    connect(server, &WeightServer::Failed, this, [this, server](const QString& cause) {
        if (server != server_) return;
        sink_.Disconnect();
        state_ = State::Failed;
        cause_ = cause;
        emit stateChanged();
    });
    connect(server, &WeightServer::StrainChanged, this, [this, server](const QString& text) {
        if (server != server_) return;
        strain_ = text.isEmpty() ? QString() : QStringLiteral("przeciążenie: ") + text;
        emit stateChanged();
    });
    QMetaObject::invokeMethod(server, &WeightServer::Start, Qt::QueuedConnection);
    sink_.Connect(feed, [server] {
        QMetaObject::invokeMethod(server, &WeightServer::Drain, Qt::QueuedConnection);
    });
    emit stateChanged();
}

QString WeightService::Notice() const {
    QStringList parts;
    if (state_ == State::Failed) parts << ServiceStateText(state_, url_, cause_);
    if (!strain_.isEmpty()) parts << strain_;
    if (!fileWarning_.isEmpty()) parts << fileWarning_;
    return parts.join(QStringLiteral("; "));
}

void WeightService::SetFileWarning(const QString& warning) {
    if (warning == fileWarning_) return;
    fileWarning_ = warning;
    emit stateChanged();
}

QString ServiceStateText(WeightService::State state, const QString& url, const QString& cause) {
    switch (state) {
        case WeightService::State::Off:
            return QStringLiteral("wyłączony");
        case WeightService::State::Starting:
            return QStringLiteral("uruchamianie…");
        case WeightService::State::Running:
            return QStringLiteral("działa: ") + url;
        case WeightService::State::Failed:
            return QStringLiteral("błąd: ") + cause;
    }
    return {};
}
