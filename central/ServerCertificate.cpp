#include "ServerCertificate.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QtEndian>

#include "CentralTexts.h"

namespace central {
namespace {

QString UtcText(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QStringLiteral(" UTC");
}

// The first error of the handshake that says something about the certificate, in Polish.
QString Described(const QList<QSslError>& errors, const QString& caPath) {
    for (const QSslError& error : errors) {
        const QSslCertificate certificate = error.certificate();
        switch (error.error()) {
            case QSslError::CertificateExpired:
                return QStringLiteral("certyfikat serwera wygasł %1")
                    .arg(UtcText(certificate.expiryDate()));
            case QSslError::CertificateNotYetValid:
                return QStringLiteral("certyfikat serwera jest ważny dopiero od %1")
                    .arg(UtcText(certificate.effectiveDate()));
            case QSslError::SelfSignedCertificate:
            case QSslError::SelfSignedCertificateInChain:
            case QSslError::UnableToGetLocalIssuerCertificate:
            case QSslError::UnableToGetIssuerCertificate:
            case QSslError::UnableToVerifyFirstCertificate:
            case QSslError::CertificateUntrusted:
            case QSslError::CertificateSignatureFailed:
                return QStringLiteral(
                           "certyfikat serwera nie pochodzi od CA z pliku „%1”: to "
                           "może nie być właściwy serwer")
                    .arg(caPath);
            case QSslError::CertificateRevoked:
                return QStringLiteral("certyfikat serwera został unieważniony");
            default:
                break;
        }
    }
    return {};
}

}  // namespace

QString RootCertificatePath(const CentralSettings& settings) {
    if (!settings.ca.empty()) return QString::fromStdString(settings.ca);
    const QString fromEnvironment = qEnvironmentVariable("PGSSLROOTCERT");
    if (!fromEnvironment.isEmpty()) return fromEnvironment;
    return QDir::home().absoluteFilePath(QStringLiteral(".postgresql/root.crt"));
}

QString ServerCertificateProblem(const CentralSettings& settings, int timeoutMs) {
    const QString caPath = RootCertificatePath(settings);
    const QList<QSslCertificate> authorities = QSslCertificate::fromPath(caPath);
    if (authorities.isEmpty() || !QSslSocket::supportsSsl()) return {};
    QSslSocket socket;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(authorities);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket.setSslConfiguration(configuration);
    socket.setPeerVerifyName(QString::fromStdString(settings.host));
    // One deadline for the whole check, so that stopping the uploader waits no longer.
    const QDeadlineTimer deadline(timeoutMs);
    const auto left = [&deadline] { return static_cast<int>(deadline.remainingTime()); };
    socket.connectToHost(QString::fromStdString(settings.host),
                         static_cast<quint16>(settings.port));
    if (!socket.waitForConnected(left())) return {};
    // SSLRequest: length 8, code 1234.5679; the server answers 'S' and TLS begins.
    char request[8];
    qToBigEndian<quint32>(8, request);
    qToBigEndian<quint32>(80877103, request + 4);
    socket.write(request, sizeof request);
    char answer = 0;
    if (!socket.waitForBytesWritten(left()) ||
        (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(left())) ||
        socket.read(&answer, 1) != 1 || answer != 'S') {
        return {};
    }
    socket.startClientEncryption();
    socket.waitForEncrypted(left());
    const QString problem = Described(socket.sslHandshakeErrors(), caPath);
    socket.abort();
    return problem;
}

QString ConnectFailureCause(const QString& message, const CentralSettings& settings) {
    if (message.contains(QLatin1String("certificate verify failed"))) {
        // Short: the uploader's thread must stay quick to stop.
        const QString exact = ServerCertificateProblem(settings, 1500);
        if (!exact.isEmpty()) return exact;
    }
    return ShortCause(message);
}

}  // namespace central
