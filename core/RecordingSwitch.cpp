#include "RecordingSwitch.h"

#include <cstdio>

#include "RecordingFile.h"

namespace {

constexpr const char* kDayFileError =
    "Błąd zapisu do pliku!\rPrawdopodobnie brak miejsca na dysku.";
constexpr const char* kSwitchOnError =
    "Błąd zapisu do pliku!\rPrawdopodobnie nieprawidłowa ścieżka do pliku\rlub brak miejsca na "
    "dysku.";
constexpr const char* kSwitchOffQuestion =
    "Czy jesteś pewny że chcesz wyłączyć zapisywanie do pliku?";
constexpr const char* kRenameQuestion =
    "Aby zmienić nazwę pliku, należy wyłączyć \"zapis do pliku\".\rCzy napewno wyłączyć \"zapis "
    "do pliku\"?";

}  // namespace

std::string DayFileName(const std::tm& localDate) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d", localDate.tm_year + 1900, localDate.tm_mon + 1,
                  localDate.tm_mday);
    return text;
}

void PrepareDayFile(IRecordingControls& controls, const std::string& dayName) {
    controls.SetRecordingFileName(dayName);
    if (!controls.RecordingChecked() || RecordingFileExists(dayName)) return;
    if (CreateEmptyFile(dayName)) return;
    controls.ShowError(kDayFileError);
    controls.SetRecordingChecked(false);
}

bool RecordingSwitchPressed(IRecordingControls& controls) {
    if (controls.RecordingChecked()) {
        const ConfirmAnswer answer = controls.AskConfirmation(kSwitchOffQuestion);
        // Set either way: an append failure may have switched recording off meanwhile.
        controls.SetRecordingChecked(answer != ConfirmAnswer::Yes);
        return true;
    }
    const std::string name = controls.RecordingFileName();
    if (RecordingFileExists(name) || CreateEmptyFile(name)) return false;
    controls.ShowError(kSwitchOnError);
    controls.SetRecordingChecked(false);
    return true;
}

void ChangeRecordingFile(IRecordingControls& controls) {
    if (controls.RecordingChecked()) {
        if (controls.AskConfirmation(kRenameQuestion) == ConfirmAnswer::No) return;
        controls.SetRecordingChecked(false);
    }
    if (const std::optional<std::string> chosen = controls.ChooseRecordingFile()) {
        controls.SetRecordingFileName(*chosen);
    }
}
