#pragma once
// Why the server's certificate was refused. libpq says only "certificate verify failed"; the
// operator needs to know whether it expired, is not valid yet, or comes from another CA. This
// makes a TLS handshake of its own with the server (PostgreSQL's SSLRequest, then TLS checked
// against the same root certificate) and reads what the check found. It blocks for at most the
// timeout in all: call it on the uploader's thread only.

#include <QString>

#include "AddOnSettings.h"

namespace central {

// The root certificate libpq checks the server against: the CA setting, else PGSSLROOTCERT,
// else ~/.postgresql/root.crt.
QString RootCertificatePath(const CentralSettings& settings);

// The refusal in Polish ("certyfikat serwera wygasł 2026-12-06 19:50 UTC", ...), or empty when
// the handshake does not tell (the server went away, the file cannot be read, ...).
QString ServerCertificateProblem(const CentralSettings& settings, int timeoutMs = 5000);

// The cause of a failed connection: ShortCause of libpq's message, told exactly when the
// server's certificate was refused.
QString ConnectFailureCause(const QString& message, const CentralSettings& settings);

}  // namespace central
