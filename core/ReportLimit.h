#pragma once
// The report view's line limit as the operator types it into Emaxlinie.

#include <cstdint>
#include <string>

#include "SettingsFormat.h"
#include "Win1250.h"

class IReportLines;

enum class LimitCheck { Accepted, NotANumber, OutOfRange };

struct LimitVerdict {
    LimitCheck check;
    std::int32_t value;  // meaningful when Accepted
};

// Converts the edit's whole text with TextToInt and checks the range kMinReportLines to
// kMaxReportLines (upper bound first; both bounds give the same message).
LimitVerdict CheckLineLimit(const Win1250Text& text);

// The operator's message for a rejected text, UTF-8; empty for an accepted one.
std::string LimitMessage(LimitCheck check);

// Applies an accepted limit to a view holding n lines: when value < n, line 0 is deleted
// n - value + 1 times, so value - 1 lines (the newest) remain and the next append brings the view
// to the limit. Always trims from the top, whatever the overflow rule. Returns the lines deleted.
int TrimReportForLimit(IReportLines& view, std::int32_t value);
