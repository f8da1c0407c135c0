#pragma once
// Small decisions of the central upload, kept apart so that tests check them directly: the
// pause between attempts, the state the window shows, the causes in Polish, the connection
// options.

#include <QString>
#include <utility>
#include <vector>

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

// The cause while the first connection is being made (not a fault).
inline constexpr const char* kConnectingCause = "łączenie";

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

// The cause the operator reads for a server or driver message: its first line without the
// driver's prefixes, in Polish when it is one of the known causes (the table in
// CentralTexts.cpp), in the server's words otherwise.
QString ShortCause(const QString& message);

// The connection's libpq keywords and values besides host, port, database and user: the TLS mode
// (verify-full unless require or disable was chosen), the server's root certificate when one is
// set, SCRAM with channel binding whenever TLS is on (so the password goes to no server that
// skips authentication or cannot prove it knows the password), a connect timeout and TCP
// keep-alives so that a vanished server is noticed.
std::vector<std::pair<QString, QString>> PgConnectParameters(const CentralSettings& settings);

// The same for QPSQL's connect options ("key='value';..."). QPSQL turns every ';' into a space,
// so a value holding one cannot be passed: ConnectSettingsProblem says so first.
QString PgConnectOptions(const CentralSettings& settings);

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
