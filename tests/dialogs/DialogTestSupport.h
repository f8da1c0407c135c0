#pragma once
// Small helpers of the dialog tests: real mouse events on a widget.

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

// Presses or releases a mouse button at `at` in the widget's coordinates.
inline void SendMouse(QWidget* widget, QEvent::Type type, Qt::MouseButton button, QPoint at) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? button : Qt::NoButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

inline QPoint Centre(QWidget* widget) { return widget->rect().center(); }
