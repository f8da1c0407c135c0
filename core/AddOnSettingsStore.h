#pragma once
// The one holder of dodatki.ini in a running program: it reads the file once, gives its
// settings to whoever builds or shows an addition, and saves one section at a time, leaving
// every other byte of the file as it is. Each save that reached the disk is told to the
// listeners with its section; the station applies it to the running part. Nothing else in the
// program reads or writes the file.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "AddOnSettings.h"

class AddOnSettingsStore {
  public:
    // Reads dodatki.ini in `folder` (the working directory by default), once.
    explicit AddOnSettingsStore(std::filesystem::path folder = {});

    const AddOnSettings& Settings() const { return settings_; }
    // UTF-8; the file exists but could not be read (the defaults are in force, nothing is
    // saved over it).
    const std::string& ErrorText() const { return errorText_; }
    // UTF-8; the file holds a token others may read. A save clears it (the file is then 0600).
    const std::string& WarningText() const { return warningText_; }

    // Saves one section. False with `errorText` (UTF-8) when the file could not be read at the
    // start or cannot be written now; the file and the settings stay as they were then.
    bool Save(const JournalSettings& journal, std::string& errorText);
    bool Save(const ServiceSettings& service, std::string& errorText);
    bool Save(const CentralSettings& central, std::string& errorText);

    // Called after each save that succeeded, with the section saved, in the order subscribed.
    void OnChanged(std::function<void(AddOnSection section)> listener);

  private:
    bool SaveSection(AddOnSection section, const AddOnSettings& next, std::string& errorText);

    std::filesystem::path folder_;
    AddOnSettings settings_;
    std::string text_;  // the file's bytes as last read or written
    bool fileFound_ = false;
    std::string errorText_;
    std::string warningText_;
    std::vector<std::function<void(AddOnSection)>> listeners_;
};
