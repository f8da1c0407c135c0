#pragma once
// ServiceWindow: "Serwer wagi", shown without being modal from "Widok → Serwer wagi...". It edits
// dodatki.ini's [SerwerWagi] (the switch "Udostępniaj odczyty innym programom", the address, the
// port, the token with "Generuj", the station's other names, the allowed browser origins),
// applies them to the running service and shows its state: "działa: http://127.0.0.1:8765/" as a
// link, or "błąd: <cause>". The token is masked; "Pokaż" shows it, "Kopiuj" copies it.

#include <QDialog>
#include <QString>
#include <filesystem>

#include "AddOnSettings.h"
#include "WeightService.h"

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
    // `folder`: where dodatki.ini lives (the working directory by default).
    explicit ServiceWindow(WeightService& service, std::filesystem::path folder = {},
                           QWidget* parent = nullptr);

    // Saves the form into dodatki.ini (only [SerwerWagi] changes) and applies it.
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

    WeightService& service_;
    std::filesystem::path folder_;
    ServiceSettings loaded_;

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
