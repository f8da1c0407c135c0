#pragma once
// The test program's side of the conversation with pty-peer, the native program that holds the
// pseudo-terminal's master: one request line out, one answer line back, over a loopback socket.

#include <map>
#include <string>

class PeerLink {
  public:
    PeerLink() = default;
    ~PeerLink();
    PeerLink(const PeerLink&) = delete;
    PeerLink& operator=(const PeerLink&) = delete;

    // Connects to the port named by WIN32_TEST_PEER; false (with the reason in `error`) when
    // the variable is missing or nobody answers.
    bool Connect(std::string& error);
    // Sends one request; true with the answer after "ok", false for an "error ..." answer
    // (left in `answer`) or a broken connection.
    bool Ask(const std::string& request, std::string& answer);
    bool SendBytes(const std::string& bytes);
    // Bytes written into the line that the Windows side has not yet read; -1 on failure.
    long Pending();
    // The terminal's state as the kernel holds it ("ispeed", "cstopb", ...); empty on failure.
    std::map<std::string, long> LineState();

  private:
    unsigned long long socket_ = ~0ull;
    std::string inbox_;
};
