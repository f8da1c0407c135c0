#pragma once
// The [BazaCentralna] settings as the window takes them and as the uploader connects with them.

#include <QString>

#include "AddOnSettings.h"

namespace central {

// The settings as typed in the window: texts trimmed, a TLS mode other than the three known
// ones becomes verify-full, an empty station becomes the computer's host name.
CentralSettings NormalisedCentralSettings(CentralSettings settings);

// The settings as the uploader uses them for the station whose dodatki.ini is in `folder`: a
// CA path starting with "~/" is in the home folder, a relative one in `folder`.
CentralSettings SettingsForConnection(CentralSettings settings, const QString& folder);

}  // namespace central
