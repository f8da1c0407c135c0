#pragma once
// The journal as the composition root builds it: the writer and its sink, started from the
// [Dziennik] settings of dodatki.ini. The root subscribes the sink and unsubscribes it before
// the journal goes.

#include <QObject>
#include <QString>
#include <memory>

#include "AddOnSettings.h"
#include "JournalSink.h"
#include "JournalWriter.h"

namespace waga::journal {

class Journal : public QObject {
    Q_OBJECT
  public:
    // Opens (or starts) dziennik.sqlite in `folder` and deletes rows older than the kept days.
    // `keepUnsent`: the central upload is on, so old rows it has not sent yet are kept.
    Journal(const JournalSettings& settings, const QString& folder, bool keepUnsent = false,
            QObject* parent = nullptr);
    ~Journal() override;

    JournalSink& Sink() { return *sink_; }
    JournalWriter& Writer() { return *writer_; }

  signals:
    // A fault's cause for the status bar's tooltip and standard error (MainWindow::SetAddOnNotice
    // with the source "Dziennik"), or an empty text when the journal writes again. Delivered on
    // the thread that owns this object.
    void notice(const QString& text);
    // Rows up to `highestSeq` are committed. Emitted on the writer's thread after each commit:
    // connect it directly to something thread-safe (CentralUploader::Waker()).
    void committed(qint64 highestSeq);

  private:
    std::unique_ptr<JournalWriter> writer_;
    std::unique_ptr<JournalSink> sink_;
};

}  // namespace waga::journal
