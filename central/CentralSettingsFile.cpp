#include "CentralSettingsFile.h"

#include <QDir>
#include <QString>
#include <QSysInfo>
#include <algorithm>
#include <cctype>

namespace central {
namespace {

std::string Trimmed(std::string text) {
    auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), space));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), space).base(), text.end());
    return text;
}

}  // namespace

CentralSettings NormalisedCentralSettings(CentralSettings settings) {
    settings.host = Trimmed(settings.host);
    settings.database = Trimmed(settings.database);
    settings.user = Trimmed(settings.user);
    settings.station = Trimmed(settings.station);
    settings.ca = Trimmed(settings.ca);
    if (settings.ssl != "disable" && settings.ssl != "require") settings.ssl = "verify-full";
    if (settings.station.empty()) settings.station = QSysInfo::machineHostName().toStdString();
    return settings;
}

CentralSettings SettingsForConnection(CentralSettings settings, const QString& folder) {
    QString ca = QString::fromStdString(settings.ca);
    if (ca.isEmpty()) return settings;
    if (ca.startsWith(QLatin1String("~/"))) {
        ca = QDir::home().absoluteFilePath(ca.mid(2));
    } else {
        ca = QDir(folder.isEmpty() ? QDir::currentPath() : folder).absoluteFilePath(ca);
    }
    settings.ca = QDir::cleanPath(ca).toStdString();
    return settings;
}

}  // namespace central
