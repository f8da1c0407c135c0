// The single-instance guard on Windows: a named file mapping of 32 bytes backed by the paging
// file. The system creates a name once; a later creator gets the existing object together with
// ERROR_ALREADY_EXISTS, so of two copies started at the same moment exactly one passes.

#include <windows.h>

#include "InstanceGuard.h"

std::string InstanceGuard::LockPath() { return "ApplicationTestMap"; }

InstanceGuard::Result InstanceGuard::Acquire() { return Acquire(LockPath()); }

InstanceGuard::Result InstanceGuard::Acquire(const std::string& path) {
    Release();
    HANDLE mapping =
        ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 32, path.c_str());
    const DWORD error = ::GetLastError();
    if (mapping == nullptr) return Result::Unavailable;
    mapping_ = mapping;
    // The handle is kept in both cases, as the mapping's existence is all that matters; it is
    // released when the program closes or ends.
    return error == ERROR_ALREADY_EXISTS ? Result::AlreadyRunning : Result::Acquired;
}

void InstanceGuard::Release() {
    if (mapping_ == nullptr) return;
    ::CloseHandle(static_cast<HANDLE>(mapping_));
    mapping_ = nullptr;
}
