#include "CentralAttach.h"

#include <QAction>
#include <QDir>
#include <QPointer>

#include "AddOnSettings.h"
#include "CentralDbWindow.h"
#include "CentralSettingsFile.h"
#include "CentralUploader.h"
#include "JournalFile.h"

namespace {

central::UploaderConfig ConfigFor(const CentralSettings& settings, const QString& folder) {
    central::UploaderConfig config;
    config.settings = central::SettingsForConnection(settings, folder);
    config.journalPath = waga::journal::JournalPath(folder);
    config.retryCapMs = central::RetryCapFromEnvironment();
    return config;
}

}  // namespace

central::CentralUploader* AttachCentral(
    QObject* owner, const std::function<QAction*(const QString&)>& addViewMenuItem,
    const QString& folder) {
    auto* uploader = new central::CentralUploader(owner);
    const AddOnLoadResult loaded = LoadAddOnSettings(folder.toStdString());
    uploader->Apply(ConfigFor(loaded.settings.central, folder));

    auto window = std::make_shared<QPointer<CentralDbWindow>>();
    QObject::connect(owner, &QObject::destroyed, [window] { delete window->data(); });
    QAction* item =
        addViewMenuItem ? addViewMenuItem(QStringLiteral("Baza centralna...")) : nullptr;
    if (item == nullptr) return uploader;
    QObject::connect(item, &QAction::triggered, uploader, [uploader, window, folder] {
        if (window->isNull()) {
            *window = new CentralDbWindow(folder);
            CentralDbWindow* shown = window->data();
            QObject::connect(uploader, &central::CentralUploader::StatusChanged, shown,
                             &CentralDbWindow::ShowStatus);
            QObject::connect(shown, &CentralDbWindow::SettingsSaved, uploader,
                             [uploader, folder](const CentralSettings& settings) {
                                 uploader->Apply(ConfigFor(settings, folder));
                             });
        }
        window->data()->ShowStatus(uploader->Status());
        window->data()->show();
        window->data()->raise();
        window->data()->activateWindow();
    });
    return uploader;
}
