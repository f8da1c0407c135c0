#pragma once
// A second copy's quit request. Posting queues it; the next event loop that runs takes it and
// ends every loop (QCoreApplication::exit), so a message box open at that moment closes by
// itself and one opened afterwards returns at once. Only a program window is never closed by it:
// a second copy ends without running FormClose.

#include <QObject>

class QuitRequest : public QObject {
  public:
    void Post();
    bool Posted() const { return posted_; }
    bool Taken() const { return taken_; }

  private:
    bool posted_ = false;
    bool taken_ = false;
};
