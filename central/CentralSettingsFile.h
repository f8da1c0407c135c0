#pragma once
// The [BazaCentralna] section of dodatki.ini as the window saves it: the file is read, only this
// section changes, the file is written back, so the other sections stay as they were.

#include <QString>
#include <filesystem>
#include <string>

#include "AddOnSettings.h"

namespace central {

// False with `error` (UTF-8) when the file cannot be read or written; the old file stays then.
bool SaveCentralSection(const CentralSettings& settings, std::string& error,
                        const std::filesystem::path& folder = {});

// The settings as typed in the window: texts trimmed, a TLS mode other than the three known
// ones becomes verify-full, an empty station becomes the computer's host name.
CentralSettings NormalisedCentralSettings(CentralSettings settings);

// The settings as the uploader uses them for the station whose dodatki.ini is in `folder`: a
// CA path starting with "~/" is in the home folder, a relative one in `folder`.
CentralSettings SettingsForConnection(CentralSettings settings, const QString& folder);

}  // namespace central
