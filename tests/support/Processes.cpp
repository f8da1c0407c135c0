#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "TestSupport.h"

namespace waga::test {

namespace {

constexpr int kCouldNotDropPrivileges = 253;

int WaitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ForkAndRun(const std::function<int()>& body, bool dropPrivileges) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (dropPrivileges && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobodyId) != 0 ||
                ::setuid(kNobodyId) != 0) {
                ::_exit(kCouldNotDropPrivileges);
            }
        }
        ::_exit(body() & 0xff);
    }
    const int result = WaitForExit(pid);
    return (dropPrivileges && result == kCouldNotDropPrivileges) ? -1 : result;
}

}  // namespace

int RunAsNobody(const std::function<int()>& body) { return ForkAndRun(body, true); }

int RunInChild(const std::function<int()>& body) { return ForkAndRun(body, false); }

CaptureOutput::CaptureOutput() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::string pattern = TempRoot() + "/waga-output-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    path_ = pattern;
    savedOut_ = ::dup(STDOUT_FILENO);
    savedErr_ = ::dup(STDERR_FILENO);
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
}

CaptureOutput::~CaptureOutput() { Finish(); }

std::string CaptureOutput::Finish() {
    if (finished_) return {};
    finished_ = true;
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::dup2(savedOut_, STDOUT_FILENO);
    ::dup2(savedErr_, STDERR_FILENO);
    ::close(savedOut_);
    ::close(savedErr_);
    std::string text = ReadFile(path_);
    ::unlink(path_.c_str());
    return text;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& workingDir) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const std::string outPath = outputDir_.File("stdout");
    const std::string errPath = outputDir_.File("stderr");
    // The child's temporary files go with this folder, also when the test kills it: a killed
    // program cannot remove its own.
    std::vector<std::string> environment{"TMPDIR=" + outputDir_.Path()};
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "TMPDIR=", 7) != 0) environment.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::chdir(workingDir.c_str()) != 0) ::_exit(127);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (Running()) {
        Signal(SIGKILL);
        Wait();
    }
}

bool ChildProcess::Running() {
    if (pid_ <= 0 || status_ != -1) return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

void ChildProcess::Signal(int signal) const {
    if (pid_ > 0 && status_ == -1) ::kill(pid_, signal);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
    const bool done = WaitUntil([this] { return !Running(); }, timeout);
    return done ? status_ : -1;
}

std::string ChildProcess::Stdout() const { return ReadFile(outputDir_.File("stdout")); }

std::string ChildProcess::Stderr() const { return ReadFile(outputDir_.File("stderr")); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> LinesOf(const std::string& bytes) {
    std::vector<std::string> lines(1);
    for (char byte : bytes) {
        if (byte == '\r')
            lines.emplace_back();
        else if (byte != '\n')
            lines.back().push_back(byte);
    }
    lines.pop_back();
    return lines;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string BinPath(std::string_view program) {
    const char* dir = std::getenv("WAGA_BIN_DIR");
    return std::string(dir != nullptr ? dir : WAGA_DEFAULT_BIN_DIR) + "/" + std::string(program);
}

}  // namespace waga::test
