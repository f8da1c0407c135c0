#include "RecordingSink.h"

#include "LineRouting.h"

void RecordingSink::OnLine(const LineEvent& event) {
    if (!RecordingTakes(event.cls, switches_.Recording(), switches_.RecordReadings())) return;
    if (writer_.Append(switches_.RecordingFileName(), event.line.Bytes())) return;
    switches_.SetRecording(false);
    boxes_.ShowError(kRecordingWriteError);
}
