#include "AddOnSettingsStore.h"

#include <utility>

AddOnSettingsStore::AddOnSettingsStore(std::filesystem::path folder) : folder_(std::move(folder)) {
    AddOnLoadResult loaded = LoadAddOnSettings(folder_);
    settings_ = loaded.settings;
    text_ = std::move(loaded.text);
    fileFound_ = loaded.fileFound;
    errorText_ = std::move(loaded.errorText);
    warningText_ = std::move(loaded.warningText);
}

bool AddOnSettingsStore::Save(const JournalSettings& journal, std::string& errorText) {
    AddOnSettings next = settings_;
    next.journal = journal;
    return SaveSection(AddOnSection::Journal, next, errorText);
}

bool AddOnSettingsStore::Save(const ServiceSettings& service, std::string& errorText) {
    AddOnSettings next = settings_;
    next.service = service;
    return SaveSection(AddOnSection::Service, next, errorText);
}

bool AddOnSettingsStore::Save(const CentralSettings& central, std::string& errorText) {
    AddOnSettings next = settings_;
    next.central = central;
    return SaveSection(AddOnSection::Central, next, errorText);
}

void AddOnSettingsStore::OnChanged(std::function<void(AddOnSection)> listener) {
    listeners_.push_back(std::move(listener));
}

bool AddOnSettingsStore::SaveSection(AddOnSection section, const AddOnSettings& next,
                                     std::string& errorText) {
    // A file that could not be read is not written over: what it holds is unknown.
    if (!errorText_.empty()) {
        errorText = errorText_;
        return false;
    }
    // A new file is written whole, every section with its values; an existing one keeps every
    // byte outside the section.
    std::string bytes =
        fileFound_ ? ReplaceAddOnSection(text_, section, next) : FormatAddOnSettings(next);
    if (!WriteAddOnFile(bytes, !next.service.token.empty(), errorText, folder_)) return false;
    settings_ = next;
    text_ = std::move(bytes);
    fileFound_ = true;
    warningText_.clear();
    for (const auto& listener : listeners_) listener(section);
    return true;
}
