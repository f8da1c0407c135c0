#include "ProgramUnderTest.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDate>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using waga::test::ChildProcess;

Workplace::Workplace(uid_t owner) {
    ::chmod(runtime_.Path().c_str(), 0700);
    if (owner != 0) {
        const bool handedOver = ::chown(Dir().c_str(), owner, owner) == 0 &&
                                ::chown(runtime_.Path().c_str(), owner, owner) == 0 &&
                                ::chmod(pty_.SlavePath().c_str(), 0666) == 0;
        if (!handedOver) std::abort();  // the test could only fail in confusing ways
    }
}

std::string Workplace::DayFile() const {
    return File(QDate::currentDate().toString("yyyyMMdd").toStdString());
}

void Workplace::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(File(name), std::ios::binary | std::ios::trunc) << bytes;
}

std::string Workplace::Read(const std::string& name) const {
    return waga::test::ReadFile(File(name));
}

std::unique_ptr<ChildProcess> StartProgram(const Workplace& place, const RunOptions& options) {
    std::vector<std::string> argv;
    if (options.asNobody) {
        const std::string id = std::to_string(waga::test::kNobodyId);
        argv = {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"};
    }
    argv.insert(argv.end(), {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                             "XDG_RUNTIME_DIR=" + place.RuntimeDir()});
    if (options.display.empty()) {
        argv.push_back("QT_QPA_PLATFORM=offscreen");
    } else {
        argv.push_back("QT_QPA_PLATFORM=xcb");
        argv.push_back("DISPLAY=" + options.display);
    }
    argv.push_back(waga::test::BinPath("Project1"));
    return std::make_unique<ChildProcess>(argv, place.Dir());
}

int RunAndClose(const Workplace& place, int signal, const RunOptions& options) {
    // The day's file shows that start-up is over (and the signal handlers are in place), so one
    // left by an earlier run must go first.
    const std::string dayFile = place.DayFile();
    std::filesystem::remove(dayFile);
    auto program = StartProgram(place, options);
    if (!waga::test::WaitUntil([&] { return std::filesystem::exists(dayFile); })) return -1;
    program->Signal(signal);
    return program->Wait();
}
