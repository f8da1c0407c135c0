#include "Drawing.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "MakerData.h"

namespace {

QFont FamilyFont(const QString& family, int pixelSize, QFont::StyleHint hint) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setStyleHint(hint);
    return font;
}

}  // namespace

QFont MsSansSerifFont(int pixelSize, bool bold) {
    QFont font = FamilyFont(QStringLiteral("Liberation Sans"), pixelSize - 1, QFont::SansSerif);
    font.setBold(bold);
    return font;
}

QFont DialogFont(int pixelSize, bool bold, bool underline) {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Liberation Sans", "DejaVu Sans"});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

QFont ArialFont(int pixelSize, bool bold) {
    QFont font = FamilyFont(QStringLiteral("Arial"), pixelSize, QFont::SansSerif);
    font.setBold(bold);
    return font;
}

QFont CourierNewFont(int pixelSize) {
    QFont font = FamilyFont(QStringLiteral("Courier New"), pixelSize, QFont::Monospace);
    font.setFixedPitch(true);
    return font;
}

namespace {

const QColor kButtonFace(212, 208, 200);
const QColor kSteel(150, 158, 168);
const QColor kSteelDark(88, 96, 108);
const QColor kSteelLight(214, 220, 228);
const QColor kDisplayGreen(120, 230, 120);
const QColor kVekBlue(20, 60, 140);
const QColor kVekRed(200, 30, 40);

QImage Canvas(QSize size, const QColor& background) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(background);
    return image;
}

// The weighing platform seen slightly from above: a top plate and its front edge.
void DrawPlatform(QPainter& p) {
    QPolygonF top({QPointF(8, 86), QPointF(40, 70), QPointF(130, 70), QPointF(110, 86)});
    QLinearGradient shine(0, 70, 0, 86);
    shine.setColorAt(0, kSteelLight);
    shine.setColorAt(1, kSteel);
    p.setPen(QPen(kSteelDark, 1));
    p.setBrush(shine);
    p.drawPolygon(top);
    QPolygonF front({QPointF(8, 86), QPointF(110, 86), QPointF(110, 96), QPointF(8, 96)});
    p.setBrush(kSteelDark);
    p.drawPolygon(front);
    QPolygonF side({QPointF(110, 86), QPointF(130, 70), QPointF(130, 80), QPointF(110, 96)});
    p.setBrush(kSteel.darker(130));
    p.drawPolygon(side);
    p.setBrush(Qt::black);
    for (int x : {14, 100}) p.drawRect(x, 96, 6, 4);
}

// The display unit on its column, with a weight shown in green digits.
void DrawTerminal(QPainter& p) {
    p.setPen(QPen(kSteelDark, 1));
    p.setBrush(kSteel);
    p.drawRect(66, 30, 6, 42);
    QRectF box(30, 4, 78, 30);
    p.setBrush(QColor(60, 66, 76));
    p.drawRoundedRect(box, 3, 3);
    QRectF screen(36, 9, 66, 15);
    p.setBrush(QColor(10, 30, 10));
    p.drawRect(screen);
    QFont digits(QStringLiteral("Liberation Mono"));
    digits.setPixelSize(13);
    digits.setBold(true);
    p.setFont(digits);
    p.setPen(kDisplayGreen);
    p.drawText(screen.adjusted(0, 0, -3, 0), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("12.50"));
    p.setPen(Qt::NoPen);
    const QColor keys[] = {QColor(220, 60, 60), QColor(230, 230, 230), QColor(230, 230, 230),
                           QColor(80, 170, 80)};
    for (int i = 0; i < 4; ++i) {
        p.setBrush(keys[i]);
        p.drawRect(40 + i * 15, 27, 9, 4);
    }
}

}  // namespace

QImage ScalePicture() {
    QImage image = Canvas(QSize(136, 115), kButtonFace);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // A load on the platform, so the picture reads as a scale at work.
    DrawPlatform(p);
    p.setPen(QPen(QColor(120, 80, 30), 1));
    p.setBrush(QColor(200, 150, 80));
    p.drawRect(QRectF(58, 56, 34, 20));
    p.drawLine(QPointF(58, 66), QPointF(92, 66));
    DrawTerminal(p);
    p.setPen(QColor(70, 70, 70));
    QFont caption(QStringLiteral("Liberation Sans"));
    caption.setPixelSize(10);
    caption.setBold(true);
    p.setFont(caption);
    p.drawText(QRectF(0, 101, 136, 13), Qt::AlignCenter, QString::fromUtf8(maker::kBrand));
    return image;
}

QImage MakerLogo(QSize size) {
    QImage image = Canvas(size, Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const qreal w = size.width();
    const qreal h = size.height();
    // A balance arc over the letters, in the brand's red.
    p.setPen(QPen(kVekRed, qMax<qreal>(1.0, h / 16.0)));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(w * 0.04, h * 0.06, w * 0.5, h * 0.9), 30 * 16, 120 * 16);
    QFont brand(QStringLiteral("Liberation Sans"));
    brand.setBold(true);
    brand.setItalic(true);
    brand.setPixelSize(qRound(h * 0.66));
    p.setFont(brand);
    p.setPen(kVekBlue);
    p.drawText(QRectF(w * 0.02, 0, w * 0.56, h * 0.84), Qt::AlignCenter,
               QString::fromUtf8(maker::kBrand));
    if (h >= 30) {
        QFont line(QStringLiteral("Liberation Sans"));
        line.setPixelSize(qMax(7, qRound(h * 0.19)));
        line.setBold(true);
        p.setFont(line);
        p.setPen(kVekRed);
        p.drawText(QRectF(w * 0.6, h * 0.06, w * 0.4, h * 0.74), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromUtf8("WAGI\nI SYSTEMY\nWAŻENIA"));
    }
    p.fillRect(QRectF(0, h * 0.84, w, h * 0.08), kVekRed);
    return image;
}

QPixmap SmallMakerLogo() {
    // Colours of the standard 16-colour palette only.
    const QColor navy(0, 0, 128), white(255, 255, 255), red(255, 0, 0), yellow(255, 255, 0);
    QImage image = Canvas(QSize(60, 20), navy);
    QPainter painter(&image);
    painter.setPen(yellow);
    painter.drawRect(0, 0, 59, 19);
    painter.fillRect(4, 15, 52, 2, red);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(14);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(font);
    painter.setPen(white);
    painter.drawText(QRect(0, 0, 60, 16), Qt::AlignCenter, QString::fromUtf8(maker::kBrand));
    painter.end();
    return QPixmap::fromImage(image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither));
}

QImage ProgramIconImage(int side) {
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(side / 32.0, side / 32.0);
    p.setPen(QPen(kSteelDark, 1));
    p.setBrush(kSteel);
    p.drawRect(QRectF(2.5, 22.5, 27, 6));
    p.setBrush(QColor(60, 66, 76));
    p.drawRoundedRect(QRectF(5.5, 3.5, 21, 14), 2, 2);
    p.setBrush(QColor(10, 30, 10));
    p.drawRect(QRectF(8.5, 6.5, 15, 7));
    p.setPen(QPen(kDisplayGreen, 1.6));
    p.drawLine(QPointF(11, 10), QPointF(21, 10));
    p.setPen(QPen(kSteelDark, 2));
    p.drawLine(QPointF(16, 18), QPointF(16, 22));
    return image;
}

QIcon ProgramIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(ProgramIconImage(32)));
    icon.addPixmap(QPixmap::fromImage(ProgramIconImage(16)));
    return icon;
}
