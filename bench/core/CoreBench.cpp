// Figures for the reading pipeline: one 10-byte line through the line pipeline and the window
// program's own sinks (the read-out, the report view, the recording file), without and with the
// recording file, with the displays doing nothing; and line assembly per byte.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "DisplaySinks.h"
#include "LineAssembler.h"
#include "LinePipeline.h"
#include "OperatorSwitches.h"
#include "RecordingFile.h"
#include "RecordingSink.h"

namespace {

// Displays that take the text and draw nothing; the report view never reaches its limit.
class QuietDisplays : public IReadoutDisplay,
                      public IReportLines,
                      public IOperatorBoxes,
                      public IEventLoop {
  public:
    void ShowReading(const Win1250Text& text) override {
        benchmark::DoNotOptimize(text.Bytes().data());
    }
    int ReportLineCount() const override { return 0; }
    void DeleteFirstReportLine() override {}
    void ClearReport() override {}
    void AppendReportLine(const Win1250Text& line) override {
        benchmark::DoNotOptimize(line.Bytes().data());
    }
    void ShowError(const std::string&) override { failed = true; }
    ConfirmAnswer AskConfirmation(const std::string&) override { return ConfirmAnswer::No; }
    void Post(std::function<void()> task) override { task(); }
    bool failed = false;
};

// The program's own sinks in its order, every switch on, so that every rule runs.
struct Pipeline {
    QuietDisplays displays;
    OperatorSwitches switches;
    LinePipeline pipeline;
    ReadoutSink readout{displays};
    ReportSink report{displays, switches};
    RecordingSink recording{switches, displays, displays};

    explicit Pipeline(const std::string& file) {
        switches.SetShowReadings(true);
        switches.SetRecordReadings(true);
        switches.SetRecording(!file.empty());
        switches.SetRecordingFileName(file);
        pipeline.Subscribe(&readout);
        pipeline.Subscribe(&report);
        pipeline.Subscribe(&recording);
    }
};

// Ten-byte lines with their CR, each one received chunk: two weight readings and a report line.
const std::vector<std::string> kChunks = {"   1234.56\r", "-0012,5000\r", "NETTO  kg:\r"};

void Run(benchmark::State& state, Pipeline& lines) {
    std::size_t i = 0;
    for (auto _ : state) {
        const std::string& chunk = kChunks[i++ % kChunks.size()];
        lines.pipeline.Receive(chunk.data(), static_cast<std::int32_t>(chunk.size()));
    }
    if (lines.displays.failed) state.SkipWithError("append failed");
    state.SetItemsProcessed(state.iterations());
}

void BM_PipelineLine(benchmark::State& state) {
    Pipeline lines("");
    Run(state, lines);
}
BENCHMARK(BM_PipelineLine);

void BM_PipelineLineWithRecordingFile(benchmark::State& state) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/waga-bench-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        state.SkipWithError("no temp folder");
        return;
    }
    const std::string file = folder + "/20240102";
    CreateEmptyFile(file);
    {
        Pipeline lines(file);
        Run(state, lines);
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_PipelineLineWithRecordingFile);

// A stream of 11-byte lines (10 bytes and CR) with LF after some, in chunks of range(0) bytes.
void BM_LineAssembly(benchmark::State& state) {
    std::string stream;
    while (stream.size() < 1 << 16) stream += stream.size() % 3 ? " 1234.56kg\r" : "   12,500\r\n";
    const auto chunk = static_cast<std::size_t>(state.range(0));
    std::size_t lines = 0;
    LineAssembler assembler([&](const Win1250Text& line) {
        benchmark::DoNotOptimize(line.Bytes().data());
        ++lines;
    });
    for (auto _ : state) {
        for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
            const std::size_t size = std::min(chunk, stream.size() - pos);
            assembler.Receive(stream.data() + pos, static_cast<std::int32_t>(size));
        }
    }
    const double bytes = static_cast<double>(stream.size()) * state.iterations();
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    // Inverted rate: seconds per byte, printed with its SI prefix (for example "1.6ns").
    state.counters["per_byte"] =
        benchmark::Counter(bytes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    benchmark::DoNotOptimize(lines);
}
BENCHMARK(BM_LineAssembly)->Arg(16)->Arg(256)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
