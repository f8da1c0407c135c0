#pragma once
// The one operating-system call the configuration writer needs beyond the standard library.

#include <cstdio>

// Pushes a flushed stream's data to the disk (fsync), so that a rename after it can never expose
// an empty or partial file after a power loss. Returns false when the system refuses.
bool FlushFileToDisk(std::FILE* file);
