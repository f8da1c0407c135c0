#include "ReportView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

#include "Win1250Qt.h"

ReportView::ReportView(QWidget* parent)
    : QAbstractScrollArea(parent), frame_(this, [this] { Flush(); }) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
}

void ReportView::DeleteFirstLine() {
    if (lines_.empty()) return;
    if (static_cast<int>(lines_.front().Bytes().size()) == longestLine_ && --longestCount_ == 0)
        longestMayHaveLeft_ = true;
    lines_.pop_front();
    ++firstSerial_;
    QueueFlush();
}

void ReportView::Clear() {
    firstSerial_ += static_cast<std::int64_t>(lines_.size());
    lines_.clear();
    longestLine_ = 0;
    longestCount_ = 0;
    longestMayHaveLeft_ = false;
    QueueFlush();
}

void ReportView::AppendLine(const Win1250Text& line) {
    lines_.push_back(line);
    const int length = static_cast<int>(line.Bytes().size());
    if (length > longestLine_) {
        longestLine_ = length;
        longestCount_ = 0;
    }
    if (length == longestLine_) ++longestCount_;
    QueueFlush();
}

// A flush at the next pass of the event loop, or, when the last was less than a frame ago, at
// the frame's end.
void ReportView::QueueFlush() {
    if (frame_.Pending() || flushSoon_) return;
    flushSoon_ = true;
    QTimer::singleShot(0, this, [this] {
        flushSoon_ = false;
        frame_.Request();
    });
}

void ReportView::Flush() {
    frame_.Ran();
    if (longestMayHaveLeft_) {
        longestLine_ = 0;
        longestCount_ = 0;
        for (const Win1250Text& line : lines_) {
            const int length = static_cast<int>(line.Bytes().size());
            if (length > longestLine_) {
                longestLine_ = length;
                longestCount_ = 0;
            }
            if (length == longestLine_) ++longestCount_;
        }
        longestMayHaveLeft_ = false;
    }
    const bool atEnd = followEnd_;
    UpdateScrollBars();
    if (atEnd) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    followEnd_ = atEnd;
    // Only the strip that held text or will hold it is drawn again (report lines are mostly far
    // narrower than the view): what lies right of it is blank before and after. A selection may
    // be highlighted anywhere, so with one the whole view is drawn.
    const int right = anchor_ == cursor_ ? TextRight() : viewport()->width();
    viewport()->update(QRect(0, 0, std::max(right, paintedRight_), viewport()->height()));
}

ReportView::Sight ReportView::ColumnsInSight() const {
    Sight sight;
    sight.columnWidth = ColumnWidth();
    sight.shift = horizontalScrollBar()->value();
    sight.first = std::max(0, (sight.shift - kMargin) / sight.columnWidth);
    sight.count = viewport()->width() / sight.columnWidth + 2;
    return sight;
}

// The right edge of the text in sight, one column beyond its longest row (a glyph may reach a
// little past its cell).
int ReportView::TextRight() const {
    const Sight sight = ColumnsInSight();
    const int rows = viewport()->height() / RowHeight() + 1;
    int longest = -1;
    for (int row = 0; row < rows; ++row) {
        const int index = FirstVisibleLine() + row;
        if (index >= LineCount()) break;
        const int length = static_cast<int>(lines_[static_cast<std::size_t>(index)].Bytes().size());
        longest = std::max(longest, std::min(length, sight.first + sight.count));
    }
    if (longest < 0) return 0;
    return std::clamp(sight.X(longest + 1), 0, viewport()->width());
}

int ReportView::RowHeight() const { return std::max(1, fontMetrics().lineSpacing()); }

int ReportView::ColumnWidth() const {
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
}

int ReportView::VisibleRows() const {
    return std::max(1, (viewport()->height() - 2 * kMargin) / RowHeight());
}

// Vertical steps are lines, horizontal ones pixels; a line as long as the longest fits the end
// of the horizontal range.
void ReportView::UpdateScrollBars() {
    QScrollBar* rows = verticalScrollBar();
    rows->setRange(0, std::max(0, LineCount() - VisibleRows()));
    rows->setPageStep(VisibleRows());
    rows->setSingleStep(1);
    QScrollBar* columns = horizontalScrollBar();
    const int textWidth = longestLine_ * ColumnWidth() + 2 * kMargin;
    columns->setRange(0, std::max(0, textWidth - viewport()->width()));
    columns->setPageStep(viewport()->width());
    columns->setSingleStep(ColumnWidth());
}

void ReportView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    Flush();
}

void ReportView::scrollContentsBy(int, int) {
    followEnd_ = verticalScrollBar()->value() == verticalScrollBar()->maximum();
    viewport()->update();
}

int ReportView::FirstVisibleLine() const { return verticalScrollBar()->value(); }

QString ReportView::LineText(std::int64_t serial, int from, int count) const {
    const std::string& bytes = lines_[static_cast<std::size_t>(serial - firstSerial_)].Bytes();
    if (from >= static_cast<int>(bytes.size()) || count <= 0) return {};
    return Win1250BytesToQString(std::string_view(bytes).substr(static_cast<std::size_t>(from),
                                                                static_cast<std::size_t>(count)));
}

void ReportView::UpdateByteGlyphs() {
    const int columnWidth = ColumnWidth();
    if (byteGlyphs_.font == font() && byteGlyphs_.columnWidth == columnWidth &&
        byteGlyphs_.raw.isValid()) {
        return;
    }
    byteGlyphs_.font = font();
    byteGlyphs_.columnWidth = columnWidth;
    byteGlyphs_.raw = QRawFont::fromFont(font());
    byteGlyphs_.glyph.fill(0);
    if (!byteGlyphs_.raw.isValid()) return;
    // The text layout places characters by these advances (fractional where the font is not
    // hinted across), so a row's glyphs stand exactly where it would put them.
    const QFontMetricsF metrics(font());
    byteGlyphs_.advance = metrics.horizontalAdvance(QLatin1Char('0'));
    for (int byte = 0; byte < 256; ++byte) {
        const QChar c(Win1250ToUnicode(static_cast<unsigned char>(byte)));
        if (!c.isPrint() || c.isMark() || c.isSurrogate()) continue;
        const QList<quint32> glyphs = byteGlyphs_.raw.glyphIndexesForString(QString(c));
        if (glyphs.size() != 1 || glyphs[0] == 0) continue;
        if (metrics.horizontalAdvance(c) != byteGlyphs_.advance) continue;
        byteGlyphs_.glyph[static_cast<std::size_t>(byte)] = glyphs[0];
    }
}

// A piece whose every byte has a glyph of the common advance is drawn glyph by glyph where the
// text layout would place them; any other piece goes through the text layout.
void ReportView::DrawPiece(QPainter& painter, int x, int baseline, std::int64_t serial, int from,
                           int count) {
    const std::string& bytes = lines_[static_cast<std::size_t>(serial - firstSerial_)].Bytes();
    const std::string_view piece = std::string_view(bytes).substr(static_cast<std::size_t>(from),
                                                                  static_cast<std::size_t>(count));
    pieceGlyphs_.clear();
    piecePositions_.clear();
    for (std::size_t i = 0; i < piece.size(); ++i) {
        const quint32 glyph = byteGlyphs_.glyph[static_cast<unsigned char>(piece[i])];
        if (glyph == 0) {
            painter.drawText(x, baseline, LineText(serial, from, count));
            return;
        }
        pieceGlyphs_.append(glyph);
        piecePositions_.append(QPointF(x + static_cast<qreal>(i) * byteGlyphs_.advance, baseline));
    }
    if (pieceGlyphs_.isEmpty()) return;
    QGlyphRun run;
    run.setRawFont(byteGlyphs_.raw);
    run.setGlyphIndexes(pieceGlyphs_);
    run.setPositions(piecePositions_);
    painter.drawGlyphRun(QPointF(0, 0), run);
}

// Each row is drawn from the first column in sight to the last, in up to three pieces (before,
// inside and after the selection), each at its own columns.
void ReportView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const int rowHeight = RowHeight();
    const Sight sight = ColumnsInSight();
    const int columnWidth = sight.columnWidth;
    const int firstColumn = sight.first;
    const int columns = sight.count;
    const Place from = std::min(anchor_, cursor_);
    const Place to = std::max(anchor_, cursor_);
    const QPalette& colours = palette();
    const int ascent = fontMetrics().ascent();
    const int rows = viewport()->height() / rowHeight + 1;
    UpdateByteGlyphs();
    int drawnRight = 0;
    for (int row = 0; row < rows; ++row) {
        const int index = FirstVisibleLine() + row;
        if (index >= LineCount()) break;
        const std::int64_t serial = firstSerial_ + index;
        const int length = static_cast<int>(lines_[static_cast<std::size_t>(index)].Bytes().size());
        const int end = std::min(length, firstColumn + columns);
        int selectedFrom = end, selectedTo = end;
        if (from.serial <= serial && serial <= to.serial && !(from == to)) {
            selectedFrom = from.serial == serial ? from.column : 0;
            selectedTo = to.serial == serial ? to.column : length + 1;  // + the line's end
        }
        const int y = kMargin + row * rowHeight;
        const auto x = [&](int column) { return sight.X(column); };
        const int pieces[4] = {firstColumn, std::clamp(selectedFrom, firstColumn, end),
                               std::clamp(selectedTo, firstColumn, end), end};
        if (selectedTo > selectedFrom && selectedTo > firstColumn) {
            const int right = std::min(selectedTo, firstColumn + columns);
            painter.fillRect(
                QRect(x(std::max(selectedFrom, firstColumn)), y,
                      (right - std::max(selectedFrom, firstColumn)) * columnWidth, rowHeight),
                colours.color(QPalette::Highlight));
            drawnRight = std::max(drawnRight, x(right));
        }
        drawnRight = std::max(drawnRight, x(end + 1));
        for (int piece = 0; piece < 3; ++piece) {
            if (pieces[piece + 1] <= pieces[piece]) continue;
            painter.setPen(colours.color(piece == 1 ? QPalette::HighlightedText : QPalette::Text));
            DrawPiece(painter, x(pieces[piece]), y + ascent, serial, pieces[piece],
                      pieces[piece + 1] - pieces[piece]);
        }
    }
    // A picture that covered all the text the one before it left holds all the text now on
    // screen (Flush asks for no less); one that covered less (a part exposed) leaves some of it.
    const QRegion before(0, 0, paintedRight_, viewport()->height());
    const int right = std::clamp(drawnRight, 0, viewport()->width());
    paintedRight_ = (before - event->region()).isEmpty() ? right : std::max(paintedRight_, right);
}

ReportView::Place ReportView::PlaceAt(QPoint point) const {
    if (lines_.empty()) return {firstSerial_, 0};
    const int row = std::max(0, point.y() - kMargin) / RowHeight();
    const int index = std::min(LineCount() - 1, FirstVisibleLine() + row);
    const int length = static_cast<int>(lines_[static_cast<std::size_t>(index)].Bytes().size());
    const int x = point.x() - kMargin + horizontalScrollBar()->value();
    const int column = (std::max(0, x) + ColumnWidth() / 2) / ColumnWidth();
    return {firstSerial_ + index, std::min(column, length)};
}

void ReportView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    cursor_ = PlaceAt(event->position().toPoint());
    if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = cursor_;
    viewport()->update();
}

void ReportView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    cursor_ = PlaceAt(event->position().toPoint());
    viewport()->update();
}

QString ReportView::Text() const {
    QString text;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (i > 0) text += QLatin1Char('\n');
        text += ToQString(lines_[i]);
    }
    return text;
}

// Lines that have left the top since the selection was made are gone from it.
QString ReportView::SelectedText() const {
    Place from = std::min(anchor_, cursor_);
    const Place to = std::max(anchor_, cursor_);
    const std::int64_t last = firstSerial_ + LineCount() - 1;
    if (from == to || to.serial < firstSerial_ || from.serial > last) return {};
    if (from.serial < firstSerial_) from = {firstSerial_, 0};
    QString text;
    for (std::int64_t serial = from.serial; serial <= std::min(to.serial, last); ++serial) {
        const int length = static_cast<int>(
            lines_[static_cast<std::size_t>(serial - firstSerial_)].Bytes().size());
        const int begin = serial == from.serial ? from.column : 0;
        const int end = serial == to.serial ? std::min(to.column, length) : length;
        if (serial > from.serial) text += QLatin1Char('\n');
        text += LineText(serial, begin, end - begin);
    }
    return text;
}

void ReportView::SelectAll() {
    if (lines_.empty()) return;
    anchor_ = {firstSerial_, 0};
    cursor_ = {firstSerial_ + LineCount() - 1, static_cast<int>(lines_.back().Bytes().size())};
    viewport()->update();
}

void ReportView::CopySelection() const {
    const QString selected = SelectedText();
    if (!selected.isEmpty()) QApplication::clipboard()->setText(selected);
}

void ReportView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) return CopySelection();
    if (event->matches(QKeySequence::SelectAll)) return SelectAll();
    QScrollBar* rows = verticalScrollBar();
    switch (event->key()) {
        case Qt::Key_Up:
            return rows->triggerAction(QAbstractSlider::SliderSingleStepSub);
        case Qt::Key_Down:
            return rows->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        case Qt::Key_Home:
            return rows->triggerAction(QAbstractSlider::SliderToMinimum);
        case Qt::Key_End:
            return rows->triggerAction(QAbstractSlider::SliderToMaximum);
        case Qt::Key_Left:
            return horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        case Qt::Key_Right:
            return horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        default:
            QAbstractScrollArea::keyPressEvent(event);  // page keys; others go to the window
    }
}

void ReportView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(QStringLiteral("&Kopiuj"), this, [this] { CopySelection(); });
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(!SelectedText().isEmpty());
    QAction* all =
        menu.addAction(QStringLiteral("Zaznacz &wszystko"), this, [this] { SelectAll(); });
    all->setShortcut(QKeySequence::SelectAll);
    all->setEnabled(!lines_.empty());
    menu.exec(event->globalPos());
}
