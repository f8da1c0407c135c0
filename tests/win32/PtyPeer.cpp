// pty-peer: the far end of the line for the Win32 layer's test under Wine (a native Linux
// program). It makes a pseudo-terminal, links its slave where Wine looks for a port, runs the
// given command with WIN32_TEST_PEER=<tcp port> in its environment, and answers that command's
// requests on 127.0.0.1 until it ends. Its exit status is the command's.
//
//   pty-peer LINK COMMAND [ARG...]
//
// Requests, one line each, answered with one line "ok ..." or "error ...":
//   write HEX    queue the bytes for the master side (sent as the terminal takes them)
//   pending      bytes not yet read on the slave side (queued here + the slave's input queue)
//   termios      the slave's speed and frame as the kernel holds them (termios2, so that
//                speeds without a Bxxx constant show too); a pty always shows CS8, no PARENB
//   hangup       close the master: the line is lost for whoever holds the slave
//   renew        a new pseudo-terminal behind the same link, as when an adapter is plugged back

#include <asm/termbits.h>  // termios2 and TCGETS2; <termios.h> must stay out of this file
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile sig_atomic_t g_stop = 0;
int g_wakeWrite = -1;

void OnSignal(int signal) {
    if (signal != SIGCHLD) g_stop = 1;
    const int saved = errno;
    (void)!::write(g_wakeWrite, "x", 1);
    errno = saved;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "pty-peer: %s: %s\n", what, std::strerror(errno));
    std::exit(125);
}

struct Line {
    int master = -1;
    // Held open so that the terminal outlives the program's closes and its queue and settings
    // can be read here.
    int slave = -1;
    std::string outbox;
};

Line OpenLine(const std::string& link) {
    Line line;
    line.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.master < 0 || ::grantpt(line.master) != 0 || ::unlockpt(line.master) != 0) {
        Fail("posix_openpt");
    }
    const std::string slavePath = ::ptsname(line.master);
    line.slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line.slave < 0) Fail("open slave");
    ::unlink(link.c_str());
    if (::symlink(slavePath.c_str(), link.c_str()) != 0) Fail("symlink");
    return line;
}

void CloseLine(Line& line) {
    if (line.master >= 0) ::close(line.master);
    if (line.slave >= 0) ::close(line.slave);
    line = Line{};
}

std::string DescribeTermios(int fd) {
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0) return std::string("error TCGETS2 ") + std::strerror(errno);
    char text[256];
    std::snprintf(text, sizeof text,
                  "ok ispeed=%u ospeed=%u parodd=%d cmspar=%d cstopb=%d crtscts=%d ixon=%d "
                  "ixoff=%d icanon=%d echo=%d",
                  t.c_ispeed, t.c_ospeed, (t.c_cflag & PARODD) != 0, (t.c_cflag & CMSPAR) != 0,
                  (t.c_cflag & CSTOPB) != 0, (t.c_cflag & CRTSCTS) != 0, (t.c_iflag & IXON) != 0,
                  (t.c_iflag & IXOFF) != 0, (t.c_lflag & ICANON) != 0, (t.c_lflag & ECHO) != 0);
    return text;
}

bool FromHex(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = hex.substr(i, 2);
        const long value = std::strtol(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2) return false;
        bytes.push_back(static_cast<char>(value));
    }
    return true;
}

std::string Answer(const std::string& request, Line& line, const std::string& link) {
    const std::string verb = request.substr(0, request.find(' '));
    const std::string rest = verb.size() < request.size() ? request.substr(verb.size() + 1) : "";
    if (verb == "renew") {
        CloseLine(line);
        line = OpenLine(link);
        return "ok";
    }
    if (line.master < 0) return "error line closed";
    if (verb == "write") {
        if (!FromHex(rest, line.outbox)) return "error bad hex";
        return "ok";
    }
    if (verb == "pending") {
        int queued = 0;
        if (::ioctl(line.slave, FIONREAD, &queued) != 0) return "error FIONREAD";
        return "ok " + std::to_string(line.outbox.size() + static_cast<std::size_t>(queued));
    }
    if (verb == "termios") return DescribeTermios(line.slave);
    if (verb == "hangup") {
        CloseLine(line);
        return "ok";
    }
    return "error unknown request";
}

int Listen(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(fd, 4) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size)) {
        Fail("listen");
    }
    port = ntohs(address.sin_port);
    return fd;
}

pid_t Start(char** argv, int port) {
    const pid_t child = ::fork();
    if (child < 0) Fail("fork");
    if (child == 0) {
        ::signal(SIGPIPE, SIG_DFL);
        ::setenv("WIN32_TEST_PEER", std::to_string(port).c_str(), 1);
        ::execvp(argv[0], argv);
        std::fprintf(stderr, "pty-peer: cannot run %s: %s\n", argv[0], std::strerror(errno));
        ::_exit(127);
    }
    return child;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pty-peer LINK COMMAND [ARG...]\n");
        return 2;
    }
    const std::string link = argv[1];
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) Fail("pipe");
    g_wakeWrite = wake[1];
    struct sigaction action {};
    action.sa_handler = OnSignal;
    for (int s : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) ::sigaction(s, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Line line = OpenLine(link);
    int port = 0;
    const int listener = Listen(port);
    const pid_t child = Start(argv + 2, port);

    int client = -1;
    std::string inbox;
    int status = 0;
    for (;;) {
        if (::waitpid(child, &status, WNOHANG) == child) break;
        if (g_stop) {
            ::kill(child, SIGTERM);
            ::waitpid(child, &status, 0);
            break;
        }
        pollfd fds[4] = {
            {wake[0], POLLIN, 0},
            {listener, POLLIN, 0},
            {client, POLLIN, 0},
            {line.master, static_cast<short>(POLLIN | (line.outbox.empty() ? 0 : POLLOUT)), 0}};
        if (::poll(fds, 4, 1000) < 0 && errno != EINTR) Fail("poll");
        char buffer[4096];
        if (fds[0].revents) (void)!::read(wake[0], buffer, sizeof buffer);
        if (fds[1].revents & POLLIN) {
            const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted >= 0) {
                if (client >= 0) ::close(client);
                client = accepted;
                inbox.clear();
            }
        }
        if (fds[3].revents & POLLIN) (void)!::read(line.master, buffer, sizeof buffer);
        if ((fds[3].revents & POLLOUT) && !line.outbox.empty()) {
            const ssize_t n = ::write(line.master, line.outbox.data(), line.outbox.size());
            if (n > 0) line.outbox.erase(0, static_cast<std::size_t>(n));
        }
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(client, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(client);
                client = -1;
                continue;
            }
            inbox.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t end; (end = inbox.find('\n')) != std::string::npos;) {
                const std::string reply = Answer(inbox.substr(0, end), line, link) + "\n";
                inbox.erase(0, end + 1);
                if (::write(client, reply.data(), reply.size()) < 0) break;
            }
        }
    }
    CloseLine(line);
    if (client >= 0) ::close(client);
    ::close(listener);
    ::unlink(link.c_str());
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
