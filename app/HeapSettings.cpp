#include "HeapSettings.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void KeepFreedHeap() {
#if defined(__GLIBC__)
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
#endif
}
