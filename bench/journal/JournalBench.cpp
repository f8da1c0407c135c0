// The journal's figures (printed, never asserted):
//   - the delay from a chunk handed to the pipeline to its rows committed, at 5,760 lines/s in
//     chunks of 58 lines (the 115200 bit/s short stream), p50 / p99 / max; the CPU of that
//     stream with the rows sealed and, in the same run, without (the seal's cost a line);
//   - waga-journal verify's check of a sealed journal of a million rows, and that time for a
//     year at one row a second (31.5 million rows);
//   - the size of dziennik.sqlite for a day at 4 readings/s (one line per chunk, as it arrives):
//     all different, and all the same;
//   - the window's thread per line at 5,760 lines/s of random digits (as the installed program's
//     harness sends): the pipeline and the journal's sink, then with the weight service's sink
//     as installed (the service off) and with the service on (its events handed to a thread);
//   - the history window (offscreen, 1200x500) showing that day of 345,600 changing readings:
//     reading the range, and drawing it (a grab of the window), median of 5.
// Usage: journal_bench [--seconds N] [--screenshot PATH] [--history FOLDER YYYY-MM-DD]

#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPixmap>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <thread>

#include "HistoryWindow.h"
#include "JournalFile.h"
#include "JournalSink.h"
#include "JournalWatch.h"
#include "JournalWriter.h"
#include "LinePipeline.h"
#include "SealCheck.h"
#include "WeightServiceSink.h"

namespace {

using Clock = std::chrono::steady_clock;
using waga::journal::JournalSink;
using waga::journal::JournalWriter;
using waga::journal::WriterOptions;
using waga::test::CommitWatch;
using waga::test::SeqTap;

// The calling thread's CPU time.
std::int64_t ThreadCpuNs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = std::min(values.size() - 1, std::size_t(p / 100.0 * double(values.size())));
    return values[index];
}

// The CPU share (% of one core) of the stream; `sealed`: the rows sealed as the program does.
double CommitDelay(int seconds, bool sealed) {
    QTemporaryDir dir;
    std::mutex mutex;
    std::map<std::int64_t, Clock::time_point> pushed;  // a chunk's last seq, when it was handed
    std::vector<double> delaysMs;
    WriterOptions options;
    options.folder = dir.path();
    options.keyPath = dir.filePath(QStringLiteral("klucz-stacji"));
    options.seal = sealed;
    options.checkSeal = false;
    options.afterCommit = [&](std::int64_t seq) {
        const auto now = Clock::now();
        // One commit may hold several chunks: every chunk up to its highest seq is in.
        std::lock_guard lock(mutex);
        const auto end = pushed.upper_bound(seq);
        for (auto it = pushed.begin(); it != end; ++it) {
            delaysMs.push_back(std::chrono::duration<double, std::milli>(now - it->second).count());
        }
        pushed.erase(pushed.begin(), end);
    };
    CommitWatch commits;
    commits.Hook(options);
    JournalWriter writer(options);
    JournalSink sink(writer, writer.Start());
    SeqTap seqs;
    sink.SetNumberedSink(&seqs);
    LinePipeline pipeline;
    pipeline.Subscribe(&sink);
    const int chunksPerSecond = 100;
    const int linesPerChunk = 58;  // 5,800 lines/s
    const auto start = Clock::now();
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    int value = 0;
    std::int64_t receiveNs = 0;  // the handing thread's CPU in Receive: the window's share
    for (int chunk = 0; chunk < seconds * chunksPerSecond; ++chunk) {
        std::this_thread::sleep_until(start +
                                      std::chrono::milliseconds(chunk * 1000 / chunksPerSecond));
        std::string bytes;
        for (int i = 0; i < linesPerChunk; ++i) {
            bytes += std::to_string(value / 100) + ',' + std::to_string(value % 100) + "\r\n";
            ++value;
        }
        const auto t = Clock::now();
        const std::int64_t threadBefore = ThreadCpuNs();
        pipeline.Receive(bytes.data(), std::int32_t(bytes.size()));
        receiveNs += ThreadCpuNs() - threadBefore;
        std::lock_guard lock(mutex);
        pushed[seqs.last] = t;
    }
    commits.WaitFor(seqs.last, std::chrono::seconds(60));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const auto cpuUs = [](const rusage& r) {
        return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e6 +
               double(r.ru_utime.tv_usec + r.ru_stime.tv_usec);
    };
    const double wallUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    const double share = 100.0 * (cpuUs(after) - cpuUs(before)) / wallUs;
    std::printf(
        "journal: CPU of the pipeline and the journal (both threads) at %d lines/s, rows %s: "
        "%.1f%% of one core\n",
        chunksPerSecond * linesPerChunk, sealed ? "sealed" : "unsealed", share);
    if (!sealed) return share;
    std::printf(
        "journal: on the window's thread (the pipeline and the journal's sink): %.2f µs a "
        "line\n",
        double(receiveNs) / 1000.0 / double(value));
    std::lock_guard lock(mutex);
    std::printf(
        "journal: chunk to rows committed at %d lines/s, %d s: p50 %.2f ms, p99 %.2f ms,"
        " max %.2f ms (%zu chunks)\n",
        chunksPerSecond * linesPerChunk, seconds, Percentile(delaysMs, 50),
        Percentile(delaysMs, 99), Percentile(delaysMs, 100), delaysMs.size());
    return share;
}

// A sealed journal of `rows` changing readings written through the writer, then checked as
// waga-journal verify checks it.
void VerifyTime(std::int64_t rows) {
    QTemporaryDir dir;
    {
        WriterOptions options;
        options.folder = dir.path();
        options.keyPath = dir.filePath(QStringLiteral("klucz-stacji"));
        options.checkSeal = false;
        CommitWatch commits;
        commits.Hook(options);
        JournalWriter writer(options);
        std::int64_t seq = writer.Start();
        const std::int64_t t0 = waga::journal::UtcNowUs() / 1000 - rows * 1000;
        for (std::int64_t done = 0; done < rows;) {
            std::vector<JournalOp> batch;
            for (int i = 0; i < 5000 && done < rows; ++i, ++done, ++seq) {
                const double value = double(done % 100000) / 100.0;
                char text[32];
                std::snprintf(text, sizeof text, "%9.2f", value);
                JournalOp op;
                op.row = JournalRow{seq,
                                    JournalKind::Reading,
                                    t0 + done * 1000,
                                    t0 + done * 1000,
                                    1,
                                    text,
                                    text,
                                    value,
                                    "kg",
                                    "COM2"};
                batch.push_back(std::move(op));
            }
            // Each batch committed before the next, so none meets the queue's bound.
            writer.Push(std::move(batch), true);
            if (!commits.WaitFor(seq - 1, std::chrono::minutes(10))) {
                std::fprintf(stderr, "journal: the writer did not commit row %lld\n",
                             static_cast<long long>(seq - 1));
                std::exit(1);
            }
        }
    }
    const QString path = waga::journal::JournalPath(dir.path());
    const auto start = Clock::now();
    const std::int64_t cpuBefore = ThreadCpuNs();
    const waga::journal::SealReport report = waga::journal::VerifyJournal(path, std::nullopt);
    const double cpu = double(ThreadCpuNs() - cpuBefore) / 1e9;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double perRow = 1.0 / double(std::max<std::int64_t>(report.sealed, 1));
    std::printf(
        "journal: verify of %lld sealed rows (%s): %.2f s (CPU %.2f s), %.2f µs a row; "
        "a year at one row a second (31.5 million rows) %.0f s (CPU %.0f s)\n",
        static_cast<long long>(report.sealed),
        report.readable && report.findings.empty() ? "intact" : "NOT intact", seconds, cpu,
        seconds * 1e6 * perRow, seconds * perRow * 31.5e6, cpu * perRow * 31.5e6);
}

// µs a line on the handing thread (the window's): random digits, one a line, 58 lines every
// 10 ms, through the pipeline, the journal's sink and, as `service` says, the service's sink not
// connected (the service off, as installed) or connected to a feed a thread of its own empties.
enum class ServiceCase { None, Off, On };
double WindowThreadPerLine(int seconds, ServiceCase service) {
    QTemporaryDir dir;
    WriterOptions options;
    options.folder = dir.path();
    JournalWriter writer(options);
    JournalSink sink(writer, writer.Start());
    WeightServiceSink serviceSink;
    LinePipeline pipeline;
    pipeline.SetUnit(Win1250Text("kg"));
    pipeline.Subscribe(&sink);
    if (service != ServiceCase::None) sink.SetNumberedSink(&serviceSink);
    auto feed = std::make_shared<ServiceFeed>();
    std::atomic<bool> done{false};
    std::thread server;
    if (service == ServiceCase::On) {
        serviceSink.Connect(feed, {});
        server = std::thread([&] {
            while (!done) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                feed->TakeAll();
            }
        });
    }
    std::uint32_t state = 2024;
    std::int64_t handingNs = 0, lines = 0;
    const auto start = Clock::now();
    for (int chunk = 0; chunk < seconds * 100; ++chunk) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(chunk * 10));
        std::string bytes;
        for (int i = 0; i < 58; ++i) {
            state = state * 1664525u + 1013904223u;
            bytes += char('0' + (state >> 16) % 10);
            bytes += '\r';
        }
        const std::int64_t before = ThreadCpuNs();
        pipeline.Receive(bytes.data(), std::int32_t(bytes.size()));
        handingNs += ThreadCpuNs() - before;
        lines += 58;
    }
    done = true;
    if (server.joinable()) server.join();
    pipeline.Unsubscribe(&sink);
    return double(handingNs) / 1000.0 / double(lines);
}

void WindowThreadShares(int seconds) {
    const double journal = WindowThreadPerLine(seconds, ServiceCase::None);
    const double off = WindowThreadPerLine(seconds, ServiceCase::Off);
    const double on = WindowThreadPerLine(seconds, ServiceCase::On);
    std::printf(
        "journal: on the window's thread at 5,760 random digits/s, the pipeline and the "
        "journal's sink / with the service's sink, service off / service on: %.2f / %.2f / "
        "%.2f µs a line (the service's events: %.2f / %.2f µs a line)\n",
        journal, off, on, off - journal, on - journal);
}

// A day at 4 readings/s through the real sink and writer, a minute per chunk.
qint64 WriteDay(const QString& folder, bool changing, std::int64_t dayStartMs) {
    std::int64_t now = dayStartMs;
    {
        WriterOptions options;
        options.folder = folder;
        options.keepDays = 36600;
        // The day may wait in the queue, and the close stores all of it.
        options.queueBytes = std::size_t{1} << 30;
        options.closeWithinMs = 600000;
        JournalWriter writer(options);
        JournalSink sink(writer, writer.Start());
        LinePipeline pipeline([&now] { return now; });
        pipeline.SetUnit(Win1250Text("kg"));
        pipeline.Subscribe(&sink);
        std::uint32_t state = 12345;
        // One line per chunk, each with its own time, as a scale at 4 lines/s arrives.
        for (int i = 0; i < 345'600; ++i) {
            char line[32];
            if (changing) {
                // A weighing every 10 minutes: empty, loading, a load of 8-30 t, unloading;
                // the last digits never rest, so every reading differs from the one before.
                state = state * 1664525u + 1013904223u;
                const int second = (i / 4) % 600;
                const double load = 8000 + double((i / 2400 * 7919) % 22000);
                const double level = second < 120   ? 0
                                     : second < 150 ? load * (second - 120) / 30
                                     : second < 450 ? load
                                     : second < 480 ? load * (480 - second) / 30
                                                    : 0;
                const double noise = double(int(state >> 16) % 2001 - 1000) / 100;
                std::snprintf(line, sizeof line, "%9.2f\r\n", level + noise);
            } else {
                std::snprintf(line, sizeof line, "    0,00\r\n");
            }
            now = dayStartMs + std::int64_t(i) * 250;
            pipeline.Receive(line, std::int32_t(std::strlen(line)));
        }
    }
    return QFileInfo(waga::journal::JournalPath(folder)).size();
}

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void HistoryWindowDraw(const QString& folder, const QDate& day, const QString& screenshot) {
    {
        // The reading step alone, on this thread: wall and CPU time (the machine's load shows
        // in the first, not in the second).
        std::vector<double> wall, cpu;
        for (int run = 0; run < 5; ++run) {
            QElapsedTimer timer;
            timer.start();
            const double cpu0 = ThreadCpuMs();
            const HistoryData data = LoadHistory(waga::journal::JournalPath(folder), DayRange(day));
            cpu.push_back(ThreadCpuMs() - cpu0);
            wall.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        std::printf(
            "journal: reading a day of 345,600 readings for the plot: %.0f ms "
            "(CPU %.0f ms), median of 5\n",
            Percentile(wall, 50), Percentile(cpu, 50));
    }
    HistoryWindow window(waga::journal::JournalPath(folder));
    window.resize(1200, 500);
    window.show();
    std::vector<double> readMs, drawMs;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        QEventLoop loop;
        const auto connection =
            QObject::connect(&window, &HistoryWindow::shown, &loop, &QEventLoop::quit);
        window.ShowDay(day);
        loop.exec();
        QObject::disconnect(connection);
        readMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        const QPixmap picture = window.grab();
        drawMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (run == 0 && !screenshot.isEmpty()) picture.save(screenshot);
    }
    std::printf(
        "journal: history window, a day of 345,600 changing readings, 1200x500 offscreen:"
        " read %.0f ms, draw %.0f ms (median of 5), %d points drawn, %s\n",
        Percentile(readMs, 50), Percentile(drawMs, 50), window.PlottedPoints(),
        window.Summary().toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    int seconds = 10;
    QString screenshot, historyFolder;
    QDate historyDay;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds") seconds = std::max(1, std::atoi(argv[i + 1]));
        if (option == "--screenshot") screenshot = QString::fromLocal8Bit(argv[i + 1]);
        if (option == "--history" && i + 2 < argc) {  // --history FOLDER YYYY-MM-DD: only that
            historyFolder = QString::fromLocal8Bit(argv[i + 1]);
            historyDay = QDate::fromString(QString::fromLatin1(argv[i + 2]), Qt::ISODate);
            ++i;
        }
    }
    if (!historyFolder.isEmpty()) {
        HistoryWindowDraw(historyFolder, historyDay, screenshot);
        return 0;
    }
    const double unsealed = CommitDelay(seconds, false);
    const double sealed = CommitDelay(seconds, true);
    std::printf("journal: the seal's cost at 5,800 lines/s: %.2f%% of one core, %.2f µs a line\n",
                sealed - unsealed, (sealed - unsealed) / 100.0 * 1e6 / 5800.0);
    VerifyTime(qEnvironmentVariableIntValue("JOURNAL_BENCH_VERIFY_ROWS") > 0
                   ? qEnvironmentVariableIntValue("JOURNAL_BENCH_VERIFY_ROWS")
                   : 1000000);
    WindowThreadShares(std::max(2, seconds / 2));
    if (qEnvironmentVariableIsSet("JOURNAL_BENCH_DELAY_ONLY")) return 0;
    QTemporaryDir changing, steady;
    const QDate day = QDate::currentDate().addDays(-1);
    const std::int64_t dayStart = day.startOfDay().toMSecsSinceEpoch();
    const qint64 changingBytes = WriteDay(changing.path(), true, dayStart);
    const qint64 steadyBytes = WriteDay(steady.path(), false, dayStart);
    std::printf(
        "journal: a day at 4 readings/s (345,600 lines): all different %.1f MB "
        "(%lld bytes), all the same %.1f kB (%lld bytes)\n",
        double(changingBytes) / 1e6, static_cast<long long>(changingBytes),
        double(steadyBytes) / 1e3, static_cast<long long>(steadyBytes));
    HistoryWindowDraw(changing.path(), day, screenshot);
    return 0;
}
