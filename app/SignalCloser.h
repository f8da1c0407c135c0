#pragma once
// SIGTERM, SIGINT and SIGHUP close the main window as its close button does (CloseSignals.h:
// the window is closed from the event loop, so FormClose runs on the interface thread).

#include <QObject>

#include "CloseSignals.h"

class QWidget;

// Made before start-up. Once the window is shown a signal closes it. A signal that comes while a
// start-up box waits for the operator (the window not shown yet) ends every event loop instead,
// so that box and any later one close by themselves; the program entry then closes the window
// as soon as start-up is over (Pending).
class SignalCloser : public QObject {
  public:
    explicit SignalCloser(QWidget* window);

    bool Pending() const { return pending_; }

  private:
    void SignalArrived();

    QWidget* window_;
    CloseSignalWatch watch_;
    bool pending_ = false;
};

// Ends the program's event loop once the main window has closed, whatever other window (the about
// dialog) is still open. Exit code 0.
class ExitWhenClosed : public QObject {
  public:
    explicit ExitWhenClosed(QWidget* window);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* window_;
};
