#pragma once
// Line routing: where a received line goes. A weight reading sets the read-out and, by the
// switches, goes to the report view and the recording file; any other line is report text: it
// goes to the report view, empties the read-out and is recorded while recording is on. The
// pipeline's sinks apply these rules: ReadoutSink and ReportSink (DisplaySinks.h) and
// RecordingSink.

#include <cstdint>
#include <string>
#include <string_view>

#include "LinePipeline.h"
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

// A copy without space characters (code 32); every other byte remains.
std::string RemoveSpaces(std::string_view text);
// A copy with every '.' turned into ','.
std::string DotsToCommas(std::string_view text);
// A copy with every ',' turned into '.'.
std::string CommasToDots(std::string_view text);
