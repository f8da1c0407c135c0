#include "PeerLink.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <sstream>

PeerLink::~PeerLink() {
    if (socket_ != INVALID_SOCKET) ::closesocket(static_cast<SOCKET>(socket_));
}

bool PeerLink::Connect(std::string& error) {
    const char* port = std::getenv("WIN32_TEST_PEER");
    if (port == nullptr) {
        error = "WIN32_TEST_PEER is not set (run under pty-peer)";
        return false;
    }
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        error = "WSAStartup failed";
        return false;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(std::atoi(port)));
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET ||
        ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = "cannot reach pty-peer on port " + std::string(port) + ", error " +
                std::to_string(::WSAGetLastError());
        if (s != INVALID_SOCKET) ::closesocket(s);
        return false;
    }
    socket_ = s;
    return true;
}

bool PeerLink::Ask(const std::string& request, std::string& answer) {
    const SOCKET s = static_cast<SOCKET>(socket_);
    if (s == INVALID_SOCKET) return false;
    const std::string line = request + "\n";
    if (::send(s, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size())) {
        return false;
    }
    std::size_t end;
    while ((end = inbox_.find('\n')) == std::string::npos) {
        char buffer[512];
        const int n = ::recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        inbox_.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string reply = inbox_.substr(0, end);
    inbox_.erase(0, end + 1);
    if (reply.rfind("ok", 0) != 0) {
        answer = reply;
        return false;
    }
    answer = reply.size() > 3 ? reply.substr(3) : "";
    return true;
}

bool PeerLink::SendBytes(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string request = "write ";
    for (unsigned char c : bytes) {
        request += kDigits[c >> 4];
        request += kDigits[c & 15];
    }
    std::string answer;
    return Ask(request, answer);
}

long PeerLink::Pending() {
    std::string answer;
    return Ask("pending", answer) ? std::atol(answer.c_str()) : -1;
}

std::map<std::string, long> PeerLink::LineState() {
    std::map<std::string, long> fields;
    std::string answer;
    if (!Ask("termios", answer)) return fields;
    std::istringstream words(answer);
    for (std::string word; words >> word;) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos) {
            fields[word.substr(0, equals)] = std::atol(word.c_str() + equals + 1);
        }
    }
    return fields;
}
