#include "SettingsTestSupport.h"

#include <cctype>

SettingsWrite DefaultSettingsWrite() {
    const SettingsRead& d = DefaultSettings();
    return {*d.comPort,        *d.comPortSpeed, *d.recording,
            *d.recordReadings, *d.showReadings, Win1250Text(std::to_string(*d.maxReportLines)),
            *d.deleteOldest,   *d.unit};
}

std::string RowName(const char* what, std::size_t index) {
    std::string name;
    for (const char* c = what; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name + "_" + std::to_string(index);
}
