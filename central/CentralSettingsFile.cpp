#include "CentralSettingsFile.h"

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

bool SaveCentralSection(const CentralSettings& settings, std::string& error,
                        const std::filesystem::path& folder) {
    AddOnLoadResult loaded = LoadAddOnSettings(folder);
    if (!loaded.errorText.empty()) {
        error = loaded.errorText;
        return false;
    }
    loaded.settings.central = settings;
    return SaveAddOnSettings(loaded.settings, error, folder);
}

CentralSettings NormalisedCentralSettings(CentralSettings settings) {
    settings.host = Trimmed(settings.host);
    settings.database = Trimmed(settings.database);
    settings.user = Trimmed(settings.user);
    settings.station = Trimmed(settings.station);
    if (settings.ssl != "disable" && settings.ssl != "verify-full") settings.ssl = "require";
    if (settings.station.empty()) settings.station = QSysInfo::machineHostName().toStdString();
    return settings;
}

}  // namespace central
