#pragma once
// Helpers shared by the tests that need real operating-system objects: temporary directories,
// pseudo-terminals linked as COMn, children run as an unprivileged user, captured output and
// child processes. Everything a helper makes is removed by its destructor.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "RawPseudoTerminal.h"

namespace waga::test {

// Where the tests make their temporary files: $TMPDIR when it is a writable directory that other
// users can reach (the unprivileged child has to), else /tmp, /var/tmp or /dev/shm, whichever is
// first; a writable one that others cannot reach only when nothing better exists.
const std::string& TempRoot();

// A fresh directory under TempRoot() (mode 0755, so an unprivileged child can enter it), removed
// with everything in it on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path() + "/" + name.
    std::string File(std::string_view name) const;

  private:
    std::string path_;
};

// Makes `dir` the working directory for the helper's lifetime, then returns to the old one.
class ScopedWorkingDir {
  public:
    explicit ScopedWorkingDir(const std::string& dir);
    ~ScopedWorkingDir();
    ScopedWorkingDir(const ScopedWorkingDir&) = delete;
    ScopedWorkingDir& operator=(const ScopedWorkingDir&) = delete;

  private:
    std::string previous_;
};

// A pseudo-terminal pair whose slave device is linked as `linkName` (default "COM2") in a
// temporary directory. The slave is put in raw mode and kept open by the helper, so bytes
// written to the master wait unchanged in the terminal until a reader opens the link.
// The destructor closes both sides and removes the link and the directory.
class PtyLink {
  public:
    explicit PtyLink(std::string linkName = "COM2");
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    int MasterFd() const { return pty_.MasterFd(); }
    int SlaveFd() const { return pty_.SlaveFd(); }                     // -1 after CloseSlave()
    const std::string& SlavePath() const { return pty_.SlavePath(); }  // e.g. /dev/pts/7
    const std::string& Dir() const { return dir_.Path(); }             // holds the link
    std::string LinkPath() const { return dir_.File(linkName_); }

    // Writes every byte to the master, waiting while the terminal is full (up to 10 s).
    // False if the master refused (e.g. the slave was closed by everyone).
    bool Write(std::string_view bytes) const;
    // Bytes waiting in the slave's input queue (FIONREAD on the kept slave descriptor).
    int QueuedForReader() const { return pty_.QueuedForReader(); }
    // Closes the helper's own slave descriptor.
    void CloseSlave() { pty_.CloseSlave(); }
    // Closes the master: the reader sees the peer vanish (hang-up).
    void CloseMaster() { pty_.CloseMaster(); }

  private:
    TempDir dir_;
    std::string linkName_;
    RawPseudoTerminal pty_;
};

inline constexpr uid_t kNobodyId = 65534;

// Runs `body` in a forked child as uid/gid 65534 (no supplementary groups) and returns its
// result as the child's exit status (0..255), or -1 if the child died or could not drop its
// privileges. When the tests do not run as root the child keeps the current (already
// unprivileged) identity. The child leaves with _exit: no destructors, no output flushing.
int RunAsNobody(const std::function<int()>& body);

// Runs `body` in a forked child with the current identity; same result convention.
int RunInChild(const std::function<int()>& body);

// Collects everything written to the process's stdout and stderr descriptors while alive.
class CaptureOutput {
  public:
    CaptureOutput();
    ~CaptureOutput();
    CaptureOutput(const CaptureOutput&) = delete;
    CaptureOutput& operator=(const CaptureOutput&) = delete;

    // Stops capturing (restores both descriptors) and returns what was written.
    std::string Finish();

  private:
    int savedOut_ = -1;
    int savedErr_ = -1;
    std::string path_;
    bool finished_ = false;
};

// A child program started with fork + exec in a working directory; stdout and stderr go to
// files in a temporary directory, which is also the child's TMPDIR. The destructor sends SIGKILL if
// it still runs and reaps it.
class ChildProcess {
  public:
    ChildProcess(const std::vector<std::string>& argv, const std::string& workingDir);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    void Signal(int signal) const;
    // Waits for the exit; the exit status, 128 + signal for a signalled child, or -1 on timeout.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    std::string Stdout() const;
    std::string Stderr() const;
    // The child's TMPDIR (it also holds its standard output and error).
    const std::string& TempFolder() const { return outputDir_.Path(); }

  private:
    TempDir outputDir_;
    pid_t pid_ = -1;
    int status_ = -1;
};

// The whole content of a file ("" if it cannot be read).
std::string ReadFile(const std::string& path);
// The lines in a received byte stream, cut as the program cuts them: a CR ends one, an LF is
// dropped; what follows the last CR is not a line yet.
std::vector<std::string> LinesOf(const std::string& bytes);
// Writes the bytes as the file's whole content (binary, replacing any old contents).
void WriteFile(const std::string& path, const std::string& bytes);

// Polls `condition` every few milliseconds until it holds or `timeout` passes. The Qt event loop
// does not run meanwhile (RunEventsUntil runs it).
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the Qt event loop until `condition` holds or `timeout` passes; returns `condition()`.
bool RunEventsUntil(const std::function<bool()>& condition,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs the Qt event loop for `duration`.
void RunEvents(std::chrono::milliseconds duration);

// A built program in the binary directory (WAGA_BIN_DIR, set by waga_add_gtest).
std::string BinPath(std::string_view program);

}  // namespace waga::test
