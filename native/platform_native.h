// The native stand-in for the Windows calls (platform_native.cpp) and what it
// offers beyond them: reading back window titles and making heap allocations
// fail, for the tests and the command-line host. Not part of the DLL.
#pragma once

#include "abi/platform.h"

#if !defined(_WIN32) || defined(PELTA_NATIVE_HOST)

// Makes the allocation `skip` allocations from now fail once (0: the very
// next one). A negative value cancels a pending failure.
void native_heap_fail_after(int skip);
// Blocks handed out and not yet freed.
int native_heap_live_blocks(void);
// Total successful HeapAlloc and HeapFree calls since start.
long native_heap_alloc_count(void);
long native_heap_free_count(void);

// The last text set on a window, or nullptr if none was set since the last
// reset. The stand-in remembers a handful of windows.
const char* native_window_text(HWND hwnd);
// Number of SetWindowTextA calls on any window since start.
long native_window_text_calls(void);
// Forgets every window's text.
void native_window_text_reset(void);

#endif
