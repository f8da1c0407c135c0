#include "PortStatusTexts.h"

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
            return QString(
                       "brak uprawnień do %1 — dodaj konto do grupy dialout i zaloguj się "
                       "ponownie")
                .arg(device);
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

QByteArray ProgramMessage(const QString& source, const QString& text) {
    return (QStringLiteral("Project1: ") + source + QStringLiteral(": ") + text).toLocal8Bit();
}
