// The whole reading pipeline per line with the real main window: bytes into the line pipeline,
// its sinks: the read-out, the report view (full, "kasuj początek") and the recording file,
// then the event loop that brings the widgets up to date and paints them, one polling tick at a
// time. Prints lines per second and microseconds per line; the memory case prints the resident
// size with a full view of 80-character lines. Figures only: nothing here passes or fails.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <cstdio>
#include <fstream>
#include <string>

#include "Composition.h"
#include "MainWindow.h"
#include "ReportView.h"

namespace {

// 115200 bit/s with 2-byte lines ("5" CR, 10 bits a byte) is 5760 lines/s: 288 per 50-ms tick.
constexpr int kLinesPerTick = 288;

struct BenchWindow {
    QString dir;
    Composition program;
    MainWindow& form = program.Window();

    explicit BenchWindow(int limit) {
        dir = QDir::temp().filePath(QStringLiteral("waga-ui-bench-%1").arg(getpid()));
        QDir().mkpath(dir);
        const std::string file = QDir(dir).filePath(QStringLiteral("rec")).toStdString();
        std::ofstream(file, std::ios::binary).flush();
        program.Switches().SetRecordingFileName(file);
        program.Switches().SetRecording(true);
        program.Switches().SetRecordReadings(true);
        program.Switches().SetShowReadings(true);
        program.Switches().SetDeleteOldest(true);
        program.Switches().SetMaxReportLines(limit);
        form.show();
        for (int i = 0; i < 20; ++i) QApplication::processEvents();
    }
    ~BenchWindow() {
        form.close();
        QDir(dir).removeRecursively();
    }
    void Feed(const std::string& bytes) {
        program.Pipeline().Receive(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    void Fill(int lines, const std::string& text) {
        std::string bytes;
        for (int i = 0; i < lines; ++i) bytes += text + "\r";
        Feed(bytes);
        QApplication::processEvents();
    }
};

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

// One tick of 2-byte readings per iteration, with the view held at its limit (10 or 5000).
void BM_TickOfReadingsFullView(benchmark::State& state) {
    const int limit = static_cast<int>(state.range(0));
    BenchWindow window(limit);
    window.Fill(limit, "5");
    std::string tick;
    for (int i = 0; i < kLinesPerTick; ++i) tick += std::to_string(i % 10) + "\r";
    double worstTickMs = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        window.Feed(tick);
        QApplication::processEvents();  // widget update and paint, as after a real tick
        worstTickMs = std::max(worstTickMs, clock.nsecsElapsed() / 1e6);
    }
    const double lines = static_cast<double>(state.iterations()) * kLinesPerTick;
    state.SetItemsProcessed(static_cast<std::int64_t>(lines));
    state.counters["us_per_line"] =
        benchmark::Counter(lines, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["lines_per_s"] = benchmark::Counter(lines, benchmark::Counter::kIsRate);
    state.counters["worst_tick_ms"] = worstTickMs;
    state.counters["view_lines"] = window.form.ReportDisplay().LineCount();
}
BENCHMARK(BM_TickOfReadingsFullView)
    ->Arg(10)
    ->Arg(5000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same with the file left out: the view's and the window's share alone.
void BM_TickOfReadingsNoFile(benchmark::State& state) {
    const int limit = static_cast<int>(state.range(0));
    BenchWindow window(limit);
    window.program.Switches().SetRecording(false);
    window.Fill(limit, "5");
    std::string tick;
    for (int i = 0; i < kLinesPerTick; ++i) tick += std::to_string(i % 10) + "\r";
    for (auto _ : state) {
        window.Feed(tick);
        QApplication::processEvents();
    }
    const double lines = static_cast<double>(state.iterations()) * kLinesPerTick;
    state.counters["us_per_line"] =
        benchmark::Counter(lines, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TickOfReadingsNoFile)
    ->Arg(10)
    ->Arg(5000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Resident memory with a full view of 80-character report lines, kept full for many ticks.
void BM_ResidentMemoryFullView80(benchmark::State& state) {
    BenchWindow window(5000);
    window.program.Switches().SetRecording(false);
    const std::string line = "RAPORT " + std::string(73, 'x');
    window.Fill(5000, line);
    std::string tick;
    for (int i = 0; i < 100; ++i) tick += line + "\r";
    for (auto _ : state) {
        window.Feed(tick);
        QApplication::processEvents();
    }
    state.counters["rss_MiB"] = ResidentKiB() / 1024.0;
    state.counters["view_lines"] = window.form.ReportDisplay().LineCount();
}
BENCHMARK(BM_ResidentMemoryFullView80)->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
