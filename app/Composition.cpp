#include "Composition.h"

#include <QAction>
#include <QDir>

#include "AddOnIndicators.h"
#include "CentralDbWindow.h"
#include "CentralUploader.h"
#include "HistoryWindow.h"
#include "MainWindow.h"
#include "ProgramIdentity.h"
#include "ReportView.h"
#include "ServiceWindow.h"

namespace {

void ShowAndRaise(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace

Win1250Text ProgramSettings::MaxLinesText() const { return window_.MaxLinesText(); }

Win1250Text ProgramSettings::UnitCaption() const { return window_.UnitCaption(); }

void ProgramSettings::SetUnitCaption(const Win1250Text& caption) {
    window_.SetUnitCaption(caption);
    StationSettings::SetUnitCaption(caption);
}

Composition::Composition() : station_(std::make_unique<Station>(QDir::currentPath())) {
    window_ =
        std::make_unique<MainWindow>(station_->Port(), station_->Session(), station_->Switches());
    readout_ = std::make_unique<ReadoutSink>(window_->ReadoutDisplay());
    report_ = std::make_unique<ReportSink>(window_->ReportDisplay(), station_->Switches());
    loop_ = std::make_unique<QtEventLoop>(*window_);
    recording_ = std::make_unique<RecordingSink>(station_->Switches(), *window_, *loop_);
    settings_ = std::make_unique<ProgramSettings>(*station_, *window_);
    settings_->SetUnitCaption(window_->UnitCaption());

    // The order a line takes: the read-out, the report view, the recording file, then the
    // additions'. The window shows the port's steps and the additions' notices.
    station_->Start({readout_.get(), report_.get(), recording_.get()},
                    {[this](const PortStatus& status) { window_->ShowPortStatus(status); },
                     [this](const QString& source, const QString& text) {
                         window_->SetAddOnNotice(source, text);
                     }});
    BuildAdditionsWindows();
    ShowAdditionsState();
    window_->SetStationKey(station_->JournalKeyFingerprint());
    digest_ =
        std::make_unique<BackgroundDigest>(window_.get(), [this](const ExecutableDigest& digest) {
            window_->ShowProgramDigest(digest.hex, digest.error);
        });
}

// The service's and the upload's state in the menu bar's corner while they are on.
void Composition::ShowAdditionsState() {
    WeightService& service = station_->Service();
    const auto showService = [this, &service] {
        window_->SetAddOnIndicator(
            QStringLiteral("LStanSerwera"),
            ServiceIndicator(service.CurrentState(), service.Url(), service.Cause()));
    };
    QObject::connect(&service, &WeightService::stateChanged, window_.get(), showService);
    showService();
    const auto showCentral = [this](const central::CentralStatus& status) {
        window_->SetAddOnIndicator(QStringLiteral("LStanBazy"), CentralIndicator(status));
    };
    QObject::connect(&station_->Uploader(), &central::CentralUploader::StatusChanged, window_.get(),
                     showCentral);
    showCentral(station_->Uploader().Status());
}

// Each addition's window behind its item in "&Widok".
void Composition::BuildAdditionsWindows() {
    // Their accelerators are letters no other item of "&Widok" uses (w, z, p, t, s).
    QAction* history = window_->AddViewMenuItem(QStringLiteral("&Historia ważeń..."));
    history->setObjectName(QStringLiteral("MMhistoria"));
    QObject::connect(history, &QAction::triggered, history, [this] {
        if (!history_) history_ = std::make_unique<HistoryWindow>(station_->JournalPath());
        ShowAndRaise(*history_);
    });

    service_ = std::make_unique<ServiceWindow>(station_->AddOns(), station_->Service());
    QAction* service = window_->AddViewMenuItem(QStringLiteral("Se&rwer wagi..."));
    service->setObjectName(QStringLiteral("MMserwer_wagi"));
    QObject::connect(service, &QAction::triggered, service_.get(),
                     [window = service_.get()] { ShowAndRaise(*window); });

    QAction* central = window_->AddViewMenuItem(QStringLiteral("&Baza centralna..."));
    central->setObjectName(QStringLiteral("MMbaza_centralna"));
    QObject::connect(central, &QAction::triggered, central, [this] {
        if (!central_) {
            central_ = std::make_unique<CentralDbWindow>(station_->AddOns());
            QObject::connect(&station_->Uploader(), &central::CentralUploader::StatusChanged,
                             central_.get(), &CentralDbWindow::ShowStatus);
        }
        central_->ShowStatus(station_->Uploader().Status());
        ShowAndRaise(*central_);
    });
}

Composition::~Composition() {
    digest_.reset();  // its thread ends while the window it reports to is still there
    station_->Stop();
    central_.reset();
    service_.reset();
    history_.reset();
    window_.reset();
    station_.reset();  // the additions go, the journal storing what is still queued
}
