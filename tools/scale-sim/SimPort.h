#pragma once
// The simulator's side of the line: a pseudo-terminal whose slave device is linked at a path.
// The simulator keeps the slave open itself (in raw mode), so bytes it writes wait unchanged
// in the terminal until a program opens the link, and writes never fail for want of a reader.

#include <sys/types.h>

#include <string>

#include "RawPseudoTerminal.h"

class SimPort {
  public:
    SimPort() = default;
    ~SimPort();
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    // Makes the terminal and the link; false with `error` set on failure. An existing link at
    // the path is replaced; any other file there is left alone and counts as a failure.
    bool Create(const std::string& linkPath, std::string& error);
    // Removes the link (if it still leads to this terminal) and closes both sides.
    void Destroy();

    int MasterFd() const { return pty_.MasterFd(); }
    // True while some process holds the exclusive lock a serial program takes on the device.
    bool HeldByReader() const;
    // Bytes written but not yet read by the program.
    int QueuedForReader() const;

  private:
    RawPseudoTerminal pty_;
    std::string linkPath_;
    dev_t slaveDev_ = 0;
    ino_t slaveIno_ = 0;
};
