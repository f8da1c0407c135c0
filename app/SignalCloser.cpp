#include "SignalCloser.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

SignalCloser::SignalCloser(QWidget* window) : window_(window) {
    connect(&watch_, &CloseSignalWatch::arrived, this, [this] { SignalArrived(); });
}

void SignalCloser::SignalArrived() {
    if (window_->isVisible()) {
        window_->close();
    } else {
        pending_ = true;
        QCoreApplication::exit(0);
    }
}

ExitWhenClosed::ExitWhenClosed(QWidget* window) : window_(window) {
    window_->installEventFilter(this);
}

// The close event is seen before the window handles it; once it has been handled, a window that
// is no longer visible was closed (a minimised window stays visible).
bool ExitWhenClosed::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close) {
        QTimer::singleShot(0, this, [this] {
            if (!window_->isVisible()) QCoreApplication::exit(0);
        });
    }
    return false;
}
