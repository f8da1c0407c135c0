#pragma once
// The program's pictures, drawn here at run time (nothing is taken from elsewhere).

#include <QIcon>
#include <QImage>
#include <QSize>

// Image1: a platform scale with its display unit, 136 x 115, opaque (24-bit colour).
QImage ScalePicture();
// Ivek: the maker's logo ("VEK"), opaque; 142 x 48 on the main window.
QImage MakerLogo(QSize size = QSize(142, 48));
// The program's icon, 32 x 32 (also offered at 16 x 16).
QIcon ProgramIcon();
QImage ProgramIconImage(int side = 32);
