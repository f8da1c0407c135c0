#include "RecordingFile.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

// Cuts the file back to the size it had before a failed append, so that a line that did not fit
// (a full disk takes part of a long line) leaves no fragment for the next line to be glued to.
// Nothing more can be done if this fails too; the append is reported as failed either way.
void CutBack(const std::string& fileName, long size) {
    std::error_code ignored;
    std::filesystem::resize_file(std::filesystem::path(fileName), static_cast<std::uintmax_t>(size),
                                 ignored);
}

}  // namespace

bool AppendRecordLine(const std::string& fileName, std::string_view line) {
    // "r+b" opens an existing file only: a missing file is a failure, never created here.
    std::FILE* file = std::fopen(fileName.c_str(), "r+b");
    if (file == nullptr) return false;
    std::string record(line);
    record += "\r\n";
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long start = ok ? std::ftell(file) : -1;  // -1: size unknown, nothing to cut back
    ok = ok && std::fwrite(record.data(), 1, record.size(), file) == record.size();
    ok = std::fflush(file) == 0 && ok;
    // Closed in every case, so a failed append never keeps the file.
    ok = std::fclose(file) == 0 && ok;
    if (!ok && start >= 0) CutBack(fileName, start);
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
