#pragma once
// The [BazaCentralna] section of dodatki.ini as the window saves it: the file is read, only this
// section changes, the file is written back, so the other sections stay as they were.

#include <filesystem>
#include <string>

#include "AddOnSettings.h"

namespace central {

// False with `error` (UTF-8) when the file cannot be read or written; the old file stays then.
bool SaveCentralSection(const CentralSettings& settings, std::string& error,
                        const std::filesystem::path& folder = {});

// The settings as typed in the window: texts trimmed, a TLS mode other than the three known
// ones becomes require, an empty station becomes the computer's host name.
CentralSettings NormalisedCentralSettings(CentralSettings settings);

}  // namespace central
