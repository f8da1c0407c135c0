#include "Journal.h"

namespace waga::journal {

Journal::Journal(const JournalSettings& settings, const QString& folder, bool keepUnsent,
                 QObject* parent)
    : QObject(parent) {
    WriterOptions options;
    options.folder = folder;
    options.keepDays = settings.keepDays;
    options.keepUnsent = keepUnsent;
    options.afterCommit = [this](std::int64_t highestSeq) { emit committed(qint64{highestSeq}); };
    writer_ = std::make_unique<JournalWriter>(options);
    connect(writer_.get(), &JournalWriter::notice, this, &Journal::notice, Qt::QueuedConnection);
    sink_ = std::make_unique<JournalSink>(*writer_, writer_->Start());
}

Journal::~Journal() {
    sink_.reset();
    writer_.reset();  // stores what is still queued
}

}  // namespace waga::journal
