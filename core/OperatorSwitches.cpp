#include "OperatorSwitches.h"

#include "SettingsFormat.h"

OperatorSwitches::OperatorSwitches()
    : showReadings_(*DefaultSettings().showReadings),
      recording_(*DefaultSettings().recording),
      recordReadings_(*DefaultSettings().recordReadings),
      deleteOldest_(*DefaultSettings().deleteOldest),
      maxReportLines_(*DefaultSettings().maxReportLines),
      recordingFileName_("Enazwapliku") {}
