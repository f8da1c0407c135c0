// konfig.ini reader: never crashes on any bytes, and whatever settings it accepts, written back
// by the writer and read again, come back the same.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Konfig.h"

namespace {

// The settings the program would write after reading `read` (unread keys keep the defaults).
KonfigWrite AsWritten(const KonfigRead& read) {
    KonfigWrite w;
    if (read.comPort) w.comPort = *read.comPort;
    if (read.comPortSpeed) w.comPortSpeed = *read.comPortSpeed;
    if (read.recording) w.recording = *read.recording;
    if (read.recordReadings) w.recordReadings = *read.recordReadings;
    if (read.showReadings) w.showReadings = *read.showReadings;
    if (read.maxReportLines) w.maxLinesText = std::to_string(*read.maxReportLines);
    if (read.deleteOldest) w.deleteOldest = *read.deleteOldest;
    if (read.unit) w.unit = *read.unit;
    return w;
}

template <typename T>
void SameWhereRead(const T& first, const T& again) {
    if (first && first != again) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const KonfigRead read = ParseKonfig(bytes);
    const std::string written = FormatKonfig(AsWritten(read));
    const KonfigRead again = ParseKonfig(written);
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
