#pragma once
// A main window made in a fresh working directory with its own guard directory
// (XDG_RUNTIME_DIR), ready for FormCreate. Pseudo-terminals can be linked into the working
// directory as COMn, and a port can be made absent by a link that points nowhere. Boxes are real
// and answered by ModalAnswerer.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDate>
#include <QTimer>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Composition.h"
#include "Controls.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "ProgramRun.h"
#include "SerialPort.h"
#include "StartupSequence.h"
#include "TestSupport.h"

class StartupFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* previous = std::getenv("XDG_RUNTIME_DIR");
        if (previous != nullptr) previousRuntimeDir_ = previous;
        ::setenv("XDG_RUNTIME_DIR", runtimeDir_.Path().c_str(), 1);
        cwd_ = std::make_unique<waga::test::ScopedWorkingDir>(work_.Path());
        program_ = std::make_unique<Composition>();
        startup_ = std::make_unique<StartupSequence>(*program_);
        startup_->SetFreeSpaceQuery([] { return std::int64_t{1} << 40; });
    }

    void TearDown() override {
        startup_.reset();
        program_.reset();
        ptys_.clear();
        cwd_.reset();
        if (previousRuntimeDir_)
            ::setenv("XDG_RUNTIME_DIR", previousRuntimeDir_->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        // A quit request taken during a test ends every later event loop until the application's
        // own loop has run once; run it for a moment so the next test starts clean.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }

    MainWindow& Form() { return program_->Window(); }
    Composition& Program() { return *program_; }
    OperatorSwitches& Switches() { return program_->Switches(); }
    StartupSequence& Startup() { return *startup_; }
    std::string WorkFile(const std::string& name) const { return work_.File(name); }
    // The window names the day's file at start-up; the zone keeps the date from changing since.
    std::string DayFile() const {
        return WorkFile(QDate::currentDate().toString("yyyyMMdd").toStdString());
    }

    // A pseudo-terminal linked into the working directory as `name` (e.g. "COM2").
    waga::test::PtyLink& LinkPort(const std::string& name) {
        ptys_.push_back(std::make_unique<waga::test::PtyLink>(name));
        std::filesystem::create_symlink(ptys_.back()->SlavePath(), WorkFile(name));
        return *ptys_.back();
    }
    // A COMn link that points nowhere: opening the port fails for certain.
    void AbsentPort(const std::string& name) {
        std::filesystem::create_symlink(work_.File("no-such-device"), WorkFile(name));
    }
    void WriteWorkFile(const std::string& name, const std::string& bytes) {
        waga::test::WriteFile(WorkFile(name), bytes);
    }
    std::string ReadWorkFile(const std::string& name) const {
        return waga::test::ReadFile(WorkFile(name));
    }

    waga::test::TempDir runtimeDir_;
    waga::test::TempDir work_;

  private:
    waga::test::ScopedMiddayZone midday_;
    std::optional<std::string> previousRuntimeDir_;
    std::unique_ptr<waga::test::ScopedWorkingDir> cwd_;
    std::vector<std::unique_ptr<waga::test::PtyLink>> ptys_;
    std::unique_ptr<Composition> program_;
    std::unique_ptr<StartupSequence> startup_;
};
