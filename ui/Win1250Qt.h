#pragma once
// Windows-1250 bytes <-> QString at the widget boundary, through core's code page table.

#include <QString>
#include <string>
#include <string_view>

QString FromWin1250(std::string_view bytes);
std::string ToWin1250(const QString& text);
