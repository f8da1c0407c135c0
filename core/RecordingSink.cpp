#include "RecordingSink.h"

#include "LineRouting.h"

void RecordingSink::OnLine(const LineEvent& event) {
    if (!RecordingTakes(event.cls, switches_.Recording(), switches_.RecordReadings())) return;
    if (!writer_.Append(switches_.RecordingFileName(), event.line.Bytes())) Fail();
}

void RecordingSink::FlushAndClose() {
    const bool written = writer_.Flush();
    writer_.Close();
    if (!written) Fail();
}

void RecordingSink::Fail() {
    switches_.SetRecording(false);
    loop_.Post([&boxes = boxes_] { boxes.ShowError(kRecordingWriteError); });
}
