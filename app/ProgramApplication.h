#pragma once
// The application object: an error that escapes an event handler is shown in the system-style
// box titled with the application title ("Project1"), and the program goes on with the next
// event.

#include <QApplication>

class ProgramApplication : public QApplication {
  public:
    ProgramApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override;
};
