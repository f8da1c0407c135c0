#include <string>

#include "Umy_fun.h"

std::string SpeedToText(TComPortBaudRate speed) { return std::to_string(BaudRateValue(speed)); }
