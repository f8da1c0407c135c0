#pragma once
// ServiceWindow: "Serwer wagi", shown without being modal from "Widok → Serwer wagi...". It edits
// dodatki.ini's [SerwerWagi] through the settings store (the switch "Udostępniaj odczyty innym
// programom", the address, the port, the token with "Generuj", the station's other names, the
// allowed browser origins); the station applies a saved section to the running service. It shows
// the service's state: "działa: http://127.0.0.1:8765/" as a
// link, or "błąd: <cause>". The token is masked; "Pokaż" shows it, "Kopiuj" copies it.

#include <QDialog>
#include <QString>

#include "AddOnSettings.h"
#include "WeightService.h"

class AddOnSettingsStore;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// A new token: 32 random bytes from the system's generator, as base64url without padding.
QString GenerateServiceToken();

// What the form holds, checked: empty `error` when it may be saved (Polish otherwise).
struct ServiceForm {
    ServiceSettings settings;
    QString error;
};
ServiceForm ReadServiceForm(ServiceSettings base, bool enabled, const QString& address, int port,
                            const QString& token, const QString& names, const QString& origins);

// The state label's rich text: a running service's address as a link.
QString ServiceStateHtml(const QString& stateText, const QString& url);

class ServiceWindow : public QDialog {
    Q_OBJECT
  public:
    // `store` and `service` belong to the station and outlive the window.
    ServiceWindow(AddOnSettingsStore& store, WeightService& service, QWidget* parent = nullptr);

    // Saves the form into the store's [SerwerWagi] (the station then applies it).
    bool BZapiszClick();
    void BGenerujClick();
    void BPokazClick();
    void BKopiujClick();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void BuildForm();
    void LoadForm();
    void ShowState();

    AddOnSettingsStore& store_;
    WeightService& service_;

    QCheckBox* CBWlaczony = nullptr;
    QLineEdit* EAdres = nullptr;
    QSpinBox* EPort = nullptr;
    QLineEdit* EToken = nullptr;
    QPushButton* BGeneruj = nullptr;
    QPushButton* BPokaz = nullptr;
    QPushButton* BKopiuj = nullptr;
    QLineEdit* ENazwy = nullptr;
    QLineEdit* EZrodla = nullptr;
    QLabel* LStan = nullptr;
    QLabel* LKomunikat = nullptr;
    QPushButton* BZapisz = nullptr;
    QPushButton* BZamknij = nullptr;
};
