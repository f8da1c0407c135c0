#pragma once
// Shared helpers of the core tests: temp folders, a printable form of bytes, and the program's
// own sinks fed through the line pipeline with their displays in memory.

#include <functional>
#include <string>
#include <vector>

#include "DisplaySinks.h"
#include "EventLoop.h"
#include "LinePipeline.h"
#include "OperatorBoxes.h"
#include "OperatorSwitches.h"
#include "RecordingSink.h"
#include "TestSupport.h"

using waga::test::ReadFile;
using waga::test::TempDir;
using waga::test::WriteFile;

// The read-out and the report view as lines in memory; the read-out counts its drawings.
class MemoryDisplays : public IReadoutDisplay, public IReportLines {
  public:
    std::string readout = "previous";
    int drawings = 0;
    std::vector<std::string> report;

    void ShowReading(const Win1250Text& text) override {
        readout = text.Bytes();
        ++drawings;
    }
    int ReportLineCount() const override { return static_cast<int>(report.size()); }
    void DeleteFirstReportLine() override { report.erase(report.begin()); }
    void ClearReport() override { report.clear(); }
    void AppendReportLine(const Win1250Text& line) override { report.push_back(line.Bytes()); }
};

// The event loop as a list of posted tasks, run when the test says (as the loop runs them once
// the event at work is done).
class PostedTasks : public IEventLoop {
  public:
    void Post(std::function<void()> task) override { tasks_.push_back(std::move(task)); }
    // Runs the tasks posted so far and those they post.
    void RunAll() {
        while (!tasks_.empty()) {
            const std::function<void()> task = std::move(tasks_.front());
            tasks_.erase(tasks_.begin());
            task();
        }
    }

  private:
    std::vector<std::function<void()>> tasks_;
};

// Error boxes as a list; each notes whether recording was already off when it opened, and may
// run something while it is open (as a modal box lets received chunks in).
class MemoryBoxes : public IOperatorBoxes {
  public:
    explicit MemoryBoxes(const OperatorSwitches& switches) : switches_(switches) {}
    void ShowError(const std::string& text) override {
        texts.push_back(text);
        recordingWhenShown.push_back(switches_.Recording());
        if (whileOpen) whileOpen();
    }
    ConfirmAnswer AskConfirmation(const std::string&) override { return ConfirmAnswer::No; }

    std::vector<std::string> texts;
    std::vector<bool> recordingWhenShown;
    std::function<void()> whileOpen;

  private:
    const OperatorSwitches& switches_;
};

// The window program's own sinks, in its order: the read-out, the report view, the recording
// file (recording on, into `file`).
struct SinkRig {
    explicit SinkRig(const std::string& file) {
        switches.SetRecording(true);
        switches.SetRecordingFileName(file);
        for (ILineSink* sink : {static_cast<ILineSink*>(&readout), static_cast<ILineSink*>(&report),
                                static_cast<ILineSink*>(&recording)})
            pipeline.Subscribe(sink);
    }
    // One received chunk, then what the event loop runs after it (a box a sink posted).
    void Feed(const std::string& bytes) {
        pipeline.Receive(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        loop.RunAll();
    }

    OperatorSwitches switches;
    MemoryDisplays displays;
    MemoryBoxes boxes{switches};
    PostedTasks loop;
    LinePipeline pipeline;
    ReadoutSink readout{displays};
    ReportSink report{displays, switches};
    RecordingSink recording{switches, boxes, loop};
};

// A short printable form of a byte string for test names and messages.
inline std::string Escaped(const std::string& bytes) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < 32; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x21 && b < 0x7F && b != '\\') {
            out.push_back(static_cast<char>(b));
        } else {
            out += "\\x";
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
        }
    }
    if (bytes.size() > 32) out += "..(" + std::to_string(bytes.size()) + " bytes)";
    return out.empty() ? "(empty)" : out;
}
