#include "AddOnIndicators.h"

AddOnIndicator CentralIndicator(const central::CentralStatus& status) {
    if (!status.enabled) return {};
    AddOnIndicator shown;
    const bool connecting =
        !status.connected && status.cause == QString::fromUtf8(central::kConnectingCause);
    QString state;
    if (status.held) {
        state = QStringLiteral("wstrzymana");
        shown.fault = true;
    } else if (status.connected) {
        state =
            status.cause.isEmpty() ? QStringLiteral("połączona") : QStringLiteral("wysyłanie stoi");
        shown.fault = !status.cause.isEmpty();
    } else if (connecting) {
        state = QStringLiteral("łączenie…");
    } else {
        state = QStringLiteral("brak połączenia");
        shown.fault = true;
    }
    shown.text = QStringLiteral("Baza: ") + state;
    if (status.backlogCounted) shown.text += QStringLiteral(", zaległe: %1").arg(status.backlog);
    shown.tooltip = QStringLiteral("Baza centralna: ") + central::CentralStateText(status) +
                    QLatin1Char('\n') + central::LastUploadText(status.lastUploadUtcMs);
    return shown;
}

AddOnIndicator ServiceIndicator(WeightService::State state, const QString& url,
                                const QString& cause) {
    AddOnIndicator shown;
    switch (state) {
        case WeightService::State::Off:
            return {};
        case WeightService::State::Starting:
            shown.text = QStringLiteral("Serwer: uruchamianie…");
            break;
        case WeightService::State::Running:
            shown.text = QStringLiteral("Serwer: działa");
            break;
        case WeightService::State::Failed:
            shown.text = QStringLiteral("Serwer: błąd");
            shown.fault = true;
            break;
    }
    shown.tooltip = QStringLiteral("Serwer wagi: ") + ServiceStateText(state, url, cause);
    return shown;
}
