#include "WindowPlacement.h"

#include <QWidget>
#include <QWindow>

QPoint CentredFramePosition(const QRect& available, const QSize& clientSize) {
    return {available.x() + (available.width() - clientSize.width()) / 2,
            available.y() + (available.height() - clientSize.height()) / 2};
}

void PlaceFrameAt(QWidget& window, QPoint framePosition) {
    window.move(framePosition);
    QWindow* native = window.windowHandle();
    if (native == nullptr) return;
    native->resize(window.size());
    native->setFramePosition(framePosition);
}
