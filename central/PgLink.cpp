#include "PgLink.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace central {
namespace {

// A poll never sleeps longer than this, and libpq reads its input after each: data TLS has
// already taken off the socket is then not left waiting for the next packet.
constexpr std::chrono::milliseconds kPollSlice{250};

// Asks the server to cancel what the connection runs, without waiting for the answer: PQcancel
// connects anew and waits for the server to close that connection, which a stopped server never
// does. The thread ends when the server answers, or with the process.
void CancelInBackground(pg_conn* conn) {
    PGcancel* cancel = PQgetCancel(conn);
    if (cancel == nullptr) return;
    std::thread([cancel] {
        char error[256];
        PQcancel(cancel, error, sizeof error);
        PQfreeCancel(cancel);
    }).detach();
}

QString FirstLine(const char* text) {
    QString message = QString::fromUtf8(text).trimmed();
    const qsizetype newline = message.indexOf(QLatin1Char('\n'));
    return newline < 0 ? message : message.left(newline).trimmed();
}

}  // namespace

PgResult::~PgResult() { PQclear(result_); }

PgResult& PgResult::operator=(PgResult&& other) noexcept {
    if (this != &other) {
        PQclear(result_);
        result_ = std::exchange(other.result_, nullptr);
    }
    return *this;
}

bool PgResult::Ok() const {
    const ExecStatusType status = PQresultStatus(result_);
    return result_ != nullptr &&
           (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_COPY_IN);
}

bool PgResult::WantsCopyData() const {
    return result_ != nullptr && PQresultStatus(result_) == PGRES_COPY_IN;
}

QString PgResult::SqlState() const {
    const char* state = result_ ? PQresultErrorField(result_, PG_DIAG_SQLSTATE) : nullptr;
    return state ? QString::fromLatin1(state) : QString();
}

QString PgResult::Message() const {
    if (result_ == nullptr) return QStringLiteral("brak wyniku");
    if (Ok()) return {};
    const char* primary = PQresultErrorField(result_, PG_DIAG_MESSAGE_PRIMARY);
    return FirstLine(primary ? primary : PQresultErrorMessage(result_));
}

int PgResult::Rows() const { return result_ ? PQntuples(result_) : 0; }

int PgResult::Columns() const { return result_ ? PQnfields(result_) : 0; }

bool PgResult::IsNull(int row, int column) const {
    return row >= Rows() || column >= Columns() || PQgetisnull(result_, row, column);
}

QByteArray PgResult::Value(int row, int column) const {
    if (IsNull(row, column)) return {};
    return QByteArray(PQgetvalue(result_, row, column), PQgetlength(result_, row, column));
}

QString PgResult::Text(int row, int column) const { return QString::fromUtf8(Value(row, column)); }

qint64 PgResult::Number(int row, int column) const { return Value(row, column).toLongLong(); }

qint64 PgResult::AffectedRows() const {
    return result_ ? QByteArray(PQcmdTuples(result_)).toLongLong() : 0;
}

PgLink::PgLink(int stopFd) : stopFd_(stopFd) {}

PgLink::~PgLink() { Drop(); }

bool PgLink::UsedPassword() const {
    return conn_ != nullptr && PQconnectionUsedPassword(conn_) == 1;
}

PgWait PgLink::WaitSocket(bool read, bool write, PgDeadline deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - PgClock::now());
        if (left.count() <= 0) return PgWait::TimedOut;
        pollfd fds[2] = {
            {PQsocket(conn_), static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0)), 0},
            {stopFd_, POLLIN, 0}};
        const int count = stopFd_ >= 0 ? 2 : 1;
        const int slice = static_cast<int>(std::min(left, kPollSlice).count());
        const int ready = ::poll(fds, count, slice);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            error_ = QStringLiteral("poll: ") + QString::fromLocal8Bit(std::strerror(errno));
            return PgWait::Failed;
        }
        if (count == 2 && (fds[1].revents & POLLIN)) return PgWait::Stopped;
        // Also when the slice ended: the caller reads what libpq may hold already.
        return PgWait::Done;
    }
}

PgWait PgLink::Lost() {
    error_ = FirstLine(PQerrorMessage(conn_));
    if (error_.isEmpty()) error_ = QStringLiteral("serwer zamknął połączenie");
    errorState_.clear();
    return PgWait::Failed;
}

PgWait PgLink::Ended(PgWait why) {
    if (why == PgWait::TimedOut || why == PgWait::Stopped) {
        error_ = PgWaitText(why);
        errorState_.clear();
    }
    return why;
}

PgWait PgLink::Connect(const std::vector<std::pair<QString, QString>>& parameters,
                       PgDeadline deadline) {
    Drop();
    std::vector<QByteArray> storage;
    storage.reserve(parameters.size() * 2);
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& [key, value] : parameters) {
        storage.push_back(key.toUtf8());
        keys.push_back(storage.back().constData());
        storage.push_back(value.toUtf8());
        values.push_back(storage.back().constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    conn_ = PQconnectStartParams(keys.data(), values.data(), 0);
    if (conn_ == nullptr) {
        error_ = QStringLiteral("brak pamięci na połączenie");
        return PgWait::Failed;
    }
    // Notices ("... already exists, skipping") are no news for the operator.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    if (PQstatus(conn_) == CONNECTION_BAD) {
        Lost();
        Drop();
        return PgWait::Failed;
    }
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED) {
            Lost();
            Drop();
            return PgWait::Failed;
        }
        const PgWait waited =
            WaitSocket(state == PGRES_POLLING_READING, state == PGRES_POLLING_WRITING, deadline);
        if (waited != PgWait::Done) {
            const QString why = waited == PgWait::Failed ? error_ : PgWaitText(waited);
            Drop();
            error_ = why;
            return waited;
        }
        state = PQconnectPoll(conn_);
    }
    if (PQsetnonblocking(conn_, 1) != 0) {
        Lost();
        Drop();
        return PgWait::Failed;
    }
    error_.clear();
    errorState_.clear();
    return PgWait::Done;
}

PgWait PgLink::Flush(PgDeadline deadline) {
    for (;;) {
        const int flushed = PQflush(conn_);
        if (flushed == 0) return PgWait::Done;
        if (flushed < 0) return Lost();
        // Read while waiting to write: the server may be waiting for us to take its answer.
        const PgWait waited = WaitSocket(true, true, deadline);
        if (waited != PgWait::Done) return Ended(waited);
        if (!PQconsumeInput(conn_)) return Lost();
    }
}

bool PgLink::Send(const char* sql) {
    if (conn_ == nullptr) {
        error_ = QStringLiteral("brak połączenia");
        return false;
    }
    if (!PQsendQuery(conn_, sql)) {
        Lost();
        return false;
    }
    busy_ = true;
    return true;
}

bool PgLink::Send(const char* sql, const std::vector<QByteArray>& values) {
    if (conn_ == nullptr) {
        error_ = QStringLiteral("brak połączenia");
        return false;
    }
    std::vector<const char*> texts;
    texts.reserve(values.size());
    for (const QByteArray& value : values) texts.push_back(value.isNull() ? nullptr : value.data());
    if (!PQsendQueryParams(conn_, sql, static_cast<int>(texts.size()), nullptr, texts.data(),
                           nullptr, nullptr, 0)) {
        Lost();
        return false;
    }
    busy_ = true;
    return true;
}

bool PgLink::SendBinary(const char* sql, const std::vector<unsigned>& oids,
                        const std::vector<QByteArray>& values) {
    if (conn_ == nullptr) {
        error_ = QStringLiteral("brak połączenia");
        return false;
    }
    std::vector<const char*> data;
    std::vector<int> lengths;
    const std::vector<int> formats(values.size(), 1);
    for (const QByteArray& value : values) {
        data.push_back(value.isNull() ? nullptr : value.constData());
        lengths.push_back(static_cast<int>(value.size()));
    }
    if (!PQsendQueryParams(conn_, sql, static_cast<int>(values.size()), oids.data(), data.data(),
                           lengths.data(), formats.data(), 0)) {
        Lost();
        return false;
    }
    busy_ = true;
    return true;
}

PgWait PgLink::Await(std::vector<PgResult>& results, PgDeadline deadline) {
    if (conn_ == nullptr) {
        error_ = QStringLiteral("brak połączenia");
        return PgWait::Failed;
    }
    const PgWait flushed = Flush(deadline);
    if (flushed != PgWait::Done) return flushed;
    for (;;) {
        while (!PQisBusy(conn_)) {
            PGresult* result = PQgetResult(conn_);
            if (result == nullptr) {
                busy_ = false;
                return PgWait::Done;
            }
            const ExecStatusType status = PQresultStatus(result);
            results.emplace_back(result);
            if (status == PGRES_COPY_IN) return PgWait::Done;
            if (status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
                error_ = QStringLiteral("nieoczekiwany COPY od serwera");
                return PgWait::Failed;
            }
        }
        if (PQstatus(conn_) == CONNECTION_BAD) return Lost();
        const PgWait waited = WaitSocket(true, false, deadline);
        if (waited != PgWait::Done) return Ended(waited);
        if (!PQconsumeInput(conn_)) return Lost();
    }
}

PgWait PgLink::Exec(const char* sql, std::vector<PgResult>& results, PgDeadline deadline) {
    if (!Send(sql)) return PgWait::Failed;
    return Await(results, deadline);
}

PgWait PgLink::Exec(const char* sql, const std::vector<QByteArray>& values,
                    std::vector<PgResult>& results, PgDeadline deadline) {
    if (!Send(sql, values)) return PgWait::Failed;
    return Await(results, deadline);
}

PgWait PgLink::Run(const char* sql, PgDeadline deadline) {
    std::vector<PgResult> results;
    const PgWait waited = Exec(sql, results, deadline);
    if (waited != PgWait::Done) return waited;
    for (const PgResult& result : results) {
        if (!result.Ok() || result.WantsCopyData()) {
            error_ =
                result.WantsCopyData() ? QStringLiteral("nieoczekiwany COPY") : result.Message();
            errorState_ = result.SqlState();
            return PgWait::Failed;
        }
    }
    return PgWait::Done;
}

void PgLink::Drop() {
    if (conn_ == nullptr) return;
    if (busy_ && PQstatus(conn_) == CONNECTION_OK) CancelInBackground(conn_);
    PQfinish(conn_);  // non-blocking: the goodbye goes only if the socket takes it at once
    conn_ = nullptr;
    busy_ = false;
}

QString PgWaitText(PgWait wait) {
    switch (wait) {
        case PgWait::TimedOut:
            return QStringLiteral("serwer nie odpowiada (minął czas oczekiwania)");
        case PgWait::Stopped:
            return QStringLiteral("przerwano przy zamykaniu");
        case PgWait::Failed:
        case PgWait::Done:
            break;
    }
    return {};
}

}  // namespace central
