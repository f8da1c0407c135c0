#include "Fonts.h"

namespace {

QFont PixelFont(const QString& family, int pixelSize, bool bold) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

// "MS Sans Serif" of an 11-pixel character height has a 13-pixel cell; Liberation Sans one pixel
// smaller keeps every caption of the layouts within its box.
QFont MsSansSerifFont(int pixelSize, bool bold) {
    return PixelFont(QStringLiteral("Liberation Sans"), pixelSize - 1, bold);
}

QFont ArialFont(int pixelSize, bool bold) {
    return PixelFont(QStringLiteral("Arial"), pixelSize, bold);
}

QFont CourierNewFont(int pixelSize) {
    QFont font(QStringLiteral("Courier New"));
    font.setPixelSize(pixelSize);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    return font;
}
