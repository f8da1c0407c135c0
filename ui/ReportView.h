#pragma once
// Mraport: the report view. An exact model of its lines (Windows-1250 bytes, line 0 the oldest)
// answers every count, delete and append at once; the text widget receives the net change of
// all of them in one edit block when the event loop next runs (or when Flush is called), so a
// full view that drops its top line for each new one costs the same at 5000 lines as at 10.

#include <QPlainTextEdit>
#include <deque>
#include <string>

#include "Win1250.h"

class ReportView : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit ReportView(QWidget* parent = nullptr);

    int LineCount() const { return static_cast<int>(lines_.size()); }
    void DeleteFirstLine();
    void Clear();
    void AppendLine(const Win1250Text& line);
    const std::deque<Win1250Text>& Lines() const { return lines_; }

    // Brings the widget's text up to the model now.
    void Flush();
    bool FlushPending() const { return flushQueued_; }

  private:
    void QueueFlush();
    QString JoinedText(std::size_t first) const;

    std::deque<Win1250Text> lines_;
    int widgetLines_ = 0;  // lines the widget's document holds
    // The first kept_ lines of the model are the last kept_ lines of the document; the rest of
    // the document goes at the next flush, and the rest of the model is appended then.
    std::size_t kept_ = 0;
    bool flushQueued_ = false;
};
