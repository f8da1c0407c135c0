#include "Station.h"

#include <cstdio>

#include "CentralSettingsFile.h"
#include "CentralUploader.h"
#include "Journal.h"
#include "JournalFile.h"
#include "PortStatusTexts.h"
#include "SettingsFile.h"
#include "SettingsFormat.h"
#include "StationSettings.h"
#include "WeightService.h"

namespace {

const QString kJournalSource = QStringLiteral("Dziennik");
const QString kServiceSource = QStringLiteral("Serwer wagi");
const QString kCentralSource = QStringLiteral("Baza centralna");
const QString kAddOnFileSource = QString::fromUtf8(kAddOnSettingsFileName.data(),
                                                   static_cast<int>(kAddOnSettingsFileName.size()));

}  // namespace

void LogLine(const QString& source, const QString& text) {
    std::fprintf(stderr, "%s\n", ProgramMessage(source, text).constData());
    std::fflush(stderr);
}

Station::Station(const QString& folder)
    : folder_(folder), addOns_(folder.toStdString()), session_(port_) {
    port_.setObjectName(QStringLiteral("ComPortDriver"));
    connect(&port_, &SerialPort::dataReceived, &port_,
            [this](const char* data, int size) { pipeline_.Receive(data, size); });
    connect(&session_, &PortSession::stateChanged, this, [this](const PortStatus& status) {
        HandToPipeline(status);
        LogLine(QString::fromStdString(PortName(status.port)), PortLogText(status));
        if (view_.port) view_.port(status);
    });

    const AddOnSettings& settings = addOns_.Settings();
    if (settings.journal.enabled) {
        journal_ = std::make_unique<waga::journal::Journal>(settings.journal, folder_,
                                                            settings.central.enabled);
        connect(journal_.get(), &waga::journal::Journal::notice, this,
                [this](const QString& text) { Tell(kJournalSource, text); });
    }
    // Lines are numbered once, by the journal's sink; without the journal by the same rule
    // without storage, from the clock in microseconds. The service's event ids are those
    // numbers: its sink hears each line from the numbering sink (Start connects them).
    if (!journal_) numbering_ = std::make_unique<waga::journal::JournalSink>();
    service_ = std::make_unique<WeightService>(JournalPath());
    service_->SetFileWarning(QString::fromStdString(addOns_.WarningText()));
    connect(service_.get(), &WeightService::stateChanged, this,
            [this] { Tell(kServiceSource, service_->Notice()); });

    uploader_ = std::make_unique<central::CentralUploader>();
    connect(uploader_.get(), &central::CentralUploader::StatusChanged, this,
            [this](const central::CentralStatus& status) {
                Tell(kCentralSource, central::CentralNotice(status));
            });
    // The uploader looks at the journal as soon as the writer committed rows. The writer's thread
    // calls the waker, which holds no pointer to the uploader: the uploader goes before the
    // journal, whose writer may still be committing then.
    if (journal_) {
        connect(
            journal_.get(), &waga::journal::Journal::committed, journal_.get(),
            [wake = uploader_->Waker()] { wake(); }, Qt::DirectConnection);
    }
    Tell(kAddOnFileSource, QString::fromStdString(addOns_.ErrorText()));
    addOns_.OnChanged([this](AddOnSection section) { Follow(section); });
}

Station::~Station() { Stop(); }

void Station::StoreJournalAtExit() {
    Stop();
    if (!journal_) return;
    disconnect(journal_.get(), &waga::journal::Journal::committed, nullptr, nullptr);
    journal_.reset();
}

void Station::Start(std::initializer_list<ILineSink*> own, View view) {
    view_ = std::move(view);
    // The view hears what is in force now; later changes come by themselves.
    if (view_.notice)
        for (const auto& [source, text] : notices_) view_.notice(source, text);

    // The order a line takes: the program's own sinks, then the journal's (the numbering), which
    // hands each line with its row to the weight service's.
    for (ILineSink* sink : own) AddSink(*sink);
    AddSink(Numbering());
    Numbering().SetNumberedSink(&service_->Sink());
    // Connected: the service and the upload start when dodatki.ini switches them on.
    service_->Apply(addOns_.Settings().service);
    ApplyCentral(addOns_.Settings().central);
}

void Station::Follow(AddOnSection section) {
    // A saved file holding the token is the owner's alone (0600): its warning goes.
    service_->SetFileWarning(QString::fromStdString(addOns_.WarningText()));
    if (stopped_) return;
    switch (section) {
        case AddOnSection::Service:
            service_->Apply(addOns_.Settings().service);
            break;
        case AddOnSection::Central:
            ApplyCentral(addOns_.Settings().central);
            break;
        case AddOnSection::Journal:  // the journal is opened (or not) at the next start
            break;
    }
}

void Station::Stop() {
    if (stopped_) return;
    stopped_ = true;
    disconnect(&port_, &SerialPort::dataReceived, nullptr, nullptr);
    session_.Close();
    view_ = {};
    for (auto sink = subscribed_.rbegin(); sink != subscribed_.rend(); ++sink)
        pipeline_.Unsubscribe(*sink);
    subscribed_.clear();
    Numbering().SetNumberedSink(nullptr);
}

waga::journal::JournalSink& Station::Numbering() {
    return journal_ ? journal_->Sink() : *numbering_;
}

void Station::ApplyDefaults() {
    port_.SetComPortSpeed(*DefaultSettings().comPortSpeed);
    port_.SetComPortDataBits(db8BITS);
    port_.SetComPortParity(ptNONE);
    port_.SetComPort(*DefaultSettings().comPort);
    // Every key of konfig.ini at the table's default, through the setters the file's values
    // take: the switches, the line limit and the unit stamped on each line.
    StationSettings settings(*this);
    ApplySettings(DefaultSettings(), settings);
}

QString Station::JournalKeyFingerprint() const {
    return journal_ ? journal_->Writer().KeyFingerprint() : QString();
}

QString Station::JournalPath() const { return waga::journal::JournalPath(folder_); }

void Station::ApplyCentral(const CentralSettings& settings) {
    central::UploaderConfig config;
    config.settings = central::SettingsForConnection(settings, folder_);
    config.journalPath = JournalPath();
    config.retryCapMs = central::RetryCapFromEnvironment();
    uploader_->Apply(config);
    if (journal_) journal_->Writer().KeepUnsentRows(settings.enabled);
}

void Station::AddSink(ILineSink& sink) {
    pipeline_.Subscribe(&sink);
    subscribed_.push_back(&sink);
}

void Station::HandToPipeline(const PortStatus& status) {
    switch (status.step) {
        case PortStep::Opened:
            pipeline_.SetPort(status.port);
            pipeline_.Reset();
            pipeline_.AnnouncePortState(PortState::Opened);
            break;
        case PortStep::Lost:
            pipeline_.AnnouncePortState(PortState::Lost);
            pipeline_.Reset();
            break;
        case PortStep::Closed:
            pipeline_.AnnouncePortState(PortState::Closed);
            break;
        case PortStep::OpenFailed:
            break;
    }
}

// Standard error hears each cause once, and again when it clears; the view hears every change.
void Station::Tell(const QString& source, const QString& text) {
    const auto known = notices_.find(source);
    if (text.isEmpty()) {
        if (known == notices_.end()) return;
        LogLine(source, QStringLiteral("działa ponownie (ustąpiło: %1)").arg(known->second));
        notices_.erase(known);
    } else {
        if (known != notices_.end() && known->second == text) return;
        notices_[source] = text;
        LogLine(source, text);
    }
    if (view_.notice) view_.notice(source, text);
}
