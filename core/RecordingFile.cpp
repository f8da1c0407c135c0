#include "RecordingFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// The few system calls the writer needs, under one name on both platforms.
#if defined(_WIN32)
int OpenForAppend(const char* name) { return ::_open(name, _O_WRONLY | _O_APPEND | _O_BINARY); }
long long WriteBytes(int fd, const std::string& bytes) {
    return ::_write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
}
long long FileSize(int fd) {
    struct _stat64 st {};
    return ::_fstat64(fd, &st) == 0 ? st.st_size : -1;
}
void Truncate(int fd, long long size) { (void)::_chsize_s(fd, size); }
void CloseFile(int fd) { ::_close(fd); }
#else
// No O_CREAT: a file that is not there is a failure, never made here.
int OpenForAppend(const char* name) { return ::open(name, O_WRONLY | O_APPEND | O_CLOEXEC); }
long long WriteBytes(int fd, const std::string& bytes) {
    ssize_t n;
    do {
        n = ::write(fd, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    return n;
}
long long FileSize(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}
void Truncate(int fd, long long size) { (void)::ftruncate(fd, size); }
void CloseFile(int fd) { ::close(fd); }
#endif

}  // namespace

bool RecordingWriter::Open(const std::string& fileName) {
    Close();
    fd_ = OpenForAppend(fileName.c_str());
    if (fd_ < 0) return false;
    openName_ = fileName;
    return true;
}

void RecordingWriter::Close() {
    if (fd_ < 0) return;
    CloseFile(fd_);
    fd_ = -1;
    openName_.clear();
}

// Only this program's bytes are taken away: the file's end minus what the failed write added.
void RecordingWriter::CutBack(std::int64_t written) {
    const long long size = FileSize(fd_);
    if (written > 0 && size >= written) Truncate(fd_, size - written);
}

bool RecordingWriter::Append(const std::string& fileName, std::string_view line) {
    if ((fd_ < 0 || openName_ != fileName) && !Open(fileName)) return false;
    record_.assign(line);
    record_ += "\r\n";
    const long long written = WriteBytes(fd_, record_);
    if (written == static_cast<long long>(record_.size())) return true;
    CutBack(written);
    Close();
    return false;
}

bool AppendRecordLine(const std::string& fileName, std::string_view line) {
    RecordingWriter writer;
    return writer.Append(fileName, line);
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
