#include "GuardChecks.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "InstanceGuard.h"

namespace {

constexpr DWORD kWaitMs = 20000;

const char* ResultName(InstanceGuard::Result result) {
    static const char* const kNames[] = {"Acquired", "AlreadyRunning", "Unavailable"};
    return kNames[static_cast<int>(result)];
}

// The wide calls: the program's path may hold letters the ANSI code page lacks (a checkout in a
// folder named with Polish letters), which the ANSI calls would turn into '?'.
std::wstring SelfCommand(const wchar_t* mode) {
    wchar_t path[32768];
    const DWORD size = ::GetModuleFileNameW(nullptr, path, 32768);
    return L"\"" + std::wstring(path, size) + L"\" " + mode;
}

// A copy of this program started with --guard-hold: it reports on a pipe what Acquire gave and
// keeps the mapping until its standard input is closed (or it is killed).
class HoldingCopy {
  public:
    HoldingCopy() = default;
    HoldingCopy(const HoldingCopy&) = delete;
    HoldingCopy& operator=(const HoldingCopy&) = delete;
    ~HoldingCopy() { Kill(); }

    bool Start() {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE childInput = nullptr;
        HANDLE childOutput = nullptr;
        if (!::CreatePipe(&childInput, &input_, &inherit, 0)) return false;
        if (!::CreatePipe(&output_, &childOutput, &inherit, 0)) return false;
        ::SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childInput;
        startup.hStdOutput = childOutput;
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        std::wstring command = SelfCommand(L"--guard-hold");
        const bool started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                              nullptr, nullptr, &startup, &process_) != 0;
        ::CloseHandle(childInput);
        ::CloseHandle(childOutput);
        return started;
    }

    // The line the copy printed, or "" when it printed none in time.
    std::string Result() {
        std::string line;
        const ULONGLONG end = ::GetTickCount64() + kWaitMs;
        while (line.find('\n') == std::string::npos && ::GetTickCount64() < end) {
            DWORD available = 0;
            if (!::PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr)) break;
            char buffer[64];
            DWORD count = 0;
            if (available == 0) {
                ::Sleep(5);
            } else if (::ReadFile(output_, buffer, sizeof buffer, &count, nullptr)) {
                line.append(buffer, count);
            }
        }
        const std::size_t end_of_line = line.find_first_of("\r\n");
        return end_of_line == std::string::npos ? "" : line.substr(0, end_of_line);
    }

    // Closes the copy's input and returns its exit status; ~0 when it had to be killed.
    DWORD End() {
        ::CloseHandle(input_);
        input_ = nullptr;
        DWORD status = ~0u;
        if (::WaitForSingleObject(process_.hProcess, kWaitMs) == WAIT_OBJECT_0) {
            ::GetExitCodeProcess(process_.hProcess, &status);
        }
        Kill();
        return status;
    }

    // Ends the copy at once, as a crash would, and waits until it is gone.
    void Kill() {
        if (process_.hProcess != nullptr) {
            ::TerminateProcess(process_.hProcess, 9);
            ::WaitForSingleObject(process_.hProcess, kWaitMs);
            ::CloseHandle(process_.hProcess);
            ::CloseHandle(process_.hThread);
            process_ = {};
        }
        for (HANDLE* pipe : {&input_, &output_}) {
            if (*pipe != nullptr) ::CloseHandle(*pipe);
            *pipe = nullptr;
        }
    }

  private:
    PROCESS_INFORMATION process_{};
    HANDLE input_ = nullptr;
    HANDLE output_ = nullptr;
};

// Starts a copy with --guard-try and returns what Acquire gave it.
std::string TryCopy() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring command = SelfCommand(L"--guard-try");
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return "not started";
    }
    DWORD status = ~0u;
    if (::WaitForSingleObject(process.hProcess, kWaitMs) == WAIT_OBJECT_0) {
        ::GetExitCodeProcess(process.hProcess, &status);
    } else {
        ::TerminateProcess(process.hProcess, 9);
    }
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    return status <= 2 ? ResultName(static_cast<InstanceGuard::Result>(status))
                       : "exit status " + std::to_string(status);
}

HoldingCopy g_first;

void FirstCopyAcquires(Verdict& v) {
    v.Require(g_first.Start(), "the first copy did not start");
    const std::string result = g_first.Result();
    v.Require(result == "Acquired", "the first copy got \"" + result + "\"");
}

void SecondCopyIsRefused(Verdict& v) {
    const std::string result = TryCopy();
    v.Require(result == "AlreadyRunning", "the second copy got " + result);
}

void NewCopyAfterFirstEnds(Verdict& v) {
    v.Require(g_first.End() == 0, "the first copy did not end by itself");
    const std::string result = TryCopy();
    v.Require(result == "Acquired", "the new copy got " + result);
}

void KilledCopyDoesNotBlock(Verdict& v) {
    HoldingCopy copy;
    v.Require(copy.Start() && copy.Result() == "Acquired", "the copy did not acquire");
    copy.Kill();
    const std::string result = TryCopy();
    v.Require(result == "Acquired", "the next copy got " + result);
}

void OneOfFourStartedTogether(Verdict& v) {
    HoldingCopy copies[4];
    for (HoldingCopy& copy : copies) v.Require(copy.Start(), "a copy did not start");
    int acquired = 0;
    int refused = 0;
    for (HoldingCopy& copy : copies) {
        const std::string result = copy.Result();
        acquired += result == "Acquired";
        refused += result == "AlreadyRunning";
    }
    v.Require(acquired == 1 && refused == 3,
              std::to_string(acquired) + " acquired, " + std::to_string(refused) + " refused");
}

// FormClose releases the guard before the program ends; from then on a new copy may start.
void ReleaseLetsTheNextIn(Verdict& v) {
    InstanceGuard guard;
    v.Require(guard.Acquire() == InstanceGuard::Result::Acquired, "this copy did not acquire");
    const std::string whileHeld = TryCopy();
    guard.Release();
    v.Require(whileHeld == "AlreadyRunning", "a copy got " + whileHeld + " while held");
    v.Require(!guard.Held(), "still held after Release");
    const std::string result = TryCopy();
    v.Require(result == "Acquired", "after Release a copy got " + result);
}

// Another kind of object under the mapping's name makes CreateFileMappingA fail; the program
// then runs as a first copy.
void ForeignObjectUnderTheName(Verdict& v) {
    const HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, InstanceGuard::LockPath().c_str());
    v.Require(event != nullptr, "cannot create the event");
    InstanceGuard guard;
    const InstanceGuard::Result result = guard.Acquire();
    ::CloseHandle(event);
    v.Require(result == InstanceGuard::Result::Unavailable,
              std::string("got ") + ResultName(result));
    v.Require(!guard.Held(), "holds a handle after the failure");
}

}  // namespace

void RunGuardChecks(Tally& tally) {
    const Check guard[] = {
        {"a first copy acquires the mapping", FirstCopyAcquires},
        {"a second copy is refused while the first runs", SecondCopyIsRefused},
        {"after the first ends, a new copy acquires", NewCopyAfterFirstEnds},
        {"a killed copy does not block the next", KilledCopyDoesNotBlock},
        {"of four copies started together one acquires", OneOfFourStartedTogether},
        {"after Release a new copy acquires", ReleaseLetsTheNextIn},
        {"a foreign object under the name gives Unavailable", ForeignObjectUnderTheName}};
    RunChecks("guard", guard, tally);
    g_first.Kill();
}

int GuardHoldChild() {
    InstanceGuard guard;
    std::printf("%s\n", ResultName(guard.Acquire()));
    std::fflush(stdout);
    char byte;
    DWORD count = 0;
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &count, nullptr) && count > 0) {
    }
    return 0;
}

int GuardTryChild() {
    InstanceGuard guard;
    return static_cast<int>(guard.Acquire());
}
