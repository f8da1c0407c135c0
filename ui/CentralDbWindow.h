#pragma once
// CentralDbWindow: "Baza centralna", shown without being modal (Widok → Baza centralna...). The
// connection to the central database (host, port, database, user, TLS mode, the server's root
// certificate, the station's name), whether the journal is sent at all, and the password, which
// goes only to the PostgreSQL password file (mode 0600), never to dodatki.ini. A TLS mode that
// does not check the server is marked unsafe beside it. It shows the uploader's state and the
// time of the last upload; it never waits on the network itself. The settings are saved through
// the settings store; the station restarts the upload with them.

#include <QDialog>
#include <QString>

#include "AddOnSettings.h"
#include "CentralTexts.h"

class AddOnSettingsStore;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

class CentralDbWindow : public QDialog {
    Q_OBJECT
  public:
    // `store` belongs to the station and outlives the window.
    explicit CentralDbWindow(AddOnSettingsStore& store, QWidget* parent = nullptr);

    // Shows the uploader's state.
    void ShowStatus(const central::CentralStatus& status);

  private:
    void BuildForm();
    void BuildButtons();
    void Fill(const CentralSettings& settings);
    CentralSettings FromFields() const;
    void BZapiszClick();
    void ShowTlsWarning();

    AddOnSettingsStore& store_;
    QCheckBox* CBWlaczona = nullptr;
    QLineEdit* EHost = nullptr;
    QSpinBox* SPort = nullptr;
    QLineEdit* EBaza = nullptr;
    QLineEdit* EUzytkownik = nullptr;
    QComboBox* CSSL = nullptr;
    QLabel* LSSLOstrzezenie = nullptr;
    QLineEdit* ECA = nullptr;
    QLineEdit* EStacja = nullptr;
    QLineEdit* EHaslo = nullptr;
    QLabel* LStan = nullptr;
    QLabel* LOstatnie = nullptr;
    QLabel* LKomunikat = nullptr;
};
