#pragma once
// One connection to the central PostgreSQL through libpq that never holds its thread longer than
// a deadline: libpq's non-blocking calls, with poll() on the connection's socket and on a stop
// descriptor; a readable stop descriptor ends every wait at once. Statements go as the simple
// protocol without values in them: values travel as parameters of the unnamed statement (bound
// by the server, never part of a statement's text).
// Dropping a connection whose statement still runs asks the server to cancel it (PQcancel, on a
// short thread of its own that nobody waits for: PQcancel itself waits on a hung server).

#include <QByteArray>
#include <QString>
#include <chrono>
#include <utility>
#include <vector>

struct pg_conn;
struct pg_result;

namespace central {

using PgClock = std::chrono::steady_clock;
using PgDeadline = PgClock::time_point;

inline PgDeadline DeadlineIn(std::chrono::milliseconds from) { return PgClock::now() + from; }

// One result of a statement (owned).
class PgResult {
  public:
    PgResult() = default;
    explicit PgResult(pg_result* result) : result_(result) {}
    ~PgResult();
    PgResult(PgResult&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
    PgResult& operator=(PgResult&& other) noexcept;
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    // The statement succeeded (a command, rows, or a COPY FROM STDIN waiting for data).
    bool Ok() const;
    bool WantsCopyData() const;
    // The SQLSTATE of a failure ("42501"), empty when there is none.
    QString SqlState() const;
    // The server's or libpq's message (its first line), empty on success.
    QString Message() const;
    int Rows() const;
    int Columns() const;
    bool IsNull(int row, int column) const;
    QByteArray Value(int row, int column) const;  // the text form
    QString Text(int row, int column) const;      // UTF-8
    qint64 Number(int row, int column) const;     // 0 when it is not a number
    qint64 AffectedRows() const;                  // of an INSERT, UPDATE or DELETE

  private:
    pg_result* result_ = nullptr;
};

enum class PgWait { Done, Failed, TimedOut, Stopped };

class PgLink {
  public:
    // `stopFd`: a descriptor that becomes readable when every wait should end (-1: none).
    explicit PgLink(int stopFd = -1);
    ~PgLink();  // Drop()
    PgLink(const PgLink&) = delete;
    PgLink& operator=(const PgLink&) = delete;

    bool IsOpen() const { return conn_ != nullptr; }
    // The server asked for the password when this connection was made.
    bool UsedPassword() const;

    // Connects with libpq's keywords and values (PgConnectParameters plus host, port, dbname and
    // user); the password comes from the password file. Any open connection is dropped first.
    PgWait Connect(const std::vector<std::pair<QString, QString>>& parameters, PgDeadline deadline);

    // Sends statements (one or more, ';'-separated) without waiting for them; false when the
    // connection refused (Error()).
    bool Send(const char* sql);
    // Sends one statement with values for $1, $2 ... (text form, bound by the server: never part
    // of the statement's text).
    bool Send(const char* sql, const std::vector<QByteArray>& values);
    // The same with values in PostgreSQL's binary form, of the types `oids` (one per value).
    bool SendBinary(const char* sql, const std::vector<unsigned>& oids,
                    const std::vector<QByteArray>& values);
    // Waits for what was sent: every result in order, until all are in or a COPY FROM STDIN
    // waits for its data (the last result then WantsCopyData()).
    PgWait Await(std::vector<PgResult>& results, PgDeadline deadline);
    // Send and Await.
    PgWait Exec(const char* sql, std::vector<PgResult>& results, PgDeadline deadline);
    PgWait Exec(const char* sql, const std::vector<QByteArray>& values,
                std::vector<PgResult>& results, PgDeadline deadline);
    // Exec of statements that return nothing the caller needs: Done only when each succeeded;
    // a failed statement gives Failed with its SQLSTATE and message in Error() / ErrorState().
    PgWait Run(const char* sql, PgDeadline deadline);

    // Waits until what was sent has left libpq's buffer (the server then works on it while the
    // caller does something else before Await).
    PgWait Flush(PgDeadline deadline);

    // True while something sent has not given all its results.
    bool Busy() const { return busy_; }

    // Closes the connection at once; a statement still running is cancelled in the background.
    void Drop();

    // Why the last call failed: libpq's or the server's message, or what the wait ran into.
    const QString& Error() const { return error_; }
    const QString& ErrorState() const { return errorState_; }

  private:
    PgWait WaitSocket(bool read, bool write, PgDeadline deadline);
    PgWait Lost();  // the connection broke: its message, Failed
    PgWait Ended(PgWait why);

    pg_conn* conn_ = nullptr;
    int stopFd_ = -1;
    bool busy_ = false;
    QString error_;
    QString errorState_;
};

// What a wait that did not finish says (Polish), for the operator's cause.
QString PgWaitText(PgWait wait);

}  // namespace central
