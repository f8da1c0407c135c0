#pragma once
// The real main window, offscreen, in a temporary working directory, reading from scale-sim on a
// pseudo-terminal linked as COM2, with every line recorded. Faults are then made for real (files
// deleted, a full file system, the simulator killed) and the tests look at what the operator
// sees and at what reached the recording file.

#include <gtest/gtest.h>

#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "Composition.h"
#include "Controls.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "ReportView.h"
#include "SerialPort.h"
#include "TestSupport.h"

// scale-sim as a child process, with its --log in a directory of its own.
class Simulator {
  public:
    // `linkPath` is the COM2 link to make; `extra` are further options (stream, rate).
    Simulator(const std::string& linkPath, const std::vector<std::string>& extra);
    ~Simulator() = default;

    bool LinkReady() const;
    std::string Sent() const;  // every byte written so far
    waga::test::ChildProcess& Process() { return *process_; }

  private:
    waga::test::TempDir logDir_;
    std::string linkPath_;
    std::unique_ptr<waga::test::ChildProcess> process_;
};

class FaultFixture : public ::testing::Test {
  protected:
    void TearDown() override;

    // Starts the simulator in `workingDir` (the test's own directory when empty), then the window
    // there, connected to COM2 at 115200 bit/s with recording and readings recorded.
    void Start(const std::vector<std::string>& simOptions, const std::string& workingDir = "");
    // A new simulator behind the same COM2 link (the old one, if still running, is killed).
    void RestartSimulator(const std::vector<std::string>& simOptions);
    MainWindow& Form() { return *form_; }
    OperatorSwitches& Switches() { return program_->Switches(); }
    Composition& Program() { return *program_; }
    Simulator& Sim() { return *sim_; }
    std::string WorkFile(const std::string& name) const { return workDir_ + "/" + name; }
    std::string RecordingPath() const;
    std::string Recorded() const { return waga::test::ReadFile(RecordingPath()); }
    // Runs the event loop until the recording file holds at least `bytes` bytes.
    bool WaitForRecorded(std::size_t bytes, int timeoutMs = 10000);
    // Runs the event loop for `ms` milliseconds.
    static void Spin(int ms);

    waga::test::TempDir dir_;

  private:
    std::string workDir_;
    std::unique_ptr<waga::test::ScopedWorkingDir> cwd_;
    std::unique_ptr<Simulator> sim_;
    std::unique_ptr<Composition> program_;
    MainWindow* form_ = nullptr;
};

// What the recording file must hold for the bytes sent (every line recorded, CR LF each).
std::string ExpectedFor(const std::string& sent);
// True when `part` is a run of whole lines found in `expected` starting at a line start: what a
// simulator's lines became in the recording (a program held up at its open purges the first
// ones, a fault may lose the last).
bool IsWholeLineRun(const std::string& part, const std::string& expected);

inline const QString kAppendFailedText =
    QString::fromUtf8("Błąd zapisu do pliku! Prawdopodobnie brak miejsca na dysku!");
