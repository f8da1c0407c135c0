#include "LineRouting.h"

#include <algorithm>

#include "RecordingFile.h"

namespace {

// Appends the raw line to the recording file. On failure the writer has closed the file, and
// recording goes off before the box is shown, so lines routed while the box is open make no
// further attempt.
void AppendToRecording(const Win1250Text& line, ILineEnvironment& env) {
    if (env.RecordingOutput().Append(env.RecordingFileName(), line.Bytes())) return;
    env.UncheckRecording();
    env.ShowError(kRecordingWriteError);
}

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

void ProcessLine(const Win1250Text& line, ILineEnvironment& env) {
    const LineClass cls = ClassifyLine(line, env.DecimalSeparator());
    const auto toReport = [&] {
        if (ReportTakes(cls, env.ShowReadingsChecked()))
            AppendWithinLimit(env, line, env.MaxReportLines(), env.DeleteOldestSelected());
    };
    if (cls.kind == LineKind::Reading) {
        env.SetReadout(ReadoutAfter(cls));
        toReport();
    } else {
        toReport();
        env.SetReadout(ReadoutAfter(cls));
    }
    if (RecordingTakes(cls, env.RecordingChecked(), env.RecordReadingsChecked()))
        AppendToRecording(line, env);
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
