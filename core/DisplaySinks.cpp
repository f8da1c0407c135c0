#include "DisplaySinks.h"

void ReadoutSink::OnLine(const LineEvent& event) {
    value_ = ReadoutAfter(event.cls);
    pending_ = true;
}

void ReadoutSink::Settle() {
    if (!pending_) return;
    pending_ = false;
    display_.ShowReading(value_);
}

void ReportSink::OnLine(const LineEvent& event) {
    if (ReportTakes(event.cls, switches_.ShowReadings()))
        AppendWithinLimit(view_, event.line, switches_.MaxReportLines(), switches_.DeleteOldest());
}
