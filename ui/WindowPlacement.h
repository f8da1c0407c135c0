#pragma once
// Where top-level windows go. A position here is always the window's outer corner (its frame,
// title bar included), so that a window manager's frame never lands off the screen.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// The frame corner that centres a window of the given client size on the available area. Only
// the client size counts: the frame's size is known only once a window manager has framed the
// window, and a position that took it in would differ between the first showing and the next.
QPoint CentredFramePosition(const QRect& available, const QSize& clientSize);

// Asks the window system to put the window's frame corner at `framePosition` (north-west
// gravity under X11). Called as the window is being shown (its Show event), after its size is
// final: the native window gets the widget's size and position first, since a geometry that
// still differed would be set again at showing, and with it a client-area position.
void PlaceFrameAt(QWidget& window, QPoint framePosition);
