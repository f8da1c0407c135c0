#include "HeadlessStation.h"

#include <QDir>
#include <ctime>

#include "FreeSpace.h"
#include "SettingsFile.h"

namespace {

const QString kRecordingSource = QStringLiteral("Zapis do pliku");

// A box's text on one line: "\r" starts a new line in a box.
QString OneLine(QString text) { return text.replace(QLatin1Char('\r'), QLatin1Char(' ')); }

}  // namespace

QString StationFolder() {
    const QString chosen = qEnvironmentVariable("WAGA_DIR");
    if (!chosen.isEmpty()) return chosen;
    const QString home = qEnvironmentVariable("HOME");
    return home.isEmpty() ? QString() : QDir(home).filePath(QStringLiteral("Waga"));
}

HeadlessStation::HeadlessStation(const QString& folder)
    : station_(std::make_unique<Station>(folder)) {
    IOperatorBoxes& boxes = *this;
    loop_ = std::make_unique<QtEventLoop>(*station_);
    recording_ = std::make_unique<RecordingSink>(station_->Switches(), boxes, *loop_);
    settings_ = std::make_unique<StationSettings>(*station_);
    // The order a line takes: the recording file, then the additions'. Every event is told on
    // standard error by the station itself.
    station_->Start({recording_.get()}, {});
}

HeadlessStation::~HeadlessStation() { station_->Stop(); }

void HeadlessStation::Start() {
    if (TooLittleFreeSpace(FreeBytesOfWorkingDirectory()))
        LogLine(station_->Folder(), OneLine(LowFreeSpaceText()));
    station_->ApplyDefaults();
    const SettingsLoadResult loaded = LoadConfig(*settings_);
    if (loaded.status == SettingsLoadStatus::Unreadable)
        LogLine(
            QString::fromUtf8(kSettingsFileName.data(), static_cast<int>(kSettingsFileName.size())),
            QString::fromStdString(loaded.errorText));
    station_->Session().Start();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    PrepareDayFile(*this, DayFileName(local));
}

bool HeadlessStation::RecordingChecked() const { return station_->Switches().Recording(); }

void HeadlessStation::SetRecordingChecked(bool checked) {
    station_->Switches().SetRecording(checked);
}

std::string HeadlessStation::RecordingFileName() const {
    return station_->Switches().RecordingFileName();
}

void HeadlessStation::SetRecordingFileName(const std::string& name) {
    station_->Switches().SetRecordingFileName(name);
}

void HeadlessStation::ShowError(const std::string& text) {
    LogLine(kRecordingSource, OneLine(QString::fromStdString(text)) + QStringLiteral(" (") +
                                  QString::fromStdString(RecordingFileName()) +
                                  QStringLiteral(")"));
}

// Never asked: the questions belong to the operator's presses on the window's switch.
ConfirmAnswer HeadlessStation::AskConfirmation(const std::string& /*text*/) {
    return ConfirmAnswer::No;
}
