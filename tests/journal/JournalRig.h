#pragma once
// A journal for the tests: the real writer and sink behind a real pipeline whose clock the test
// sets, and the notices the writer gave.

#include <QObject>
#include <QString>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "JournalSink.h"
#include "JournalWatch.h"
#include "JournalWriter.h"
#include "LinePipeline.h"

namespace waga::test {

using waga::journal::JournalSink;
using waga::journal::JournalWriter;
using waga::journal::WriterOptions;

// The notices a writer gave, gathered from its thread.
class Notices {
  public:
    explicit Notices(JournalWriter& writer) {
        QObject::connect(
            &writer, &JournalWriter::notice, &writer,
            [this](const QString& text) {
                std::lock_guard lock(mutex_);
                texts_.push_back(text);
            },
            Qt::DirectConnection);
    }
    std::vector<QString> Texts() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<QString> texts_;
};

// A writer, its sink and a pipeline with a settable clock. The notices and the commits outlive
// the writer, which may still give one while it closes.
struct Rig {
    explicit Rig(const std::string& folder, WriterOptions options = {}) {
        options.folder = QString::fromStdString(folder);
        commits.Hook(options);
        writer = std::make_unique<JournalWriter>(options);
        notices = std::make_unique<Notices>(*writer);
        sink = std::make_unique<JournalSink>(*writer, writer->Start());
        sink->SetNumberedSink(&seqs);
        pipeline.Subscribe(sink.get());
        pipeline.SetUnit(Win1250Text("kg"));
    }
    ~Rig() { Close(); }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;
    void Send(const std::string& bytes) {
        pipeline.Receive(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    // The program's close: the sink, then the writer's last attempts.
    void Close() {
        if (!sink) return;
        pipeline.Unsubscribe(sink.get());
        sink.reset();
        writer.reset();
    }
    // The seq of the row the last line went into.
    std::int64_t LastSeq() const { return seqs.last; }
    // Waits until the rows up to the last line are committed.
    bool WaitCommitted(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return commits.WaitFor(LastSeq(), timeout);
    }

    std::int64_t now = 1'800'000'000'000;
    LinePipeline pipeline{[this] { return now; }};
    SeqTap seqs;
    CommitWatch commits;
    std::unique_ptr<Notices> notices;
    std::unique_ptr<JournalWriter> writer;
    std::unique_ptr<JournalSink> sink;
};

}  // namespace waga::test
