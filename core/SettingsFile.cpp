// LoadConfig and SaveConfig: konfig.ini on disk, applied to and collected from the window.

#include "SettingsFile.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The whole file, or nothing when it cannot be opened or a read fails part-way.
std::optional<std::string> ReadWholeFile(const fs::path& file) {
    FilePtr in(std::fopen(file.string().c_str(), "rb"));
    if (!in) return std::nullopt;
    std::string bytes;
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, in.get())) > 0) bytes.append(chunk, got);
    if (std::ferror(in.get())) return std::nullopt;
    return bytes;
}

}  // namespace

void ApplySettings(const SettingsRead& settings, ISettingsTarget& target) {
    if (settings.comPort) target.SetComPort(*settings.comPort);
    if (settings.comPortSpeed) target.SetComPortSpeed(*settings.comPortSpeed);
    if (settings.recording) target.SetRecordingChecked(*settings.recording);
    if (settings.recordReadings) target.SetRecordReadingsChecked(*settings.recordReadings);
    if (settings.showReadings) target.SetShowReadingsChecked(*settings.showReadings);
    if (settings.maxReportLines) target.SetMaxReportLines(*settings.maxReportLines);
    if (settings.deleteOldest) target.SetDeleteOldestSelected(*settings.deleteOldest);
    if (settings.unit) target.SetUnitCaption(*settings.unit);
}

SettingsWrite CollectSettings(const ISettingsTarget& target) {
    SettingsWrite settings;
    settings.comPort = target.ComPort();
    settings.comPortSpeed = target.ComPortSpeed();
    settings.recording = target.RecordingChecked();
    settings.recordReadings = target.RecordReadingsChecked();
    settings.showReadings = target.ShowReadingsChecked();
    settings.maxLinesText = target.MaxLinesText();
    settings.deleteOldest = target.DeleteOldestSelected();
    settings.unit = target.UnitCaption();
    return settings;
}

SettingsLoadResult LoadConfig(ISettingsTarget& target, const fs::path& file) {
    // Only a file that is not there counts as absent; one that cannot even be looked at (a
    // directory on its path denies access) is reported like one that cannot be read.
    std::error_code error;
    if (fs::status(file, error).type() == fs::file_type::not_found)
        return {SettingsLoadStatus::NoFile, {}};
    const std::optional<std::string> bytes = ReadWholeFile(file);
    if (!bytes) {
        return {SettingsLoadStatus::Unreadable, "Nie można odczytać pliku ustawień " +
                                                    file.filename().string() +
                                                    ".\rProgram użyje ustawień domyślnych."};
    }
    ApplySettings(ParseSettings(*bytes), target);
    return {SettingsLoadStatus::Applied, {}};
}

namespace {

// The file the new contents must replace: a symbolic link is followed so that it keeps pointing
// at the settings.
fs::path ReplacementTarget(const fs::path& file) {
    std::error_code error;
    if (!fs::is_symlink(file, error)) return file;
    const fs::path resolved = fs::weakly_canonical(file, error);
    return error ? file : resolved;
}

// A konfig.ini that exists must be a regular file this process may write; otherwise it stays.
bool MayReplace(const fs::path& file) {
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (status.type() == fs::file_type::not_found) return true;
    if (status.type() != fs::file_type::regular) return false;
    FilePtr probe(
        std::fopen(file.string().c_str(), "r+b"));  // opens for writing without truncating
    return probe != nullptr;
}

// Creates a new, uniquely named file beside `file`.
FilePtr CreateTemporaryBeside(const fs::path& file, fs::path& created) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
        fs::path candidate = file;
        candidate += ".tmp" + std::to_string(random() % 1000000000);
        FilePtr out(std::fopen(candidate.string().c_str(), "wbx"));
        if (out) {
            created = candidate;
            return out;
        }
        if (errno != EEXIST) break;
    }
    return nullptr;
}

// Pushes a flushed stream's data to the disk, so that a rename after it can never expose an empty
// or partial file after a power loss.
bool FlushFileToDisk(std::FILE* file) {
#if defined(_WIN32)
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

bool WriteAndFlush(std::FILE* out, const std::string& bytes) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return false;
    if (std::fflush(out) != 0) return false;
    return FlushFileToDisk(out);
}

// The new file gets the old file's permission bits, so that replacing it changes only contents.
void KeepPermissions(const fs::path& from, const fs::path& to) {
    std::error_code error;
    const fs::file_status status = fs::status(from, error);
    if (!error && status.type() == fs::file_type::regular)
        fs::permissions(to, status.permissions(), error);
}

// A writable konfig.ini in a folder where no new file can be made is rewritten in place, so
// the settings are still saved. It is rewritten from its start and cut to the new length only
// after the new bytes are on disk. Where the old file was longer, a Ctrl+Z (which ends the file
// for the reader) follows the new lines until the cut, so an interrupted save never lets old
// lines behind the new ones count.
bool RewriteInPlace(const fs::path& file, const std::string& bytes) {
    std::error_code sizeError;
    const std::uintmax_t oldSize = fs::file_size(file, sizeError);
    const bool longerBefore = !sizeError && oldSize > bytes.size();
    FilePtr out(std::fopen(file.string().c_str(), "r+b"));
    if (!out || !WriteAndFlush(out.get(), longerBefore ? bytes + '\x1a' : bytes)) return false;
    if (std::fclose(out.release()) != 0) return false;
    std::error_code error;
    fs::resize_file(file, bytes.size(), error);
    return !error;
}

}  // namespace

bool SaveConfig(const ISettingsTarget& target, const fs::path& file) {
    const fs::path destination = ReplacementTarget(file);
    if (!MayReplace(destination)) return false;
    const std::string bytes = FormatSettings(CollectSettings(target));
    fs::path temporary;
    FilePtr out = CreateTemporaryBeside(destination, temporary);
    if (!out) {
        std::error_code error;
        return fs::is_regular_file(destination, error) && RewriteInPlace(destination, bytes);
    }
    const bool written = WriteAndFlush(out.get(), bytes);
    const bool closed = std::fclose(out.release()) == 0;
    std::error_code error;
    if (written && closed) {
        KeepPermissions(destination, temporary);
        fs::rename(temporary, destination, error);
        if (!error) return true;
    }
    fs::remove(temporary, error);
    return false;
}
