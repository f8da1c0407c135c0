#include "CentralDbWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "AddOnSettingsStore.h"
#include "CentralSettingsFile.h"
#include "PgPassFile.h"

CentralDbWindow::CentralDbWindow(AddOnSettingsStore& store, QWidget* parent)
    : QDialog(parent), store_(store) {
    setWindowTitle(QStringLiteral("Baza centralna"));
    setModal(false);
    setMinimumWidth(440);
    BuildForm();
    BuildButtons();
    Fill(store_.Settings().central);
    LKomunikat->setText(QString::fromStdString(store_.ErrorText()));
    ShowStatus(central::CentralStatus{});
}

void CentralDbWindow::BuildForm() {
    auto* layout = new QVBoxLayout(this);
    CBWlaczona = new QCheckBox(QStringLiteral("Wysyłaj dziennik do bazy centralnej"), this);
    CBWlaczona->setObjectName(QStringLiteral("CBWlaczona"));
    layout->addWidget(CBWlaczona);

    auto* form = new QFormLayout;
    auto line = [this](const char* name) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        return edit;
    };
    EHost = line("EHost");
    SPort = new QSpinBox(this);
    SPort->setObjectName(QStringLiteral("SPort"));
    SPort->setRange(1, 65535);
    EBaza = line("EBaza");
    EUzytkownik = line("EUzytkownik");
    CSSL = new QComboBox(this);
    CSSL->setObjectName(QStringLiteral("CSSL"));
    CSSL->addItems(
        {QStringLiteral("verify-full"), QStringLiteral("require"), QStringLiteral("disable")});
    LSSLOstrzezenie = new QLabel(this);
    LSSLOstrzezenie->setObjectName(QStringLiteral("LSSLOstrzezenie"));
    LSSLOstrzezenie->setWordWrap(true);
    LSSLOstrzezenie->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    connect(CSSL, &QComboBox::currentTextChanged, this, &CentralDbWindow::ShowTlsWarning);
    ECA = line("ECA");
    ECA->setPlaceholderText(QStringLiteral("~/.postgresql/root.crt"));
    ECA->setToolTip(
        QStringLiteral("Certyfikat główny (CA), którym podpisano certyfikat serwera; "
                       "ścieżka względna liczy się od katalogu roboczego programu."));
    EStacja = line("EStacja");
    EHaslo = line("EHaslo");
    EHaslo->setEchoMode(QLineEdit::Password);
    EHaslo->setPlaceholderText(QStringLiteral("bez zmian"));
    form->addRow(QStringLiteral("Serwer:"), EHost);
    form->addRow(QStringLiteral("Port:"), SPort);
    form->addRow(QStringLiteral("Baza:"), EBaza);
    form->addRow(QStringLiteral("Użytkownik:"), EUzytkownik);
    form->addRow(QStringLiteral("TLS (sslmode):"), CSSL);
    form->addRow(QString(), LSSLOstrzezenie);
    form->addRow(QStringLiteral("Certyfikat CA serwera:"), ECA);
    form->addRow(QStringLiteral("Stacja:"), EStacja);
    form->addRow(QStringLiteral("Hasło:"), EHaslo);
    layout->addLayout(form);

    auto* hint = new QLabel(QStringLiteral("Hasło trafia tylko do pliku haseł PostgreSQL: %1")
                                .arg(central::PgPassFilePath()),
                            this);
    hint->setWordWrap(true);
    layout->addWidget(hint);
    LStan = new QLabel(this);
    LStan->setObjectName(QStringLiteral("LStan"));
    LStan->setWordWrap(true);
    LOstatnie = new QLabel(this);
    LOstatnie->setObjectName(QStringLiteral("LOstatnie"));
    LKomunikat = new QLabel(this);
    LKomunikat->setObjectName(QStringLiteral("LKomunikat"));
    LKomunikat->setWordWrap(true);
    layout->addWidget(LStan);
    layout->addWidget(LOstatnie);
    layout->addWidget(LKomunikat);
}

void CentralDbWindow::BuildButtons() {
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* save = buttons->addButton(QStringLiteral("&Zapisz"), QDialogButtonBox::AcceptRole);
    save->setObjectName(QStringLiteral("BZapisz"));
    QPushButton* close =
        buttons->addButton(QStringLiteral("Za&mknij"), QDialogButtonBox::RejectRole);
    connect(save, &QPushButton::clicked, this, &CentralDbWindow::BZapiszClick);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    layout()->addWidget(buttons);
}

void CentralDbWindow::Fill(const CentralSettings& settings) {
    const CentralSettings shown = central::NormalisedCentralSettings(settings);
    CBWlaczona->setChecked(shown.enabled);
    EHost->setText(QString::fromStdString(shown.host));
    SPort->setValue(shown.port);
    EBaza->setText(QString::fromStdString(shown.database));
    EUzytkownik->setText(QString::fromStdString(shown.user));
    CSSL->setCurrentText(QString::fromStdString(shown.ssl));
    ECA->setText(QString::fromStdString(shown.ca));
    ShowTlsWarning();
    EStacja->setText(QString::fromStdString(shown.station));
}

CentralSettings CentralDbWindow::FromFields() const {
    // What the window does not show is saved as the store holds it.
    CentralSettings settings = store_.Settings().central;
    settings.enabled = CBWlaczona->isChecked();
    settings.host = EHost->text().toStdString();
    settings.port = SPort->value();
    settings.database = EBaza->text().toStdString();
    settings.user = EUzytkownik->text().toStdString();
    settings.ssl = CSSL->currentText().toStdString();
    settings.ca = ECA->text().toStdString();
    settings.station = EStacja->text().toStdString();
    return central::NormalisedCentralSettings(settings);
}

void CentralDbWindow::BZapiszClick() {
    const CentralSettings settings = FromFields();
    std::string error;
    // The station restarts the upload with them; a new password needs nothing: it is read from
    // the password file at the next connection.
    if (!store_.Save(settings, error)) {
        LKomunikat->setText(QStringLiteral("Nie zapisano dodatki.ini: ") +
                            QString::fromStdString(error));
        return;
    }
    QString message = QStringLiteral("Zapisano.");
    if (!EHaslo->text().isEmpty()) {
        QString passError;
        const QString file = central::PgPassFilePath();
        if (central::StorePgPassEntry(file, QString::fromStdString(settings.host), settings.port,
                                      QString::fromStdString(settings.database),
                                      QString::fromStdString(settings.user), EHaslo->text(),
                                      passError)) {
            message += QStringLiteral(" Hasło zapisane w ") + file + QLatin1Char('.');
            EHaslo->clear();
        } else {
            message +=
                QStringLiteral(" Hasła nie zapisano (") + file + QStringLiteral("): ") + passError;
        }
    }
    LKomunikat->setText(message);
}

void CentralDbWindow::ShowStatus(const central::CentralStatus& status) {
    LStan->setText(QStringLiteral("Stan: ") + central::CentralStateText(status));
    LOstatnie->setText(central::LastUploadText(status.lastUploadUtcMs));
}

void CentralDbWindow::ShowTlsWarning() {
    const QString warning = central::TlsModeWarning(CSSL->currentText().toStdString());
    LSSLOstrzezenie->setText(warning);
    LSSLOstrzezenie->setVisible(!warning.isEmpty());
}
