#pragma once
// SIGTERM, SIGINT and SIGHUP as events of the event loop. The handler only writes the signal's
// number into a pipe (self-pipe); CloseSignalWatch reads it through a socket notifier and tells
// its listeners on the thread that runs the loop. Qt Core only: the window program closes its
// window on it (SignalCloser), the station stops.

#include <QObject>

class QSocketNotifier;

// Installs the handlers. Call it first thing: a signal that arrives during start-up waits in the
// pipe until an event loop runs. Returns false when the pipe or a handler cannot be set.
bool InstallCloseSignalHandlers();

class CloseSignalWatch : public QObject {
    Q_OBJECT
  public:
    explicit CloseSignalWatch(QObject* parent = nullptr);

  signals:
    // One or more closing signals arrived since the last time.
    void arrived();

  private:
    QSocketNotifier* notifier_ = nullptr;
};
