#include "PortStatusTexts.h"

#include <QCoreApplication>
#include <cstring>

QString PortOpenedText(PortNumber port, BaudRate speed) {
    return QString("Połączenie RS232, COM%1, prędkość: %2 rozpoczęte.")
        .arg(static_cast<int>(port) + 1)
        .arg(QString::fromStdString(SpeedToText(speed)));
}

QString ReconnectFailedText() { return "Error: nie można się połączyć! Sprawdź ustawienia!"; }

QString StartFailedText() {
    return QStringLiteral(
        "BŁĄD W TRAKCIE PRÓBY NAWIĄZANIA POŁĄCZENIA z WAGĄ! SPRAWDŹ KONFIGURACJE KOMPUTERA oraz "
        "KABEL i PONOWNIE URUCHOM PROGRAM!");
}

QString PortLostText(PortNumber port) {
    return QString("Połączenie RS232, COM%1 przerwane. Ponawiam próbę połączenia...")
        .arg(static_cast<int>(port) + 1);
}

QString OpenFailureCause(const OpenResult& result) {
    const QString device = QString::fromLocal8Bit(result.device.c_str());
    switch (result.failure) {
        case OpenFailure::None:
            return {};
        case OpenFailure::MissingDevice:
            return QString("brak urządzenia %1").arg(device);
        case OpenFailure::PermissionDenied:
            return PermissionCause(device, ReadDeviceAccess(result.device));
        case OpenFailure::Busy:
            return QString("%1: port zajęty przez inny program").arg(device);
        case OpenFailure::NotATerminal:
            return QString("%1: to nie jest port szeregowy").arg(device);
        case OpenFailure::Other:
            break;
    }
    return QString("nie można otworzyć %1: %2 (błąd %3)")
        .arg(device, QString::fromLocal8Bit(std::strerror(result.systemError)))
        .arg(result.systemError);
}

QString PermissionCause(const QString& device, const DeviceAccess& access) {
    QString text = QString("brak uprawnień do %1").arg(device);
    if (!access.known) return text;
    const QString group = QString::fromStdString(access.group);
    text += QString(" (właściciel %1, grupa %2, prawa %3)")
                .arg(QString::fromStdString(access.owner), group)
                .arg(access.mode, 4, 8, QLatin1Char('0'));
    const bool groupReadsAndWrites = (access.mode & 0060) == 0060;
    const QString byAdministrator =
        "grupa nie ma prawa odczytu i zapisu — prawa urządzenia ustawia administrator (np. "
        "regułą udev)";
    if (access.processInGroup) {
        return text + QString("; konto jest w grupie %1, ale %2")
                          .arg(group, groupReadsAndWrites ? "urządzenie i tak odmawia dostępu"
                                                          : byAdministrator);
    }
    if (access.accountInGroup) {
        return text + QString(
                          "; konto dodano do grupy %1 po zalogowaniu — wyloguj się i zaloguj "
                          "ponownie")
                          .arg(group);
    }
    if (groupReadsAndWrites) {
        return text + QString(
                          "; konto nie jest w grupie %1 — dodaj je do tej grupy i zaloguj się "
                          "ponownie")
                          .arg(group);
    }
    return text + QString("; konto nie jest w grupie %1, a ta %2").arg(group, byAdministrator);
}

QString PortStatusText(const PortStatus& status) {
    switch (status.step) {
        case PortStep::Opened:
            return PortOpenedText(status.port, status.speed) +
                   (status.attempt == PortAttempt::Start ? QStringLiteral(" ") : QString());
        case PortStep::OpenFailed:
            return status.attempt == PortAttempt::Start ? StartFailedText() : ReconnectFailedText();
        case PortStep::Lost:
            return PortLostText(status.port);
        case PortStep::Closed:
            break;
    }
    return {};
}

QString PortLogText(const PortStatus& status) {
    switch (status.step) {
        case PortStep::Opened:
            return PortOpenedText(status.port, status.speed);
        case PortStep::OpenFailed:
            return OpenFailureCause(status.open) +
                   (status.retrying ? QStringLiteral("; próba co sekundę") : QString());
        case PortStep::Lost:
            return QStringLiteral("połączenie przerwane, ponawiam próbę połączenia");
        case PortStep::Closed:
            return QStringLiteral("port zamknięty");
    }
    return {};
}

QByteArray ProgramMessage(const QString& source, const QString& text) {
    const QString program = QCoreApplication::instance() != nullptr
                                ? QCoreApplication::applicationName()
                                : QStringLiteral("Project1");
    return (program + QStringLiteral(": ") + source + QStringLiteral(": ") + text).toLocal8Bit();
}
