#pragma once
// The read-out and the report view as sinks of the line pipeline. They write to small display
// interfaces: the main window's read-out label and report view, or lines kept in memory.

#include "LinePipeline.h"
#include "LineRouting.h"
#include "OperatorSwitches.h"

// The read-out (Ldisplay): the text it shows.
class IReadoutDisplay {
  public:
    virtual ~IReadoutDisplay() = default;
    virtual void ShowReading(const Win1250Text& text) = 0;
};

// Ldisplay: a reading shows its text, report text empties it. The display is brought up to the
// last value once per received chunk, so a burst of readings costs one repaint (and a box a sink
// posted opens over the latest weight).
class ReadoutSink : public ILineSink {
  public:
    explicit ReadoutSink(IReadoutDisplay& display) : display_(display) {}

    void OnLine(const LineEvent& event) override;
    void OnChunkEnd() override { Settle(); }

  private:
    // Shows the value held back, if any.
    void Settle();

    IReadoutDisplay& display_;
    Win1250Text value_;
    bool pending_ = false;
};

// Mraport: report text always, readings with "Wyświetlaj display"; at the line limit the oldest
// line goes, or the whole view, as the operator chose.
class ReportSink : public ILineSink {
  public:
    ReportSink(IReportLines& view, const OperatorSwitches& switches)
        : view_(view), switches_(switches) {}

    void OnLine(const LineEvent& event) override;

  private:
    IReportLines& view_;
    const OperatorSwitches& switches_;
};
