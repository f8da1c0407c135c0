#include "LineRouting.h"

#include <algorithm>

#include "NumberText.h"
#include "RecordingFile.h"

namespace {

bool IsWeightReading(const Win1250Text& line, char separator) {
    return IsNumberText(DotsToCommas(RemoveSpaces(line.Bytes())), separator);
}

// Makes room under MaxReportLines, then appends the line at the bottom of the report view.
void AppendToReport(const Win1250Text& line, ILineEnvironment& env) {
    if (env.ReportLineCount() >= env.MaxReportLines()) {
        if (env.DeleteOldestSelected()) {
            env.DeleteFirstReportLine();
        } else {
            env.ClearReport();
        }
    }
    env.AppendReportLine(Win1250Text(std::string(line.Shown())));
}

// Appends the raw line to the recording file. On failure the writer has closed the file, and
// recording goes off before the box is shown, so lines routed while the box is open make no
// further attempt.
void AppendToRecording(const Win1250Text& line, ILineEnvironment& env) {
    if (env.RecordingOutput().Append(env.RecordingFileName(), line.Bytes())) return;
    env.UncheckRecording();
    env.ShowError("Błąd zapisu do pliku! Prawdopodobnie brak miejsca na dysku!");
}

std::string Replaced(std::string_view text, char from, char to) {
    std::string copy(text);
    std::replace(copy.begin(), copy.end(), from, to);
    return copy;
}

}  // namespace

void ProcessLine(const Win1250Text& line, ILineEnvironment& env) {
    if (IsWeightReading(line, env.DecimalSeparator())) {
        env.SetReadout(Win1250Text(CommasToDots(RemoveSpaces(line.Shown()))));
        if (env.ShowReadingsChecked()) AppendToReport(line, env);
        if (env.RecordingChecked() && env.RecordReadingsChecked()) AppendToRecording(line, env);
    } else {
        AppendToReport(line, env);
        env.SetReadout(Win1250Text());
        if (env.RecordingChecked()) AppendToRecording(line, env);
    }
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
