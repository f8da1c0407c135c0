#pragma once
// The fonts the windows ask for, by pixel size. "Arial" and "Courier New" resolve to the
// metric-compatible Liberation fonts; "MS Sans Serif" maps to Liberation Sans one pixel smaller, so
// 11-pixel texts keep inside the boxes the layouts were drawn for.

#include <QFont>

QFont MsSansSerifFont(int pixelSize, bool bold = false);
QFont ArialFont(int pixelSize, bool bold = false);
QFont CourierNewFont(int pixelSize);
