// Entry point of pelta.auf. The DLL is linked without the C runtime's start-up
// code: it has no global constructors or destructors and no thread-local
// state, so loading it needs no work of its own. The C library functions it
// calls come from msvcrt.dll, which initialises itself.
#include "abi/platform.h"

extern "C" BOOL WINAPI DllEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
