#pragma once
// Line routing: where a received line goes. A weight reading sets the read-out and, by the
// switches, goes to the report view and the recording file; any other line is report text: it
// goes to the report view, empties the read-out and is recorded while recording is on. The sinks
// (the read-out, the report view, the recording file) apply these rules line by line; ProcessLine
// applies all of them in one go to an environment that offers every destination.

#include <cstdint>
#include <string>
#include <string_view>

#include "LinePipeline.h"
#include "OperatorBoxes.h"
#include "RecordingFile.h"
#include "Win1250.h"

// The report view (Mraport): whole lines, line 0 is the oldest.
class IReportLines {
  public:
    virtual ~IReportLines() = default;
    virtual int ReportLineCount() const = 0;
    virtual void DeleteFirstReportLine() = 0;
    virtual void ClearReport() = 0;
    virtual void AppendReportLine(const Win1250Text& line) = 0;
};

// The box shown when the recording file takes no more lines.
inline constexpr const char* kRecordingWriteError =
    "Błąd zapisu do pliku! Prawdopodobnie brak miejsca na dysku!";

// The read-out's text after the line: the reading's text, empty after report text.
inline const Win1250Text& ReadoutAfter(const LineClass& cls) { return cls.readingText; }
// Whether the report view takes the line.
bool ReportTakes(const LineClass& cls, bool showReadings);
// Whether the recording file takes the line.
bool RecordingTakes(const LineClass& cls, bool recording, bool recordReadings);

// Makes room under `maxLines` (deleting the oldest line, or clearing the view), then appends the
// line's shown text at the bottom.
void AppendWithinLimit(IReportLines& view, const Win1250Text& line, std::int32_t maxLines,
                       bool deleteOldest);

// Everything ProcessLine needs: the read-out, the report view, the switches, the recording file.
class ILineEnvironment : public virtual IOperatorBoxes, public IReportLines {
  public:
    // Read-out (Ldisplay caption).
    virtual void SetReadout(const Win1250Text& text) = 0;

    // Operator switches, read afresh for every line.
    virtual bool ShowReadingsChecked() const = 0;    // CBciaglymemo
    virtual bool RecordingChecked() const = 0;       // CBzapis
    virtual bool RecordReadingsChecked() const = 0;  // CBciaglyplik
    virtual bool DeleteOldestSelected() const = 0;   // RBautoucinaj
    // Unchecks CBzapis as a plain state change: no question, no operator handling.
    virtual void UncheckRecording() = 0;

    virtual std::int32_t MaxReportLines() const = 0;

    // The recording file's name.
    virtual std::string RecordingFileName() const = 0;
    // The recording file's writer, closed by the owner when a received chunk is done.
    virtual RecordingWriter& RecordingOutput() = 0;

    // The decimal separator of the number test (the program passes ',').
    virtual char DecimalSeparator() const = 0;
};

// Classifies one received line (without its line end) and routes it to the read-out, the
// report view and the recording file, in that order for a reading (report view first for report
// text). Returns normally in every case.
void ProcessLine(const Win1250Text& line, ILineEnvironment& env);

// A copy without space characters (code 32); every other byte remains.
std::string RemoveSpaces(std::string_view text);
// A copy with every '.' turned into ','.
std::string DotsToCommas(std::string_view text);
// A copy with every ',' turned into '.'.
std::string CommasToDots(std::string_view text);
