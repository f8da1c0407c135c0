#pragma once
// Small helpers of the dialog tests: running the event loop, real mouse events on a widget.

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <chrono>
#include <functional>

#include "TestSupport.h"

// Runs the Qt event loop until `condition` holds or two seconds pass.
inline bool ProcessUntil(const std::function<bool()>& condition) {
    return waga::test::WaitUntil(
        [&] {
            QApplication::processEvents();
            return condition();
        },
        std::chrono::seconds(2));
}

// Presses or releases a mouse button at `at` in the widget's coordinates.
inline void SendMouse(QWidget* widget, QEvent::Type type, Qt::MouseButton button, QPoint at) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? button : Qt::NoButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

inline QPoint Centre(QWidget* widget) { return widget->rect().center(); }
