#pragma once
// A shown main window in a fresh temporary working directory, with helpers to feed scale bytes
// through the real pipeline and to press on controls through the window, as the mouse does.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <memory>
#include <sstream>
#include <string>

#include "Composition.h"
#include "Controls.h"
#include "MainWindow.h"
#include "ModalAnswerer.h"
#include "ReportView.h"
#include "SerialPort.h"
#include "TestSupport.h"

class UiFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::make_unique<waga::test::TempDir>();
        cwd_ = std::make_unique<waga::test::ScopedWorkingDir>(dir_->Path());
        program_ = std::make_unique<Composition>();
        form_ = &program_->Window();
        form_->SetMaxLinesText(Win1250Text("300"));
        // Recording goes to an existing file, so no test meets a file error box unasked.
        WriteFile(Path("rec.txt"), "");
        program_->Switches().SetRecordingFileName(Path("rec.txt"));
        form_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form_));
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_));
    }
    void TearDown() override {
        form_ = nullptr;
        program_.reset();
        cwd_.reset();
        dir_.reset();
    }

    MainWindow& Form() { return *form_; }
    Composition& Program() { return *program_; }
    OperatorSwitches& Switches() { return program_->Switches(); }
    std::string Path(const std::string& name) const { return dir_->File(name); }

    void Feed(const std::string& bytes) {
        program_->Pipeline().Receive(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
    // Report lines "prefix0", "prefix1", ...
    void FeedReportLines(int count, const std::string& prefix = "r") {
        std::string bytes;
        for (int i = 0; i < count; ++i) bytes += prefix + std::to_string(i) + "\r";
        Feed(bytes);
    }
    std::vector<std::string> ReportLines() const {
        std::vector<std::string> lines;
        for (const Win1250Text& line : form_->ReportDisplay().Lines())
            lines.push_back(line.Bytes());
        return lines;
    }
    // A left press and release over the centre of a control, delivered to the window.
    void ClickOn(QWidget* widget, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(form_->windowHandle(), button, Qt::NoModifier,
                          widget->mapTo(form_, widget->rect().center()));
    }
    void ClickTab(int index) {
        QTabBar* bar = Find<QTabWidget>(*form_, "PCustawienia")->tabBar();
        QTest::mouseClick(form_->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          bar->mapTo(form_, bar->tabRect(index).center()));
    }
    // After a box has closed: the window is active again, as the window manager makes it.
    void Reactivate() {
        form_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form_));
    }
    // The control that has (or gets back, once the window is active) the window's focus.
    QWidget* Focused() const { return form_->focusWidget(); }
    static std::string ReadFile(const std::string& path) { return waga::test::ReadFile(path); }
    static void WriteFile(const std::string& path, const std::string& bytes) {
        waga::test::WriteFile(path, bytes);
    }
    // Puts the focus into the limit edit on the "Podgląd" page and types `text` into it.
    void TypeLimit(const QString& text) {
        Reactivate();
        form_->SetActivePage(2);
        Find<QLineEdit>(*form_, "Emaxlinie")->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
        Find<QLineEdit>(*form_, "Emaxlinie")->setText(text);
    }

    std::unique_ptr<waga::test::TempDir> dir_;
    std::unique_ptr<waga::test::ScopedWorkingDir> cwd_;
    std::unique_ptr<Composition> program_;
    MainWindow* form_ = nullptr;
};
