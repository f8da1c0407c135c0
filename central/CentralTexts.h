#pragma once
// Small decisions of the central upload, kept apart so that tests check them directly: the
// pause between attempts, the state the window shows, the causes in Polish, the connection
// options.

#include <QString>
#include <chrono>
#include <utility>
#include <vector>

#include "AddOnSettings.h"

namespace central {

// What the uploader reports to whoever shows it.
struct CentralStatus {
    bool enabled = false;
    bool connected = false;
    QString cause;               // why nothing is sent (no connection, the journal, a held row)
    qint64 backlog = 0;          // rows still to send
    qint64 lastUploadUtcMs = 0;  // when a batch was last stored centrally (0: never)
    qint64 ackedSeq = 0;
    // The upload stopped for a row it must not send (a seq held centrally by another line, a row
    // the journal cannot make sense of) until the settings are saved again or the program starts
    // again.
    bool held = false;
    bool backlogCounted = false;  // the backlog has been counted in the journal at least once
    bool operator==(const CentralStatus&) const = default;
};

// The cause while the first connection is being made (not a fault).
inline constexpr const char* kConnectingCause = "łączenie";

inline constexpr int kFirstRetryPauseMs = 1000;
inline constexpr int kMaxRetryPauseMs = 30000;

// The server ends a statement of ours that runs longer than this (a locked table, an overloaded
// server); the uploader waits for an answer that long and a few seconds more, then drops the
// connection (a server that stopped answering altogether). Connecting waits kConnectTimeoutS.
inline constexpr int kStatementTimeoutMs = 20000;
inline constexpr int kAnswerGraceMs = 5000;
inline constexpr int kConnectTimeoutS = 5;
// The wait for one statement's answer, the same for the upload and for waga-central --sprawdz.
inline constexpr std::chrono::milliseconds kAnswerWait{kStatementTimeoutMs + kAnswerGraceMs};

// How long after the start of its last batch a station sends the next one when rows trickle
// in: at least `gatherMs` (the Zbieraj_ms setting), and four times the server's last answer
// (the time from sending a batch to its answer) while that is longer, up to 2 × gatherMs, so that
// a busy server gets fewer and larger transactions while a row still waits at most about
// 2 × gatherMs. After a quiet spell the first row is past the interval and goes at once, alone.
int GatherIntervalMs(int gatherMs, int lastAnswerMs);

// The pause after a failed attempt: 1 s first, then twice the previous one, up to `capMs`.
int NextRetryPauseMs(int previousMs, int capMs = kMaxRetryPauseMs);

// The cap of the pause: kMaxRetryPauseMs, or WAGA_CENTRAL_RETRY_MAX_MS (100 .. 30000) when set;
// the tests use it to keep outages of seconds.
int RetryCapFromEnvironment();

// "połączona, zaległe: 0", "połączona, ale wysyłanie stoi: <cause>; zaległe: 12", "brak
// połączenia: <cause>; zaległe: 1234", "wstrzymana: <cause>; zaległe: 5"; "wyłączona" when off.
QString CentralStateText(const CentralStatus& status);

// "ostatnie wysłanie: 2026-12-07 15:11:03" in local time, or "ostatnie wysłanie: jeszcze nie".
QString LastUploadText(qint64 lastUploadUtcMs);

// The cause the operator reads for a server or driver message: its first line without the
// driver's prefixes, in Polish when it is one of the known causes (the table in
// CentralTexts.cpp), in the server's words otherwise.
QString ShortCause(const QString& message);

// The cause the operator reads for a failed statement: by its SQLSTATE where that says it
// (a statement timeout, the server shutting down, its disk full), else ShortCause of the message.
QString QueryFailureCause(const QString& sqlState, const QString& message);

// Why the upload stopped at row `seq`: the central database holds that seq for another line.
// Both lines in short (kind, text, first time in local time).
QString ConflictCause(qint64 seq, const QString& ourKind, const QString& ourText, qint64 ourFirstMs,
                      const QString& theirKind, const QString& theirText, qint64 theirFirstMs);

// The connection's libpq keywords and values: host, port, database and user; the TLS mode
// (verify-full unless require or disable was chosen), the server's root certificate when one is
// set, SCRAM with channel binding whenever TLS is on (so the password goes to no server that
// skips authentication or cannot prove it knows the password); UTF-8; TCP keep-alives and a TCP
// user timeout so that a vanished server is noticed; the server's own limits on our statements
// (kStatementTimeoutMs), on a transaction left open, and a check that we are still there while
// a statement runs. With settings.pooler neither the binding nor those limits (see
// CentralSettings::pooler).
std::vector<std::pair<QString, QString>> PgConnectParameters(const CentralSettings& settings);

// Why the settings cannot be used for a connection (Polish), or empty.
QString ConnectSettingsProblem(const CentralSettings& settings);

// True for a TLS mode that does not check who the server is (require, disable).
bool IsUnsafeTlsMode(const std::string& ssl);

// What the window and waga-central say about an unsafe TLS mode (Polish), empty for verify-full.
QString TlsModeWarning(const std::string& ssl);

// The notice the program shows (status bar's tooltip, standard error) for the uploader's state:
// its cause while it is on and has no connection (not while it is only connecting), else empty.
QString CentralNotice(const CentralStatus& status);

// The station name: the setting, or the computer's host name when it is empty.
QString StationName(const CentralSettings& settings);

}  // namespace central
