// The Win32 layer's test program: runs the guard and serial checks and ends with
// "win32: N passed, M failed, K skipped". Started with --guard-hold or --guard-try it is one of
// the copies the guard checks start.

#include <windows.h>

#include <cstring>
#include <string>

#include "GuardChecks.h"
#include "PeerLink.h"
#include "SerialChecks.h"

int main(int argc, char** argv) {
    // A fault must end the run with a status, not wait on an error box.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    if (argc == 2 && std::strcmp(argv[1], "--guard-hold") == 0) return GuardHoldChild();
    if (argc == 2 && std::strcmp(argv[1], "--guard-try") == 0) return GuardTryChild();

    Tally tally;
    RunGuardChecks(tally);
    RunErrorChecks(tally);
    PeerLink peer;
    std::string error;
    if (peer.Connect(error)) {
        RunSerialChecks(peer, tally);
    } else {
        std::printf("FAIL serial: no line to test -- %s\n", error.c_str());
        ++tally.failed;
    }
    return FinishRun(tally);
}
