#pragma once
// SIGTERM, SIGINT and SIGHUP close the main window as its close button does. The signal handler
// only writes the signal's number into a pipe (self-pipe); the event loop reads it through a
// socket notifier and closes the window there, so FormClose runs on the interface thread.

#include <QObject>

class QSocketNotifier;
class QWidget;

// Installs the handlers. Call it first thing: a signal that arrives during start-up waits in the
// pipe until the main event loop runs. Returns false when the pipe or a handler cannot be set.
bool InstallCloseSignalHandlers();

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
    QSocketNotifier* notifier_ = nullptr;
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
