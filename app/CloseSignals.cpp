#include "CloseSignals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

int closePipe[2] = {-1, -1};

void OnCloseSignal(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(closePipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

bool InstallCloseSignalHandlers() {
    if (closePipe[0] >= 0) return true;
    if (::pipe2(closePipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool installed = true;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        installed = ::sigaction(signalNumber, &action, nullptr) == 0 && installed;
    return installed;
}

CloseSignalWatch::CloseSignalWatch(QObject* parent) : QObject(parent) {
    if (closePipe[0] < 0) return;
    notifier_ = new QSocketNotifier(closePipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        unsigned char bytes[64];
        while (::read(closePipe[0], bytes, sizeof bytes) > 0) {
        }
        emit arrived();
    });
}
