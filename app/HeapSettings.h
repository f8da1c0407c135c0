#pragma once

// The window's thread builds each chunk's journal rows and the writer's thread frees them. With
// the C library's defaults every commit then hands the freed top of the heap back to the system
// and the next chunk asks for it again, page by page (a few hundred system calls and page faults
// a second at the line limit). Called first thing in main: up to 16 MiB freed stays in the heap.
void KeepFreedHeap();
