#pragma once
// The recording file as a sink: it appends the lines the switches send to the file (every report
// line while recording is on, readings too with "Zapisuj display"), keeps the file open while a
// received chunk is worked through, and writes the chunk's lines and closes the file at the
// chunk's end. A file that cannot be opened fails at its line; a write that fails, at the chunk's
// end. Either way recording goes off and the error box is posted to the event loop, one per
// failure: the sink returns at once, the box opens once the chunk is done, and lines routed while
// it is open make no further attempt.

#include "EventLoop.h"
#include "LinePipeline.h"
#include "OperatorBoxes.h"
#include "OperatorSwitches.h"
#include "RecordingFile.h"

// The box shown when the recording file takes no more lines.
inline constexpr const char* kRecordingWriteError =
    "Błąd zapisu do pliku! Prawdopodobnie brak miejsca na dysku!";

class RecordingSink : public ILineSink {
  public:
    // `boxes` must outlive what `loop` runs.
    RecordingSink(OperatorSwitches& switches, IOperatorBoxes& boxes, IEventLoop& loop)
        : switches_(switches), boxes_(boxes), loop_(loop) {}

    void OnLine(const LineEvent& event) override;
    void OnChunkEnd() override { FlushAndClose(); }
    void OnPortState(const PortStateEvent& /*event*/) override { FlushAndClose(); }

    bool FileOpen() const { return writer_.IsOpen(); }

  private:
    void FlushAndClose();
    void Fail();

    OperatorSwitches& switches_;
    IOperatorBoxes& boxes_;
    IEventLoop& loop_;
    RecordingWriter writer_;
};
