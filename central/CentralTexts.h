#pragma once
// Small decisions of the central upload, kept apart so that tests check them directly: the
// pause between attempts, the state the window shows, the connection options.

#include <QString>

#include "AddOnSettings.h"

namespace central {

// What the uploader reports to whoever shows it.
struct CentralStatus {
    bool enabled = false;
    bool connected = false;
    QString cause;               // why there is no connection (empty when connected)
    qint64 backlog = 0;          // rows still to send
    qint64 lastUploadUtcMs = 0;  // when a batch was last stored centrally (0: never)
    qint64 ackedSeq = 0;
    bool operator==(const CentralStatus&) const = default;
};

inline constexpr int kFirstRetryPauseMs = 1000;
inline constexpr int kMaxRetryPauseMs = 30000;

// The pause after a failed attempt: 1 s first, then twice the previous one, up to `capMs`.
int NextRetryPauseMs(int previousMs, int capMs = kMaxRetryPauseMs);

// The cap of the pause: kMaxRetryPauseMs, or WAGA_CENTRAL_RETRY_MAX_MS (100 .. 30000) when set;
// the tests use it to keep outages of seconds.
int RetryCapFromEnvironment();

// "połączona, zaległe: 0" or "brak połączenia: <cause>; zaległe: 1234"; "wyłączona" when off.
QString CentralStateText(const CentralStatus& status);

// "ostatnie wysłanie: 2026-12-07 15:11:03" in local time, or "ostatnie wysłanie: jeszcze nie".
QString LastUploadText(qint64 lastUploadUtcMs);

// The first line of a server or driver message, without the driver's prefixes.
QString ShortCause(const QString& message);

// The connection options for QPSQL: sslmode (disable, require or verify-full; anything else is
// require), a connect timeout and TCP keep-alives so that a vanished server is noticed.
QString PgConnectOptions(const CentralSettings& settings);

// The station name: the setting, or the computer's host name when it is empty.
QString StationName(const CentralSettings& settings);

}  // namespace central
