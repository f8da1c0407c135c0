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

long long WriteBytes(int fd, const std::string& bytes) {
    long long n;
    do {
        n = ::write(fd, bytes.data(), static_cast<unsigned>(bytes.size()));
    } while (n < 0 && errno == EINTR);
    return n;
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
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    openName_.clear();
}

// Only this program's bytes are taken away: the file's end minus what the failed write added.
void RecordingWriter::CutBack(std::int64_t written) {
    struct stat st {};
    if (written <= 0 || ::fstat(fd_, &st) != 0 || st.st_size < written) return;
    if (::ftruncate(fd_, st.st_size - written) != 0) {
        // Nothing more can be done; the append is reported as failed either way.
    }
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
