#pragma once
// The additions' state at a glance: a short text in the menu bar's right corner for the weight
// service and for the central upload (the status bar stays the port's one panel), the whole
// state and its cause in the tooltip, shown as a fault while the addition is not doing its job.

#include <QString>

#include "CentralTexts.h"
#include "WeightService.h"

struct AddOnIndicator {
    QString text;  // empty: the addition is off and nothing is shown
    QString tooltip;
    bool fault = false;
    bool operator==(const AddOnIndicator&) const = default;
};

// "Baza: połączona, zaległe: 0", "Baza: łączenie…", "Baza: brak połączenia, zaległe: 12",
// "Baza: wysyłanie stoi, zaległe: 3", "Baza: wstrzymana, zaległe: 5"; the backlog once counted.
AddOnIndicator CentralIndicator(const central::CentralStatus& status);

// "Serwer: uruchamianie…", "Serwer: działa", "Serwer: błąd".
AddOnIndicator ServiceIndicator(WeightService::State state, const QString& url,
                                const QString& cause);
