#pragma once
// The program's start-up sequence and close step around the main window. Start-up (FormCreate):
// the single-instance guard, the free-space warning, the serial line defaults, konfig.ini, the
// port with its status text, the first page, the day's recording file and the window's place.
// Close (FormClose, when the window closes): the guard is released and konfig.ini written back.

#include <QObject>
#include <cstdint>
#include <functional>

#include "InstanceGuard.h"
#include "QuitRequest.h"

class Composition;

class StartupSequence : public QObject {
  public:
    explicit StartupSequence(Composition& program);

    // Runs before the window is first shown.
    void FormCreate();
    // Runs when the window closes; a second copy never writes konfig.ini.
    void FormClose();

    // Free bytes of the working directory's drive for the free-space check (-1: unknown).
    // Empty (the default): the real figure; tests give their own.
    void SetFreeSpaceQuery(std::function<std::int64_t()> query) {
        freeSpaceQuery_ = std::move(query);
    }
    // Whether the single-instance guard is held (from FormCreate until FormClose).
    bool HoldsInstanceGuard() const { return instanceGuard_.Held(); }
    // A second copy's quit request: posted by FormCreate, taken by the next event loop.
    bool QuitPosted() const { return quit_.Posted(); }
    bool QuitTaken() const { return quit_.Taken(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CheckSingleInstance();
    void WarnWhenDiskNearlyFull();
    void ReadSettings();
    void OpenPortAndReport();
    void PlaceWindow();

    std::function<std::int64_t()> freeSpaceQuery_;
    InstanceGuard instanceGuard_;
    QuitRequest quit_;
    Composition& program_;
};
