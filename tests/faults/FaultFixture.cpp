#include "FaultFixture.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <filesystem>

#include "SoakCompare.h"

using waga::test::BinPath;
using waga::test::ChildProcess;

Simulator::Simulator(const std::string& linkPath, const std::vector<std::string>& extra)
    : linkPath_(linkPath) {
    std::vector<std::string> argv = {BinPath("scale-sim"),     "--link", linkPath, "--log",
                                     logDir_.File("sent.bin"), "--quiet"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    process_ = std::make_unique<ChildProcess>(argv, logDir_.Path());
}

bool Simulator::LinkReady() const {
    std::error_code error;
    return std::filesystem::is_symlink(linkPath_, error) &&
           std::filesystem::exists(linkPath_, error);
}

std::string Simulator::Sent() const { return waga::test::ReadFile(logDir_.File("sent.bin")); }

void FaultFixture::Start(const std::vector<std::string>& simOptions,
                         const std::string& workingDir) {
    workDir_ = workingDir.empty() ? dir_.Path() : workingDir;
    cwd_ = std::make_unique<waga::test::ScopedWorkingDir>(workDir_);
    RestartSimulator(simOptions);
    if (HasFatalFailure()) return;

    program_ = std::make_unique<Composition>();
    form_ = &program_->Window();
    program_->Port().SetComPort(pnCOM2);
    program_->Port().SetComPortSpeed(br115200);
    program_->Session().Start();
    ASSERT_TRUE(program_->Port().IsPortOpen());
    program_->Switches().SetRecordReadings(true);
    program_->Switches().SetShowReadings(true);
    form_->CreateDayFile();
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_));
}

void FaultFixture::RestartSimulator(const std::vector<std::string>& simOptions) {
    sim_.reset();
    sim_ = std::make_unique<Simulator>(WorkFile("COM2"), simOptions);
    ASSERT_TRUE(waga::test::WaitUntil([&] { return sim_->LinkReady(); }))
        << sim_->Process().Stderr();
}

void FaultFixture::TearDown() {
    form_ = nullptr;
    program_.reset();
    if (sim_) sim_->Process().Signal(SIGTERM);
    sim_.reset();
    cwd_.reset();
}

std::string FaultFixture::RecordingPath() const {
    const std::string name = program_->Switches().RecordingFileName();
    return name.find('/') == std::string::npos ? WorkFile(name) : name;
}

bool FaultFixture::WaitForRecorded(std::size_t bytes, int timeoutMs) {
    return waga::test::RunEventsUntil([&] { return Recorded().size() >= bytes; },
                                      std::chrono::milliseconds(timeoutMs));
}

void FaultFixture::Spin(int ms) { waga::test::RunEvents(std::chrono::milliseconds(ms)); }

std::string ExpectedFor(const std::string& sent) { return ExpectedRecording(sent); }

bool IsWholeLineRun(const std::string& part, const std::string& expected) {
    if (part.size() < 2 || part.compare(part.size() - 2, 2, "\r\n") != 0) return false;
    for (std::size_t at = expected.find(part); at != std::string::npos;
         at = expected.find(part, at + 1)) {
        if (at == 0 || (at >= 2 && expected.compare(at - 2, 2, "\r\n") == 0)) return true;
    }
    return false;
}
