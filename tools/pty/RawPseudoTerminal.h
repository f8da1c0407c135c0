#pragma once
// A pseudo-terminal made the way the scale simulator and the tests need it: the slave in raw
// mode and kept open by its maker, so that bytes written to the master wait unchanged in the
// terminal until a program opens the slave, and writes never fail for want of a reader. The
// master is non-blocking; both descriptors are closed on exec.

#include <string>

class RawPseudoTerminal {
  public:
    RawPseudoTerminal() = default;
    ~RawPseudoTerminal() { Close(); }
    RawPseudoTerminal(const RawPseudoTerminal&) = delete;
    RawPseudoTerminal& operator=(const RawPseudoTerminal&) = delete;

    // Makes the pair; false with `error` set when the system refuses.
    bool Open(std::string& error);
    void CloseSlave();
    void CloseMaster();
    void Close() {
        CloseSlave();
        CloseMaster();
    }

    int MasterFd() const { return master_; }
    int SlaveFd() const { return slave_; }
    const std::string& SlavePath() const { return slavePath_; }  // e.g. /dev/pts/7
    // Bytes written to the master and not yet read from the slave (-1 once the slave is closed).
    int QueuedForReader() const;

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
