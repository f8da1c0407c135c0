#include "LineRouting.h"

#include <algorithm>

namespace {

std::string Replaced(std::string_view text, char from, char to) {
    std::string copy(text);
    std::replace(copy.begin(), copy.end(), from, to);
    return copy;
}

}  // namespace

bool ReportTakes(const LineClass& cls, bool showReadings) {
    return cls.kind == LineKind::Report || showReadings;
}

bool RecordingTakes(const LineClass& cls, bool recording, bool recordReadings) {
    return recording && (cls.kind == LineKind::Report || recordReadings);
}

void AppendWithinLimit(IReportLines& view, const Win1250Text& line, std::int32_t maxLines,
                       bool deleteOldest) {
    if (view.ReportLineCount() >= maxLines) {
        if (deleteOldest) {
            view.DeleteFirstReportLine();
        } else {
            view.ClearReport();
        }
    }
    view.AppendReportLine(Win1250Text(std::string(line.Shown())));
}

std::string RemoveSpaces(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c != ' ') result.push_back(c);
    }
    return result;
}

std::string DotsToCommas(std::string_view text) { return Replaced(text, '.', ','); }

std::string CommasToDots(std::string_view text) { return Replaced(text, ',', '.'); }
