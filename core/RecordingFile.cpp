#include "RecordingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

// The same system calls serve on Windows (mingw-w64), where a file must also be opened as binary
// so that no line end is translated, and where descriptors are not inherited anyway.
#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

namespace {

// No O_CREAT: a file that is not there is a failure, never made here.
int OpenForAppend(const char* name) {
    return ::open(name, O_WRONLY | O_APPEND | O_BINARY | O_CLOEXEC);
}

// Writes all of `bytes`, going on after a short write; returns how many went to the file and
// whether all did.
bool WriteAll(int fd, const std::string& bytes, std::size_t& written) {
    written = 0;
    while (written < bytes.size()) {
        const auto n =
            ::write(fd, bytes.data() + written, static_cast<unsigned>(bytes.size() - written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

RecordingWriter::~RecordingWriter() { Close(); }

bool RecordingWriter::Open(const std::string& fileName) {
    Close();
    fd_ = OpenForAppend(fileName.c_str());
    if (fd_ < 0) return false;
    openName_ = fileName;
    return true;
}

void RecordingWriter::Close() {
    Flush();
    Release();
}

void RecordingWriter::Release() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    openName_.clear();
}

// Only this program's bytes are taken away: the file's end minus what the failed write added.
void RecordingWriter::CutBack(std::int64_t extra) {
    struct stat st {};
    if (extra <= 0 || ::fstat(fd_, &st) != 0 || st.st_size < extra) return;
    if (::ftruncate(fd_, st.st_size - extra) != 0) {
        // Nothing more can be done; the append is reported as failed either way.
    }
}

bool RecordingWriter::Append(const std::string& fileName, std::string_view line) {
    if (fd_ < 0 || openName_ != fileName) {
        if (fd_ >= 0 && !Flush()) return false;
        if (!Open(fileName)) return false;
    }
    pending_.append(line);
    pending_ += "\r\n";
    ends_.push_back(pending_.size());
    return true;
}

// Lines are only ever taken while the file is open, and a failed flush closes it.
bool RecordingWriter::Flush() {
    if (pending_.empty()) return true;
    std::size_t written = 0;
    const bool all = WriteAll(fd_, pending_, written);
    std::size_t kept = 0;  // the end of the last whole line written
    for (const std::size_t end : ends_)
        if (end <= written) kept = end;
    pending_.clear();
    ends_.clear();
    if (all) return true;
    CutBack(static_cast<std::int64_t>(written - kept));
    Release();
    return false;
}

bool AppendRecordLine(const std::string& fileName, std::string_view line) {
    RecordingWriter writer;
    return writer.Append(fileName, line) && writer.Flush();
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
