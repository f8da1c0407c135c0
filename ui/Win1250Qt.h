#pragma once
// Windows-1250 bytes <-> QString at the widget boundary, through core's code page table.

#include <QString>
#include <string_view>

#include "Win1250.h"

// One character per byte, byte 0 included.
QString ToQString(const Win1250Text& text);
QString Win1250BytesToQString(std::string_view bytes);
// A character the code page cannot hold becomes '?'.
Win1250Text ToWin1250(const QString& text);
