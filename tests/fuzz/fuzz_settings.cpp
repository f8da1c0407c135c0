// konfig.ini reader: never crashes on any bytes, and whatever settings it accepts, written back
// by the writer and read again, come back the same.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "SettingsFormat.h"

namespace {

// The settings the program would write after reading `read` (unread keys keep the defaults).
SettingsWrite AsWritten(const SettingsRead& read) {
    const SettingsRead& d = DefaultSettings();
    SettingsWrite w;
    w.comPort = read.comPort.value_or(*d.comPort);
    w.comPortSpeed = read.comPortSpeed.value_or(*d.comPortSpeed);
    w.recording = read.recording.value_or(*d.recording);
    w.recordReadings = read.recordReadings.value_or(*d.recordReadings);
    w.showReadings = read.showReadings.value_or(*d.showReadings);
    w.maxLinesText = Win1250Text(std::to_string(read.maxReportLines.value_or(*d.maxReportLines)));
    w.deleteOldest = read.deleteOldest.value_or(*d.deleteOldest);
    w.unit = read.unit.value_or(*d.unit);
    return w;
}

template <typename T>
void SameWhereRead(const T& first, const T& again) {
    if (first && first != again) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const SettingsRead read = ParseSettings(bytes);
    const std::string written = FormatSettings(AsWritten(read));
    const SettingsRead again = ParseSettings(written);
    SameWhereRead(read.comPort, again.comPort);
    SameWhereRead(read.comPortSpeed, again.comPortSpeed);
    SameWhereRead(read.recording, again.recording);
    SameWhereRead(read.recordReadings, again.recordReadings);
    SameWhereRead(read.showReadings, again.showReadings);
    SameWhereRead(read.maxReportLines, again.maxReportLines);
    SameWhereRead(read.deleteOldest, again.deleteOldest);
    SameWhereRead(read.unit, again.unit);
    // The writer's own file holds all eight keys, each accepted.
    if (!again.comPort || !again.comPortSpeed || !again.recording || !again.recordReadings ||
        !again.showReadings || !again.maxReportLines || !again.deleteOldest || !again.unit) {
        std::abort();
    }
    return 0;
}
