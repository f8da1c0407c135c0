#include "ReadoutLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <algorithm>

#include "Win1250Qt.h"

namespace {

// A reading longer than this cannot show whole even at the smallest size (the box takes about
// 50 digits there), so only its end is measured: a line as long as the pending-line bound costs
// no more than a short one.
constexpr qsizetype kLongestMeasured = 256;

// How far the text reaches into the box from its right edge: the text's advance, less the blank
// space its first glyph leaves on the left (the "1" of "12345.67" has much of it). That space may
// fall outside the box; no part of a character may.
int Width(const QFont& font, const QString& text) {
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(text) - std::max(0, metrics.tightBoundingRect(text).left());
}

QFont WithPixelSize(QFont font, int pixels) {
    font.setPixelSize(pixels);
    return font;
}

}  // namespace

ReadoutLabel::ReadoutLabel(QWidget* parent) : QLabel(parent), frame_(this, [this] { Draw(); }) {}

void ReadoutLabel::SetBaseFont(const QFont& font) {
    base_ = font;
    advances_.clear();
    pictures_.clear();
    setFont(font);
}

void ReadoutLabel::SetReading(const QString& reading) {
    reading_ = reading;
    frame_.Ran();
    Draw();
}

void ReadoutLabel::Draw() {
    const QString& reading = reading_;
    const int room = contentsRect().width();
    const QString measured =
        reading.size() > kLongestMeasured ? reading.right(kLongestMeasured) : reading;
    // Most readings fit at the read-out's own size, and their advance alone says so (the width
    // below is never more): one layout of the text for them instead of four.
    if (measured.size() == reading.size() && BaseAdvance(reading) <= room) {
        Show(base_, reading);
        return;
    }
    QFont font = base_;
    const int full = Width(font, measured);
    if (full > room) {
        // Widths grow with the size nearly in proportion: start at the proportional size and
        // step down until the text fits.
        int pixels = std::max(kSmallestPixelSize, base_.pixelSize() * room / full);
        while (pixels > kSmallestPixelSize && Width(WithPixelSize(base_, pixels), measured) > room)
            --pixels;
        font = WithPixelSize(base_, pixels);
    }
    const bool fits = measured.size() == reading.size() && Width(font, measured) <= room;
    Show(font, fits ? reading : QFontMetrics(font).elidedText(measured, Qt::ElideLeft, room));
}

// A scale sends the same few readings again and again; each is laid out once.
int ReadoutLabel::BaseAdvance(const QString& reading) {
    if (const auto known = advances_.constFind(reading); known != advances_.constEnd()) {
        return *known;
    }
    if (advances_.size() >= kAdvancesKept) advances_.clear();
    const int advance = QFontMetrics(base_).horizontalAdvance(reading);
    advances_.insert(reading, advance);
    return advance;
}

// A font set again, even the same, makes the label lay itself out anew.
void ReadoutLabel::Show(const QFont& font, const QString& text) {
    if (font != this->font()) setFont(font);
    setText(text);
}

void ReadoutLabel::ShowReading(const Win1250Text& text) {
    reading_ = ToQString(text);
    frame_.Request();
}

// Qt draws glyphs larger than 64 pixels as outlines, anew for every picture, and the read-out's
// are 86 pixels: at the line limit that cost more than the whole report view. So each reading's
// glyphs are drawn once, exactly as the label draws its text, onto a transparent picture of the
// box, and copied onto the background at each repaint.
void ReadoutLabel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    drawFrame(&painter);
    if (text().isEmpty()) return;
    painter.drawPixmap(contentsRect().topLeft(), Picture(text()));
}

const QPixmap& ReadoutLabel::Picture(const QString& text) {
    const qreal ratio = devicePixelRatioF();
    if (ratio != picturesRatio_) {
        pictures_.clear();
        picturesRatio_ = ratio;
    }
    const QPair<QString, int> key(text, font().pixelSize());
    if (const auto known = pictures_.constFind(key); known != pictures_.constEnd()) return *known;
    if (pictures_.size() >= kPicturesKept) pictures_.clear();
    const QSize box = contentsRect().size();
    QPixmap picture(box * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setFont(font());
    style()->drawItemText(&painter, QRect(QPoint(0, 0), box),
                          static_cast<int>(QStyle::visualAlignment(layoutDirection(), alignment())),
                          palette(), isEnabled(), text, foregroundRole());
    painter.end();
    return *pictures_.insert(key, picture);
}

// What the pictures were drawn with has changed: they are drawn again. (The font changes only
// through SetBaseFont and the sizes of the base font that pictures are kept by.)
void ReadoutLabel::changeEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::PaletteChange:
        case QEvent::EnabledChange:
        case QEvent::StyleChange:
            pictures_.clear();
            break;
        default:
            break;
    }
    QLabel::changeEvent(event);
}

void ReadoutLabel::resizeEvent(QResizeEvent* event) {
    pictures_.clear();
    QLabel::resizeEvent(event);
}
