#pragma once
// Mraport: the report view, a read-only, scrolling view of whole lines (line 0 the oldest) that
// never wraps. It keeps the lines as received (Windows-1250 bytes) and draws only the rows and
// columns in sight, so neither a full view that drops its top line for each new one nor a line
// thousands of characters long costs more than the few rows on screen. Counting, deleting and
// appending lines take effect in the model at once; the scroll bars and the picture follow when
// the event loop next runs, at most once a frame (or when Flush is called). The operator can select
// with the mouse (or Ctrl+A) and copy with Ctrl+C or the context menu.

#include <QAbstractScrollArea>
#include <QFont>
#include <QPoint>
#include <QRawFont>
#include <array>
#include <cstdint>
#include <deque>

#include "FramePacer.h"
#include "LineRouting.h"
#include "Win1250.h"

class ReportView : public QAbstractScrollArea, public IReportLines {
    Q_OBJECT
  public:
    explicit ReportView(QWidget* parent = nullptr);

    // IReportLines: the routing rules' view of it.
    int ReportLineCount() const override { return LineCount(); }
    void DeleteFirstReportLine() override { DeleteFirstLine(); }
    void ClearReport() override { Clear(); }
    void AppendReportLine(const Win1250Text& line) override { AppendLine(line); }

    int LineCount() const { return static_cast<int>(lines_.size()); }
    void DeleteFirstLine();
    void Clear();
    void AppendLine(const Win1250Text& line);
    const std::deque<Win1250Text>& Lines() const { return lines_; }

    // Brings the scroll bars and the picture up to the lines now.
    void Flush();
    bool FlushPending() const { return flushSoon_ || frame_.Pending(); }

    // Every line, joined by '\n' (what "Zaznacz wszystko" and copying take).
    QString Text() const;
    // The selected text ("" without a selection), and selecting all of it.
    QString SelectedText() const;
    void SelectAll();
    // The first line in sight (an index into Lines()).
    int FirstVisibleLine() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    // A place in the text: a line by its serial number (never reused, so a selection stays on its
    // lines while older ones leave the top) and a column in that line.
    struct Place {
        std::int64_t serial = 0;
        int column = 0;
        bool operator<(const Place& other) const {
            return serial != other.serial ? serial < other.serial : column < other.column;
        }
        bool operator==(const Place&) const = default;
    };

    // The columns in sight: the horizontal scroll, the first column and how many follow.
    struct Sight {
        int columnWidth = 1;
        int shift = 0;
        int first = 0;
        int count = 0;
        int X(int column) const { return kMargin + column * columnWidth - shift; }
    };
    static constexpr int kMargin = 4;  // blank space around the text, as a text edit leaves it

    void QueueFlush();
    Sight ColumnsInSight() const;
    int TextRight() const;
    void UpdateScrollBars();
    int RowHeight() const;
    int ColumnWidth() const;
    int VisibleRows() const;
    Place PlaceAt(QPoint viewportPoint) const;
    QString LineText(std::int64_t serial, int from, int count) const;
    void CopySelection() const;
    void DrawPiece(QPainter& painter, int x, int baseline, std::int64_t serial, int from,
                   int count);
    void UpdateByteGlyphs();

    // The font's glyph for each byte that is drawn as itself with the font's common advance, so
    // a row is drawn without laying its text out again; 0 for a byte drawn through the text
    // layout (one the font lacks, a control or format character, any other advance).
    struct ByteGlyphs {
        QFont font;
        int columnWidth = 0;
        qreal advance = 0;
        QRawFont raw;
        std::array<quint32, 256> glyph{};
    };
    ByteGlyphs byteGlyphs_;
    QList<quint32> pieceGlyphs_;  // reused by every piece drawn
    QList<QPointF> piecePositions_;

    std::deque<Win1250Text> lines_;
    std::int64_t firstSerial_ = 0;  // serial number of lines_.front()
    int longestLine_ = 0;           // characters of the longest line, for the horizontal range
    int longestCount_ = 0;          // lines of that length: only the last one leaving needs a scan
    bool longestMayHaveLeft_ = false;
    bool flushSoon_ = false;  // a flush asked for at the event loop's next pass
    FramePacer frame_;
    int paintedRight_ = 0;   // the right edge of the text the last picture drew
    bool followEnd_ = true;  // the last line stays in sight as lines arrive
    Place anchor_;           // where the selection began
    Place cursor_;           // where it ends; equal to anchor_ means none
};
