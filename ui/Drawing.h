#pragma once
// Everything the windows draw with: the fonts they ask for, by pixel size, and the program's
// pictures, drawn here at run time (nothing is taken from elsewhere). "Arial" and "Courier New"
// resolve to the metric-compatible Liberation fonts.

#include <QFont>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>

// "MS Sans Serif" of the main window: Liberation Sans one pixel smaller, so that 11-pixel texts
// keep inside the boxes the layout was drawn for.
QFont MsSansSerifFont(int pixelSize, bool bold = false);
// "MS Sans Serif" of the two dialogs, at the pixel size asked for.
QFont DialogFont(int pixelSize, bool bold = false, bool underline = false);
QFont ArialFont(int pixelSize, bool bold = false);
QFont CourierNewFont(int pixelSize);

// Image1: a platform scale with its display unit, 136 x 115, opaque (24-bit colour).
QImage ScalePicture();
// Ivek of the main window: the maker's logo ("VEK"), opaque; 142 x 48 there.
QImage MakerLogo(QSize size = QSize(142, 48));
// Ivek of the about dialog: the maker's logo, 60 x 20 pixels in the 16 colours of a 4-bit bitmap.
QPixmap SmallMakerLogo();
// The program's icon, 32 x 32 (also offered at 16 x 16).
QIcon ProgramIcon();
QImage ProgramIconImage(int side = 32);
