#pragma once
// A gate in front of the server for the network faults: it forwards 127.0.0.1:Port() to the
// server's port while open; closed, it refuses new connections (nothing listens) and cuts the
// open ones with a reset, as a network that refuses connections does.

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class TcpGate {
  public:
    explicit TcpGate(int targetPort);
    ~TcpGate();
    TcpGate(const TcpGate&) = delete;
    TcpGate& operator=(const TcpGate&) = delete;

    int Port() const { return port_; }
    void Close() { open_ = false; }
    void Open() { open_ = true; }

  private:
    void Run();
    bool Listen();
    void CloseAll();

    int targetPort_;
    int port_ = 0;
    int listenFd_ = -1;
    std::vector<std::pair<int, int>> pairs_;
    std::atomic<bool> open_{true};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
