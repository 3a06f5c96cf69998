// The few Windows calls the filter makes: the settings-window title and the
// process heap. The DLL gets the real ones from <windows.h>. The native build
// gets a stand-in of our own under the same names, so the call sites read the
// same in both builds; the stand-in also lets tests read back titles and make
// heap allocations fail.
#pragma once

#include <cstddef>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else

typedef int BOOL;
typedef void* HWND;
typedef void* HANDLE;
typedef unsigned long DWORD;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

HANDLE GetProcessHeap(void);
void* HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, void* block);
BOOL SetWindowTextA(HWND hwnd, const char* text);

// Controls and read-back of the native stand-in (tests and the command-line host).

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
