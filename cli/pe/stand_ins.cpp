// Stand-ins for the plug-in's imports. Win32 functions are stdcall, the C
// runtime is cdecl; 32-bit glibc's functions are called the same way for the
// ones listed. Each realigns its stack on entry: a Windows program may call
// with a stack aligned to 4 bytes only, and glibc's code assumes 16.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include "native/platform_native.h"
#include "pe/pe_internal.h"
#include "pe/pe_loader.h"

namespace pelta_cli {

using pe_detail::plugin_misuse;

namespace {

#define WIN32_STANDIN __attribute__((stdcall, force_align_arg_pointer))
#define CRT_STANDIN __attribute__((cdecl, force_align_arg_pointer))

struct StandIn {
    const char* dll;  // lower case
    const char* name;
    void* fn;
    long calls;
};
StandIn* counter(const char* name);
#define COUNT_CALL(name)                             \
    do {                                             \
        static StandIn* const entry = counter(name); \
        ++entry->calls;                              \
    } while (0)

// The plug-in's live heap blocks, so that a double free or a free of a
// foreign pointer is caught; the blocks themselves come from the platform
// layer's heap, which counts them for native_heap_live_blocks().
std::map<void*, size_t> heap_blocks;
constexpr uint32_t HEAP_ZERO_MEMORY = 0x8;

WIN32_STANDIN HANDLE k32_GetProcessHeap() {
    COUNT_CALL("GetProcessHeap");
    return GetProcessHeap();
}
WIN32_STANDIN void* k32_HeapAlloc(HANDLE heap, uint32_t flags, size_t bytes) {
    COUNT_CALL("HeapAlloc");
    if (heap != GetProcessHeap()) plugin_misuse("HeapAlloc on %p, which is not the process heap", heap);
    void* block = HeapAlloc(heap, flags, bytes);
    if (!block) return nullptr;
    // Fresh blocks hold garbage unless zeroing was asked for, as on Windows.
    std::memset(block, flags & HEAP_ZERO_MEMORY ? 0 : 0xCD, bytes);
    heap_blocks[block] = bytes;
    return block;
}
WIN32_STANDIN BOOL k32_HeapFree(HANDLE heap, uint32_t flags, void* block) {
    COUNT_CALL("HeapFree");
    if (heap != GetProcessHeap()) plugin_misuse("HeapFree on %p, which is not the process heap", heap);
    if (!block) return TRUE;
    auto it = heap_blocks.find(block);
    if (it == heap_blocks.end())
        plugin_misuse("HeapFree(%p): not a live block of the process heap (double free?)", block);
    heap_blocks.erase(it);
    return HeapFree(heap, flags, block);
}

WIN32_STANDIN BOOL user32_SetWindowTextA(HWND hwnd, const char* text) {
    COUNT_CALL("SetWindowTextA");
    return SetWindowTextA(hwnd, text);
}

int crt_errno_value = 0;
void* user_matherr = nullptr;

CRT_STANDIN int* crt_errno() {
    COUNT_CALL("_errno");
    return &crt_errno_value;
}
CRT_STANDIN void crt_setusermatherr(void* handler) {
    COUNT_CALL("__setusermatherr");
    user_matherr = handler;
}
CRT_STANDIN void* crt_memcpy(void* dst, const void* src, size_t n) {
    COUNT_CALL("memcpy");
    const char* d = static_cast<const char*>(dst);
    const char* s = static_cast<const char*>(src);
    if (n && d < s + n && s < d + n) plugin_misuse("memcpy(%p, %p, %zu) with overlapping buffers", dst, src, n);
    return std::memcpy(dst, src, n);
}
CRT_STANDIN void* crt_memmove(void* dst, const void* src, size_t n) {
    COUNT_CALL("memmove");
    return std::memmove(dst, src, n);
}
CRT_STANDIN void* crt_memset(void* dst, int c, size_t n) {
    COUNT_CALL("memset");
    return std::memset(dst, c, n);
}
CRT_STANDIN int crt_memcmp(const void* a, const void* b, size_t n) {
    COUNT_CALL("memcmp");
    return std::memcmp(a, b, n);
}
CRT_STANDIN size_t crt_strlen(const char* s) {
    COUNT_CALL("strlen");
    return std::strlen(s);
}
CRT_STANDIN double crt_floor(double x) {
    COUNT_CALL("floor");
    return std::floor(x);
}
CRT_STANDIN double crt_ceil(double x) {
    COUNT_CALL("ceil");
    return std::ceil(x);
}
// msvcrt's sin and cos are Microsoft's libm: on Windows their last bits need
// not match the libm of the native build (32-bit glibc's do not match 64-bit
// glibc's either), so a plug-in that calls them cannot be proven identical.
// They may be imported as unused entries; calling one stops the run.
[[noreturn]] void refuse_libm_call(const char* name, double x) {
    plugin_misuse(
        "it called msvcrt.dll!%s(%.17g), whose results are Microsoft's libm's and need not match the native "
        "build's bit for bit",
        name, x);
}
CRT_STANDIN double crt_sin(double x) {
    COUNT_CALL("sin");
    refuse_libm_call("sin", x);
}
CRT_STANDIN double crt_cos(double x) {
    COUNT_CALL("cos");
    refuse_libm_call("cos", x);
}
CRT_STANDIN double crt_sqrt(double x) {
    COUNT_CALL("sqrt");
    return std::sqrt(x);
}
CRT_STANDIN double crt_fabs(double x) {
    COUNT_CALL("fabs");
    return std::fabs(x);
}

// Add a row here when the plug-in starts importing something new. Only
// functions whose calling convention and argument layout agree between the
// Windows DLL and 32-bit glibc belong here (no long double, FILE*, or struct
// returns), and only ones whose results are exact in every C library (floor,
// ceil, fabs and sqrt are; sin and cos are not, see above).
StandIn stand_ins[] = {
    {"kernel32.dll", "GetProcessHeap", reinterpret_cast<void*>(k32_GetProcessHeap), 0},
    {"kernel32.dll", "HeapAlloc", reinterpret_cast<void*>(k32_HeapAlloc), 0},
    {"kernel32.dll", "HeapFree", reinterpret_cast<void*>(k32_HeapFree), 0},
    {"user32.dll", "SetWindowTextA", reinterpret_cast<void*>(user32_SetWindowTextA), 0},
    {"msvcrt.dll", "_errno", reinterpret_cast<void*>(crt_errno), 0},
    {"msvcrt.dll", "__setusermatherr", reinterpret_cast<void*>(crt_setusermatherr), 0},
    {"msvcrt.dll", "memcpy", reinterpret_cast<void*>(crt_memcpy), 0},
    {"msvcrt.dll", "memmove", reinterpret_cast<void*>(crt_memmove), 0},
    {"msvcrt.dll", "memset", reinterpret_cast<void*>(crt_memset), 0},
    {"msvcrt.dll", "memcmp", reinterpret_cast<void*>(crt_memcmp), 0},
    {"msvcrt.dll", "strlen", reinterpret_cast<void*>(crt_strlen), 0},
    {"msvcrt.dll", "floor", reinterpret_cast<void*>(crt_floor), 0},
    {"msvcrt.dll", "ceil", reinterpret_cast<void*>(crt_ceil), 0},
    {"msvcrt.dll", "sin", reinterpret_cast<void*>(crt_sin), 0},
    {"msvcrt.dll", "cos", reinterpret_cast<void*>(crt_cos), 0},
    {"msvcrt.dll", "sqrt", reinterpret_cast<void*>(crt_sqrt), 0},
    {"msvcrt.dll", "fabs", reinterpret_cast<void*>(crt_fabs), 0},
};

StandIn* counter(const char* name) {
    for (StandIn& s : stand_ins)
        if (std::strcmp(s.name, name) == 0) return &s;
    std::abort();  // a stand-in missing from its own table
}

}  // namespace

void* stand_in_for(const std::string& dll, const char* name) {
    for (const StandIn& s : stand_ins)
        if (dll == s.dll && std::strcmp(name, s.name) == 0) return s.fn;
    return nullptr;
}

std::vector<StandInCalls> stand_in_calls() {
    std::vector<StandInCalls> v;
    for (const StandIn& s : stand_ins) v.push_back({std::string(s.dll) + "!" + s.name, s.calls});
    return v;
}

}  // namespace pelta_cli
