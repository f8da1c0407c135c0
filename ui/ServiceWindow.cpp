#include "ServiceWindow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QVBoxLayout>

#include "AddOnSettingsStore.h"
#include "ServiceRules.h"
#include "WeightService.h"

QString GenerateServiceToken() {
    QByteArray bytes(32, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()),
                                          bytes.size() / 4);
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

ServiceForm ReadServiceForm(ServiceSettings base, bool enabled, const QString& address, int port,
                            const QString& token, const QString& names, const QString& origins) {
    ServiceForm form;
    base.enabled = enabled;
    base.address = address.trimmed().toStdString();
    base.port = port;
    base.token = token.trimmed().toStdString();
    base.names = names.trimmed().toStdString();
    base.origins = origins.trimmed().toStdString();
    form.settings = base;
    if (base.token.find_first_of(" \t\r\n") != std::string::npos) {
        form.error = QStringLiteral("Token nie może zawierać spacji.");
    } else if (enabled) {
        const QString refusal = StartRefusal(base);
        if (!refusal.isEmpty()) form.error = refusal.left(1).toUpper() + refusal.mid(1) + '.';
    }
    return form;
}

QString ServiceStateHtml(const QString& stateText, const QString& url) {
    if (url.isEmpty() || !stateText.endsWith(url)) return stateText.toHtmlEscaped();
    const QString prefix = stateText.left(stateText.size() - url.size());
    return prefix.toHtmlEscaped() +
           QStringLiteral("<a href=\"%1\">%1</a>").arg(url.toHtmlEscaped());
}

ServiceWindow::ServiceWindow(AddOnSettingsStore& store, WeightService& service, QWidget* parent)
    : QDialog(parent), store_(store), service_(service) {
    setWindowTitle(QStringLiteral("Serwer wagi"));
    BuildForm();
    connect(&service_, &WeightService::stateChanged, this, &ServiceWindow::ShowState);
    LoadForm();
    ShowState();
}

void ServiceWindow::BuildForm() {
    CBWlaczony = new QCheckBox(QStringLiteral("Udostępniaj odczyty innym programom"), this);
    EAdres = new QLineEdit(this);
    EAdres->setToolTip(
        QStringLiteral("127.0.0.1: tylko programy na tym komputerze. "
                       "Inny adres wymaga tokenu."));
    EPort = new QSpinBox(this);
    EPort->setRange(1, 65535);
    EToken = new QLineEdit(this);
    EToken->setEchoMode(QLineEdit::Password);
    EToken->setToolTip(
        QStringLiteral("Klienci spoza tego komputera wysyłają nagłówek "
                       "„Authorization: Bearer <token>”; co najmniej 16 znaków."));
    BGeneruj = new QPushButton(QStringLiteral("Generuj"), this);
    BPokaz = new QPushButton(QStringLiteral("Pokaż"), this);
    BKopiuj = new QPushButton(QStringLiteral("Kopiuj"), this);
    ENazwy = new QLineEdit(this);
    ENazwy->setPlaceholderText(QStringLiteral("np. waga1.firma.example (oddzielone przecinkami)"));
    ENazwy->setToolTip(
        QStringLiteral("Serwer odpowiada tylko na swoje nazwy: 127.0.0.1, localhost, swój adres "
                       "i nazwy wpisane tutaj. Inne nazwy dostają odmowę (421)."));
    EZrodla = new QLineEdit(this);
    EZrodla->setPlaceholderText(
        QStringLiteral("np. http://erp.firma.example (puste: żadne, *: każde)"));
    LStan = new QLabel(this);
    LStan->setTextFormat(Qt::RichText);
    LStan->setOpenExternalLinks(true);
    LStan->setTextInteractionFlags(Qt::TextBrowserInteraction);
    LKomunikat = new QLabel(this);
    LKomunikat->setWordWrap(true);
    BZapisz = new QPushButton(QStringLiteral("&Zapisz"), this);
    BZamknij = new QPushButton(QStringLiteral("Zam&knij"), this);

    auto* tokenRow = new QHBoxLayout;
    tokenRow->addWidget(EToken, 1);
    tokenRow->addWidget(BPokaz);
    tokenRow->addWidget(BKopiuj);
    tokenRow->addWidget(BGeneruj);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Adres:"), EAdres);
    form->addRow(QStringLiteral("Port:"), EPort);
    form->addRow(QStringLiteral("Token:"), tokenRow);
    form->addRow(QStringLiteral("Nazwy w sieci:"), ENazwy);
    form->addRow(QStringLiteral("Dozwolone źródła (CORS):"), EZrodla);
    form->addRow(QStringLiteral("Stan:"), LStan);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BZapisz);
    buttons->addWidget(BZamknij);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(CBWlaczony);
    layout->addLayout(form);
    layout->addWidget(LKomunikat);
    layout->addLayout(buttons);
    setMinimumWidth(620);

    CBWlaczony->setObjectName("CBWlaczony");
    EAdres->setObjectName("EAdres");
    EPort->setObjectName("EPort");
    EToken->setObjectName("EToken");
    BGeneruj->setObjectName("BGeneruj");
    BPokaz->setObjectName("BPokaz");
    BKopiuj->setObjectName("BKopiuj");
    ENazwy->setObjectName("ENazwy");
    EZrodla->setObjectName("EZrodla");
    LStan->setObjectName("LStan");
    LKomunikat->setObjectName("LKomunikat");
    BZapisz->setObjectName("BZapisz");
    BZamknij->setObjectName("BZamknij");

    connect(BGeneruj, &QPushButton::clicked, this, &ServiceWindow::BGenerujClick);
    connect(BPokaz, &QPushButton::clicked, this, &ServiceWindow::BPokazClick);
    connect(BKopiuj, &QPushButton::clicked, this, &ServiceWindow::BKopiujClick);
    connect(BZapisz, &QPushButton::clicked, this, &ServiceWindow::BZapiszClick);
    connect(BZamknij, &QPushButton::clicked, this, &QDialog::close);
}

void ServiceWindow::LoadForm() {
    const ServiceSettings& saved = store_.Settings().service;
    CBWlaczony->setChecked(saved.enabled);
    EAdres->setText(QString::fromStdString(saved.address));
    EPort->setValue(saved.port);
    EToken->setText(QString::fromStdString(saved.token));
    ENazwy->setText(QString::fromStdString(saved.names));
    EZrodla->setText(QString::fromStdString(saved.origins));
    const std::string& problem =
        store_.ErrorText().empty() ? store_.WarningText() : store_.ErrorText();
    LKomunikat->setText(QString::fromStdString(problem));
}

void ServiceWindow::showEvent(QShowEvent* event) {
    LoadForm();
    ShowState();
    QDialog::showEvent(event);
}

void ServiceWindow::ShowState() {
    LStan->setText(ServiceStateHtml(
        ServiceStateText(service_.CurrentState(), service_.Url(), service_.Cause()),
        service_.Url()));
}

void ServiceWindow::BGenerujClick() { EToken->setText(GenerateServiceToken()); }

void ServiceWindow::BPokazClick() {
    const bool masked = EToken->echoMode() == QLineEdit::Password;
    EToken->setEchoMode(masked ? QLineEdit::Normal : QLineEdit::Password);
    BPokaz->setText(masked ? QStringLiteral("Ukryj") : QStringLiteral("Pokaż"));
}

void ServiceWindow::BKopiujClick() { QGuiApplication::clipboard()->setText(EToken->text()); }

bool ServiceWindow::BZapiszClick() {
    const ServiceForm form =
        ReadServiceForm(store_.Settings().service, CBWlaczony->isChecked(), EAdres->text(),
                        EPort->value(), EToken->text(), ENazwy->text(), EZrodla->text());
    if (!form.error.isEmpty()) {
        LKomunikat->setText(form.error);
        return false;
    }
    std::string error;
    if (!store_.Save(form.settings, error)) {
        LKomunikat->setText(QStringLiteral("Nie zapisano: ") + QString::fromStdString(error));
        return false;
    }
    LKomunikat->setText(QStringLiteral("Zapisano w dodatki.ini."));
    return true;
}
