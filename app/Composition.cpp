#include "Composition.h"

#include <QDir>

#include "CentralAttach.h"
#include "CentralUploader.h"
#include "JournalFile.h"
#include "MainWindow.h"
#include "ReportView.h"
#include "SerialPort.h"

PortNumber ProgramSettings::ComPort() const { return port_.ComPort(); }

void ProgramSettings::SetComPort(PortNumber port) { port_.SetComPort(port); }

BaudRate ProgramSettings::ComPortSpeed() const { return port_.ComPortSpeed(); }

void ProgramSettings::SetComPortSpeed(BaudRate speed) { port_.SetComPortSpeed(speed); }

Win1250Text ProgramSettings::MaxLinesText() const { return window_.MaxLinesText(); }

Win1250Text ProgramSettings::UnitCaption() const { return window_.UnitCaption(); }

void ProgramSettings::SetUnitCaption(const Win1250Text& caption) {
    window_.SetUnitCaption(caption);
}

void SettledBoxes::ShowError(const std::string& text) {
    readout_.Settle();
    boxes_.ShowError(text);
}

ConfirmAnswer SettledBoxes::AskConfirmation(const std::string& text) {
    readout_.Settle();
    return boxes_.AskConfirmation(text);
}

Composition::Composition() : port_(std::make_unique<SerialPort>()) {
    port_->setObjectName(QStringLiteral("ComPortDriver"));
    window_ = std::make_unique<MainWindow>(*port_, pipeline_, switches_);
    readout_ = std::make_unique<ReadoutSink>(window_->ReadoutDisplay());
    report_ = std::make_unique<ReportSink>(window_->ReportDisplay(), switches_);
    boxes_ = std::make_unique<SettledBoxes>(*readout_, *window_);
    recording_ = std::make_unique<RecordingSink>(switches_, *boxes_);
    settings_ = std::make_unique<ProgramSettings>(*port_, switches_, *window_);
    window_->SetUnitCaption(window_->UnitCaption());

    // The order a line takes: the read-out, the report view, the recording file.
    pipeline_.Subscribe(readout_.get());
    pipeline_.Subscribe(report_.get());
    pipeline_.Subscribe(recording_.get());
    QObject::connect(port_.get(), &SerialPort::dataReceived, port_.get(),
                     [this](const char* data, int size) { pipeline_.Receive(data, size); });

    // The journal: every line into the journal in the working folder, after the recording
    // file; its faults in the status bar's tooltip. Its history window in "Widok".
    const QString folder = QDir::currentPath();
    journal_ = waga::journal::AttachJournal(pipeline_, folder);
    if (journal_) {
        QObject::connect(journal_.get(), &waga::journal::Journal::notice, window_.get(),
                         [window = window_.get()](const QString& text) {
                             window->SetAddOnNotice(QStringLiteral("Dziennik"), text);
                         });
    }
    AttachHistoryWindow(window_->AddViewMenuItem(QStringLiteral("Historia ważeń...")),
                        waga::journal::JournalPath(folder), history_);

    // The weight service (off unless dodatki.ini turns it on), subscribed after the program's
    // own sinks. Its event ids are the journal's row numbers once the journal is subscribed
    // before it; until then it numbers lines itself by the same rule.
    weightService_ = AttachWeightServiceWindow(
        pipeline_, [this] { return journal_ ? journal_->Sink().LastSeq() : 0; },
        [this](const QString& text) { return window_->AddViewMenuItem(text); });
    WeightService* service = weightService_.service.get();
    // A service that will not start, or a token others may read, is told in the status bar's
    // tooltip and on stderr.
    const auto showServiceNotice = [this, service] {
        window_->SetAddOnNotice(QStringLiteral("Serwer wagi"), service->Notice());
    };
    QObject::connect(service, &WeightService::stateChanged, window_.get(), showServiceNotice);
    showServiceNotice();

    // The central database: the journal's uploader on its own thread (off until dodatki.ini
    // says Wlaczona=1) and "Widok → Baza centralna..."; why it has no connection is told in the
    // status bar's tooltip and on stderr, once per cause.
    central::CentralUploader* uploader = AttachCentral(
        window_.get(), [this](const QString& text) { return window_->AddViewMenuItem(text); });
    QObject::connect(uploader, &central::CentralUploader::StatusChanged, window_.get(),
                     [window = window_.get()](const central::CentralStatus& status) {
                         window->SetAddOnNotice(QStringLiteral("Baza centralna"),
                                                central::CentralNotice(status));
                     });
    // It looks at the journal as soon as the writer committed rows (on the writer's thread).
    if (journal_) {
        QObject::connect(
            journal_.get(), &waga::journal::Journal::committed, uploader,
            [uploader] { uploader->Wake(); }, Qt::DirectConnection);
    }
}

Composition::~Composition() {
    port_->disconnect();
    if (port_->IsPortOpen()) pipeline_.AnnouncePortState(PortState::Closed);
    history_.reset();
    if (journal_) pipeline_.Unsubscribe(&journal_->Sink());
    journal_.reset();  // stores what is still queued
    window_.reset();
    port_.reset();  // closes the port
}
