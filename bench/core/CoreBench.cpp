// Figures for the reading pipeline: ProcessLine per 10-byte line without and with the
// recording file, and line assembly per byte.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "LineAssembler.h"
#include "LineRouting.h"
#include "RecordingFile.h"

namespace {

// Every operation does nothing; the switches route readings and report lines to the report
// view so that the whole routing runs.
class QuietEnvironment : public ILineEnvironment {
  public:
    bool recording = false;
    std::string fileName;

    void SetReadout(const Win1250Text& text) override {
        benchmark::DoNotOptimize(text.Bytes().data());
    }
    int ReportLineCount() const override { return 0; }
    void DeleteFirstReportLine() override {}
    void ClearReport() override {}
    void AppendReportLine(const Win1250Text& line) override {
        benchmark::DoNotOptimize(line.Bytes().data());
    }
    bool ShowReadingsChecked() const override { return true; }
    bool RecordingChecked() const override { return recording; }
    bool RecordReadingsChecked() const override { return true; }
    bool DeleteOldestSelected() const override { return true; }
    void UncheckRecording() override { recording = false; }
    std::int32_t MaxReportLines() const override { return 300; }
    std::string RecordingFileName() const override { return fileName; }
    RecordingWriter& RecordingOutput() override { return writer; }
    RecordingWriter writer;
    void ShowError(const std::string&) override {}
    ConfirmAnswer AskConfirmation(const std::string&) override { return ConfirmAnswer::No; }
    char DecimalSeparator() const override { return ','; }
};

// Ten-byte lines: two weight readings and a report line.
const std::vector<Win1250Text> kLines = {Win1250Text("   1234.56"), Win1250Text("-0012,5000"),
                                         Win1250Text("NETTO  kg:")};

void BM_ProcessLine(benchmark::State& state) {
    QuietEnvironment env;
    std::size_t i = 0;
    for (auto _ : state) ProcessLine(kLines[i++ % kLines.size()], env);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProcessLine);

void BM_ProcessLineWithRecordingFile(benchmark::State& state) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/waga-bench-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        state.SkipWithError("no temp folder");
        return;
    }
    QuietEnvironment env;
    env.fileName = folder + "/20240102";
    CreateEmptyFile(env.fileName);
    std::size_t i = 0;
    for (auto _ : state) {
        env.recording = true;
        ProcessLine(kLines[i++ % kLines.size()], env);
        if (!env.recording) state.SkipWithError("append failed");
    }
    state.SetItemsProcessed(state.iterations());
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_ProcessLineWithRecordingFile);

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
