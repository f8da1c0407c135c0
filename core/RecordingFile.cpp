#include "RecordingFile.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

bool AppendRecordLine(const std::string& fileName, std::string_view line) {
    // "r+b" opens an existing file only: a missing file is a failure, never created here.
    std::FILE* file = std::fopen(fileName.c_str(), "r+b");
    if (file == nullptr) return false;
    std::string record(line);
    record += "\r\n";
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    ok = ok && std::fwrite(record.data(), 1, record.size(), file) == record.size();
    ok = std::fflush(file) == 0 && ok;
    // Closed in every case, so a failed append never keeps the file.
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

bool RecordingFileExists(const std::string& fileName) {
    if (fileName.empty()) return false;
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path(fileName), error);
}

bool CreateEmptyFile(const std::string& fileName) {
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (file == nullptr) return false;
    return std::fclose(file) == 0;
}
