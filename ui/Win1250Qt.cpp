#include "Win1250Qt.h"

QString Win1250BytesToQString(std::string_view bytes) {
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[i] = QChar(Win1250ToUnicode(static_cast<unsigned char>(bytes[i])));
    }
    return text;
}

QString ToQString(const Win1250Text& text) { return Win1250BytesToQString(text.Bytes()); }

Win1250Text ToWin1250(const QString& text) {
    return Win1250Text(EncodeWin1250(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), text.size())));
}
