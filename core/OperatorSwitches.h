#pragma once
// The operator's switches as a plain model: show readings (CBciaglymemo), recording (CBzapis),
// record readings (CBciaglyplik), delete oldest (RBautoucinaj / RBautowyczysc), the report
// view's line limit and the recording file's name (Enazwapliku). konfig.ini and the sinks read
// and write it; the window's controls mirror it. Setting a value is a plain state change: the
// listeners hear of it, no operator handling runs.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class OperatorSwitches {
  public:
    using Listener = std::function<void()>;

    // Every switch at konfig.ini's default; the file name is the edit's design-time text until
    // start-up names the day's file.
    OperatorSwitches();

    bool ShowReadings() const { return showReadings_; }
    bool Recording() const { return recording_; }
    bool RecordReadings() const { return recordReadings_; }
    bool DeleteOldest() const { return deleteOldest_; }
    std::int32_t MaxReportLines() const { return maxReportLines_; }
    // The recording file's name as the file system takes it.
    const std::string& RecordingFileName() const { return recordingFileName_; }

    void SetShowReadings(bool value) { Store(showReadings_, value); }
    void SetRecording(bool value) { Store(recording_, value); }
    void SetRecordReadings(bool value) { Store(recordReadings_, value); }
    void SetDeleteOldest(bool value) { Store(deleteOldest_, value); }
    void SetMaxReportLines(std::int32_t value) { Store(maxReportLines_, value); }
    void SetRecordingFileName(const std::string& value) { Store(recordingFileName_, value); }

    // The listener is called after every change (never for a value set to what it already was),
    // until it is forgotten by the number Listen returned.
    int Listen(Listener listener) {
        listeners_.push_back({++lastId_, std::move(listener)});
        return lastId_;
    }
    void Forget(int id) {
        for (std::size_t i = 0; i < listeners_.size(); ++i)
            if (listeners_[i].first == id) listeners_.erase(listeners_.begin() + i);
    }

  private:
    template <typename T>
    void Store(T& field, const T& value) {
        if (field == value) return;
        field = value;
        for (std::size_t i = 0; i < listeners_.size(); ++i) listeners_[i].second();
    }

    bool showReadings_;
    bool recording_;
    bool recordReadings_;
    bool deleteOldest_;
    std::int32_t maxReportLines_;
    std::string recordingFileName_;
    std::vector<std::pair<int, Listener>> listeners_;
    int lastId_ = 0;
};
