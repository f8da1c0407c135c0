#pragma once
// Line routing: ProcessLine decides whether a received line is a weight reading or report text
// and sends it to the read-out, the report view and the recording file.

#include <cstdint>
#include <string>
#include <string_view>

#include "OperatorBoxes.h"
#include "RecordingFile.h"
#include "Win1250.h"

// What ProcessLine needs of the main window.
class ILineEnvironment : public virtual IOperatorBoxes {
  public:
    // Read-out (Ldisplay caption).
    virtual void SetReadout(const Win1250Text& text) = 0;

    // Report view (Mraport): whole lines, line 0 is the oldest.
    virtual int ReportLineCount() const = 0;
    virtual void DeleteFirstReportLine() = 0;
    virtual void ClearReport() = 0;
    virtual void AppendReportLine(const Win1250Text& line) = 0;

    // Operator switches, read afresh for every line.
    virtual bool ShowReadingsChecked() const = 0;    // CBciaglymemo
    virtual bool RecordingChecked() const = 0;       // CBzapis
    virtual bool RecordReadingsChecked() const = 0;  // CBciaglyplik
    virtual bool DeleteOldestSelected() const = 0;   // RBautoucinaj
    // Unchecks CBzapis as a plain state change: no question, no operator handling.
    virtual void UncheckRecording() = 0;

    virtual std::int32_t MaxReportLines() const = 0;

    // Text of Enazwapliku: the recording file's name.
    virtual std::string RecordingFileName() const = 0;
    // The recording file's writer, closed by the window when a received chunk is done.
    virtual RecordingWriter& RecordingOutput() = 0;

    // The decimal separator of the number test (the program passes ',').
    virtual char DecimalSeparator() const = 0;
};

// Classifies one received line (without its line end) and routes it to the read-out, the
// report view and the recording file. Returns normally in every case.
void ProcessLine(const Win1250Text& line, ILineEnvironment& env);

// A copy without space characters (code 32); every other byte remains.
std::string RemoveSpaces(std::string_view text);
// A copy with every '.' turned into ','.
std::string DotsToCommas(std::string_view text);
// A copy with every ',' turned into '.'.
std::string CommasToDots(std::string_view text);
