// FlushFileToDisk for POSIX systems and Windows.

#include "KonfigDisk.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

bool FlushFileToDisk(std::FILE* file) {
#if defined(_WIN32)
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}
