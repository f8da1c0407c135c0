#include "Umy_fun.h"

#include <algorithm>

#include "NumberTest.h"
#include "RecordingFile.h"
#include "Win1250.h"

namespace {

// The read-out and the report view show a line only up to its first byte 0.
std::string ShownText(const std::string& line) { return line.substr(0, line.find('\0')); }

bool IsWeightReading(const std::string& line, char separator) {
    return IsNumberText(DotsToCommas(RemoveSpaces(line)), separator);
}

// Makes room under MaxReportLines, then appends the line at the bottom of the report view.
void AppendToReport(const std::string& line, ILineEnvironment& env) {
    if (env.ReportLineCount() >= env.MaxReportLines()) {
        if (env.DeleteOldestSelected()) {
            env.DeleteFirstReportLine();
        } else {
            env.ClearReport();
        }
    }
    env.AppendReportLine(ShownText(line));
}

// Appends the raw line to the recording file. On failure recording goes off before the box is
// shown, so lines routed while the box is open make no further attempt.
void AppendToRecording(const std::string& line, ILineEnvironment& env) {
    if (AppendRecordLine(env.RecordingFileName(), line)) return;
    env.UncheckRecording();
    static const std::string kWriteError =
        Utf8ToWin1250("Błąd zapisu do pliku! Prawdopodobnie brak miejsca na dysku!");
    env.ShowErrorBox(kWriteError);
}

std::string Replaced(std::string_view text, char from, char to) {
    std::string copy(text);
    std::replace(copy.begin(), copy.end(), from, to);
    return copy;
}

}  // namespace

void ProcessLine(const std::string& line, ILineEnvironment& env) {
    if (IsWeightReading(line, env.DecimalSeparator())) {
        env.SetReadout(ShownText(CommasToDots(RemoveSpaces(line))));
        if (env.ShowReadingsChecked()) AppendToReport(line, env);
        if (env.RecordingChecked() && env.RecordReadingsChecked()) AppendToRecording(line, env);
    } else {
        AppendToReport(line, env);
        env.SetReadout(std::string());
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
