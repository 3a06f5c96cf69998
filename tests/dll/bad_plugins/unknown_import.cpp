// A DLL exporting GetFilterTable that imports a Windows function the loader
// has no stand-in for (KERNEL32's Sleep).
#include <windows.h>

extern "C" __declspec(dllexport) void* GetFilterTable(void) {
    Sleep(1);
    return nullptr;
}
