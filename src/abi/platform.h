// The few Windows calls the filter makes: the settings-window title and the
// process heap. The DLL gets the real ones from <windows.h>. The filter built
// into the command-line host (PELTA_NATIVE_HOST, pelta.exe included) gets a
// stand-in of our own under the same names, so the call sites read the same
// in every build; platform_native.h has the stand-in's own controls.
#pragma once

#include <cstddef>

#if defined(_WIN32) && !defined(PELTA_NATIVE_HOST)
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

#endif
