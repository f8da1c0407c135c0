#pragma once
// The recording file as a sink: it appends the lines the switches send to the file (every report
// line while recording is on, readings too with "Zapisuj display"), keeps the file open while a
// received chunk is worked through, and writes the chunk's lines and closes the file at the
// chunk's end. A file that cannot be opened fails at its line; a write that fails, at the chunk's
// end. Either way recording goes off before the error box is shown, so lines routed while the
// box is open make no further attempt.

#include "LinePipeline.h"
#include "OperatorBoxes.h"
#include "OperatorSwitches.h"
#include "RecordingFile.h"

// The box shown when the recording file takes no more lines.
inline constexpr const char* kRecordingWriteError =
    "Błąd zapisu do pliku! Prawdopodobnie brak miejsca na dysku!";

class RecordingSink : public ILineSink {
  public:
    RecordingSink(OperatorSwitches& switches, IOperatorBoxes& boxes)
        : switches_(switches), boxes_(boxes) {}

    void OnLine(const LineEvent& event) override;
    void OnChunkEnd() override { FlushAndClose(); }
    void OnPortState(const PortStateEvent& /*event*/) override { FlushAndClose(); }

    bool FileOpen() const { return writer_.IsOpen(); }

  private:
    void FlushAndClose();
    void Fail();

    OperatorSwitches& switches_;
    IOperatorBoxes& boxes_;
    RecordingWriter writer_;
};
