#include "ReportView.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include "Win1250Qt.h"

ReportView::ReportView(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
}

void ReportView::DeleteFirstLine() {
    if (lines_.empty()) return;
    lines_.pop_front();
    if (kept_ > 0) --kept_;
    QueueFlush();
}

void ReportView::Clear() {
    lines_.clear();
    kept_ = 0;
    QueueFlush();
}

void ReportView::AppendLine(const Win1250Text& line) {
    lines_.push_back(line);
    QueueFlush();
}

void ReportView::QueueFlush() {
    if (flushQueued_) return;
    flushQueued_ = true;
    QTimer::singleShot(0, this, [this] { Flush(); });
}

QString ReportView::JoinedText(std::size_t first) const {
    QString text;
    for (std::size_t i = first; i < lines_.size(); ++i) {
        if (i > first) text += QLatin1Char('\n');
        text += ToQString(lines_[i]);
    }
    return text;
}

void ReportView::Flush() {
    flushQueued_ = false;
    const int removeTop = widgetLines_ - static_cast<int>(kept_);
    const std::size_t appended = lines_.size() - kept_;
    if (removeTop == 0 && appended == 0) return;

    QScrollBar* bar = verticalScrollBar();
    const bool followEnd = bar->value() == bar->maximum();
    if (kept_ == 0) {
        setPlainText(JoinedText(0));
    } else {
        QTextCursor cursor(document());
        cursor.beginEditBlock();
        if (removeTop > 0) {
            cursor.setPosition(0);
            cursor.setPosition(document()->findBlockByNumber(removeTop).position(),
                               QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        if (appended > 0) {
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(QLatin1Char('\n') + JoinedText(kept_));
        }
        cursor.endEditBlock();
    }
    widgetLines_ = static_cast<int>(lines_.size());
    kept_ = lines_.size();
    if (followEnd) bar->setValue(bar->maximum());
}
