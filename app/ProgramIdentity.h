#pragma once
// The program's identification for an inspector: its version and the SHA-256 of the running
// executable, which must equal `sha256sum` of the installed file (/usr/bin/waga-stacja, ...).
// Every program's --version, the about dialog and waga-stacja's first line on standard error
// take it from here. Qt Core only.

#include <QString>
#include <functional>
#include <thread>

class QObject;

struct ExecutableDigest {
    QString hex;    // 64 lower-case hex digits; empty when the file could not be read
    QString error;  // why not
};

// Reads the running executable (/proc/self/exe: the file the process was started from, also
// when it was replaced on disk since) in pieces and returns its SHA-256. Takes as long as
// reading the file once; the window thread calls it through BackgroundDigest.
ExecutableDigest DigestRunningExecutable();

// "wersja 1.12, SHA-256 <hex>", or "wersja 1.12, SHA-256 nieznany: <error>".
QString IdentityText(const ExecutableDigest& digest);

// --version: "<program> 1.12" and "SHA-256: <hex>" on standard output, status 0; when the file
// cannot be read, the first line, the error on standard error and status 1.
int PrintVersion(const char* program);

// The digest computed on a thread of its own and handed to `done` on the thread of `receiver`
// (through its event loop), which must outlive this object. The destructor waits for the thread.
class BackgroundDigest {
  public:
    BackgroundDigest(QObject* receiver, std::function<void(const ExecutableDigest&)> done);
    ~BackgroundDigest();
    BackgroundDigest(const BackgroundDigest&) = delete;
    BackgroundDigest& operator=(const BackgroundDigest&) = delete;

  private:
    std::thread thread_;
};
