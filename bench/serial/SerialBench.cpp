// Cost of the serial component's polling: an idle tick (the program polls 20 times a second
// all day) and each delivered byte. Prints figures; asserts nothing.
#include <benchmark/benchmark.h>
#include <sys/ioctl.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QTimerEvent>
#include <ctime>

#include "SerialPort.h"
#include "TestSupport.h"

using waga::test::PtyLink;
using waga::test::ScopedWorkingDir;

namespace {

constexpr double kTicksPerHour = 20.0 * 3600.0;

double ProcessCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One tick as the timer delivers it, without the event loop around it.
void BM_IdlePollTick(benchmark::State& state) {
    PtyLink pty;
    ScopedWorkingDir cwd(pty.Dir());
    SerialPort driver;
    QObject::connect(&driver, &SerialPort::dataReceived, [](const char*, int) {});
    if (!driver.OpenPort()) state.SkipWithError("cannot open the pseudo-terminal");
    QTimerEvent tick(1);
    const double cpuBefore = ProcessCpuSeconds();
    for (auto _ : state) QCoreApplication::sendEvent(&driver, &tick);
    const double cpuPerTick = (ProcessCpuSeconds() - cpuBefore) / double(state.iterations());
    state.counters["cpu_s_per_hour_at_20Hz"] = cpuPerTick * kTicksPerHour;
    state.counters["core_percent"] = cpuPerTick * 20.0 * 100.0;
}
BENCHMARK(BM_IdlePollTick);

// Runs the event loop for `seconds` with nothing to do but the timers already running, and
// reports the process's CPU time as seconds per hour and percent of one core.
void ReportIdleCpu(benchmark::State& state, int seconds) {
    const double before = ProcessCpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = ProcessCpuSeconds() - before;
    state.counters["cpu_s_per_hour"] = cpu / seconds * 3600.0;
    state.counters["core_percent"] = cpu / seconds * 100.0;
}

// The real thing: the event loop running for a few seconds with the 50 ms polling timer.
void BM_IdleEventLoop(benchmark::State& state) {
    PtyLink pty;
    ScopedWorkingDir cwd(pty.Dir());
    SerialPort driver;
    QObject::connect(&driver, &SerialPort::dataReceived, [](const char*, int) {});
    if (!driver.OpenPort()) state.SkipWithError("cannot open the pseudo-terminal");
    const int seconds = static_cast<int>(state.range(0));
    for (auto _ : state) ReportIdleCpu(state, seconds);
}
BENCHMARK(BM_IdleEventLoop)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);

// The floor under any 20 Hz poll: the same loop with a bare 50 ms timer and no port.
void BM_IdleEventLoopBareTimer(benchmark::State& state) {
    const int seconds = static_cast<int>(state.range(0));
    for (auto _ : state) {
        QTimer bare;
        QObject::connect(&bare, &QTimer::timeout, [] {});
        bare.start(50);
        ReportIdleCpu(state, seconds);
    }
}
BENCHMARK(BM_IdleEventLoopBareTimer)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond);

// Full ticks of 2,048 bytes: the read and the handler call, per byte delivered.
void BM_DeliveredBytes(benchmark::State& state) {
    PtyLink pty;
    ScopedWorkingDir cwd(pty.Dir());
    SerialPort driver;
    std::uint64_t sum = 0;
    QObject::connect(&driver, &SerialPort::dataReceived, [&](const char* data, int size) {
        sum += static_cast<unsigned char>(data[size - 1]);
    });
    if (!driver.OpenPort()) state.SkipWithError("cannot open the pseudo-terminal");
    const std::string block(2048, 'x');
    QTimerEvent tick(1);
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        pty.Write(block);
        waga::test::WaitUntil([&] { return pty.QueuedForReader() >= 2048; });
        const double before = ProcessCpuSeconds();
        state.ResumeTiming();
        QCoreApplication::sendEvent(&driver, &tick);
        cpu += ProcessCpuSeconds() - before;
    }
    benchmark::DoNotOptimize(sum);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 2048);
    state.counters["ns_per_byte"] = cpu * 1e9 / (double(state.iterations()) * 2048.0);
}
BENCHMARK(BM_DeliveredBytes);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
