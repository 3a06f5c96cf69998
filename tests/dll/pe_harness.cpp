// A 32-bit Linux program that loads pelta.auf the way Windows would and drives
// it as the host does:
//   pe_harness path/to/pelta.auf OUT.bin
// It maps the PE image's sections, applies the base relocations, points every
// import at a stand-in of our own (table below; an import without one stops
// the run with its name), runs the DLL's entry point, finds GetFilterTable in
// the export table and hands the loaded plug-in to the same driver that the
// native run uses. Every call into the DLL goes through a trampoline that
// switches to a stack of our own whose alignment cycles through 16n, 16n+4,
// 16n+8 and 16n+12 at the call: a host built with another compiler may
// guarantee 4 bytes only.
#if !defined(__i386__)
#error "pe_harness loads a 32-bit x86 DLL and must itself be built for 32-bit x86 (-m32)"
#endif

#include <cpuid.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "driver.h"

namespace {

[[noreturn]] void die(const char* fmt, ...) {
    std::va_list ap;
    va_start(ap, fmt);
    std::fputs("pe_harness: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    std::exit(3);
}

// ---------------------------------------------------------------------------
// Stand-ins for the DLL's imports. Win32 functions are stdcall, the C runtime
// is cdecl; 32-bit glibc's functions are called the same way for the ones
// listed. Each realigns its stack on entry, since the DLL may call with a
// 4-byte-aligned one.

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

// The process heap: every block handed out, so that a leak, a double free or
// a free of a foreign pointer is caught.
char process_heap_token;
std::map<void*, uint32_t> heap_blocks;
constexpr uint32_t HEAP_ZERO_MEMORY = 0x8;

WIN32_STANDIN void* k32_GetProcessHeap() {
    COUNT_CALL("GetProcessHeap");
    return &process_heap_token;
}
WIN32_STANDIN void* k32_HeapAlloc(void* heap, uint32_t flags, uint32_t bytes) {
    COUNT_CALL("HeapAlloc");
    if (heap != &process_heap_token) die("HeapAlloc on %p, which is not the process heap", heap);
    void* block = std::malloc(bytes ? bytes : 1);
    if (!block) return nullptr;
    // Fresh blocks hold garbage unless zeroing was asked for, as on Windows.
    std::memset(block, flags & HEAP_ZERO_MEMORY ? 0 : 0xCD, bytes);
    heap_blocks[block] = bytes;
    return block;
}
WIN32_STANDIN int k32_HeapFree(void* heap, uint32_t flags, void* block) {
    COUNT_CALL("HeapFree");
    (void)flags;
    if (heap != &process_heap_token) die("HeapFree on %p, which is not the process heap", heap);
    if (!block) return 1;
    auto it = heap_blocks.find(block);
    if (it == heap_blocks.end())
        die("HeapFree(%p): not a live block of the process heap (double free?)", block);
    heap_blocks.erase(it);
    std::free(block);
    return 1;
}

std::map<HWND, std::string> window_texts;
long window_text_count = 0;

WIN32_STANDIN int user32_SetWindowTextA(HWND hwnd, const char* text) {
    COUNT_CALL("SetWindowTextA");
    ++window_text_count;
    window_texts[hwnd] = text ? text : "";
    return 1;
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
    if (n && d < s + n && s < d + n) die("memcpy(%p, %p, %zu) with overlapping buffers", dst, src, n);
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
// glibc's either), so a DLL that calls them cannot be proven identical. They
// are imported today only as unused entries; calling one stops the run.
[[noreturn]] void refuse_libm_call(const char* name, double x) {
    die("pelta.auf called msvcrt.dll!%s(%.17g): its results are Microsoft's libm's, which need not match the "
        "native build's bit for bit; use a sine of the plug-in's own",
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

// Add a row here when the DLL starts importing something new. Only functions
// whose calling convention and argument layout agree between the Windows DLL
// and 32-bit glibc belong here (no long double, FILE*, or struct returns),
// and only ones whose results are exact in every C library (floor, ceil, fabs
// and sqrt are; sin and cos are not, see above).
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
    die("stand-in %s is missing from the table", name);
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// ---------------------------------------------------------------------------
// The PE image

struct Image {
    std::vector<uint8_t> file;
    uint8_t* base = nullptr;
    uint32_t size = 0;       // SizeOfImage
    uint32_t headers = 0;    // SizeOfHeaders
    uint32_t preferred = 0;  // ImageBase
    uint32_t entry = 0;      // AddressOfEntryPoint (RVA)
    uint32_t dirs[16][2] = {};
    struct Section {
        char name[9];
        uint32_t rva, vsize, raw_size, raw_ptr, flags;
    };
    std::vector<Section> sections;
    int relocations = 0;
};

Image image;

constexpr uint32_t SCN_EXECUTE = 0x20000000, SCN_READ = 0x40000000, SCN_WRITE = 0x80000000;
enum { DIR_EXPORT = 0, DIR_IMPORT = 1, DIR_BASERELOC = 5, DIR_TLS = 9 };

uint32_t file_u32(size_t off) {
    if (off + 4 > image.file.size()) die("pelta.auf is truncated (read at byte %zu)", off);
    uint32_t v;
    std::memcpy(&v, &image.file[off], 4);
    return v;
}
uint16_t file_u16(size_t off) {
    if (off + 2 > image.file.size()) die("pelta.auf is truncated (read at byte %zu)", off);
    uint16_t v;
    std::memcpy(&v, &image.file[off], 2);
    return v;
}

// Address of an RVA in the mapped image, checked to leave `bytes` in it.
uint8_t* at(uint32_t rva, uint32_t bytes = 1) {
    if (rva > image.size || bytes > image.size - rva)
        die("RVA 0x%x (+%u) lies outside the image", rva, bytes);
    return image.base + rva;
}
uint32_t u32(uint32_t rva) {
    uint32_t v;
    std::memcpy(&v, at(rva, 4), 4);
    return v;
}
const char* cstr(uint32_t rva) {
    const char* s = reinterpret_cast<const char*>(at(rva));
    if (!std::memchr(s, 0, image.size - rva)) die("unterminated name at RVA 0x%x", rva);
    return s;
}

void read_headers(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) die("cannot open %s", path);
    image.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (file_u16(0) != 0x5A4D) die("%s is not a PE file (no MZ header)", path);
    const uint32_t pe = file_u32(0x3C);
    if (file_u32(pe) != 0x00004550) die("%s has no PE signature", path);
    const uint32_t coff = pe + 4;
    if (file_u16(coff) != 0x014C) die("%s is not an i386 image (machine 0x%x)", path, file_u16(coff));
    const int nsections = file_u16(coff + 2);
    const uint32_t opt = coff + 20;
    const uint16_t chars = file_u16(coff + 18);
    if (!(chars & 0x2000)) die("%s is not a DLL (characteristics 0x%x)", path, chars);
    if (file_u16(opt) != 0x010B) die("%s has no PE32 optional header", path);
    image.entry = file_u32(opt + 16);
    image.preferred = file_u32(opt + 28);
    image.size = file_u32(opt + 56);
    image.headers = file_u32(opt + 60);
    const uint32_t ndirs = file_u32(opt + 92);
    for (uint32_t i = 0; i < ndirs && i < 16; ++i) {
        image.dirs[i][0] = file_u32(opt + 96 + 8 * i);
        image.dirs[i][1] = file_u32(opt + 100 + 8 * i);
    }
    const uint32_t sec = opt + file_u16(coff + 16);
    for (int i = 0; i < nsections; ++i) {
        const uint32_t s = sec + 40 * i;
        Image::Section section{};
        if (s + 40 > image.file.size()) die("section table is truncated");
        std::memcpy(section.name, &image.file[s], 8);
        section.vsize = file_u32(s + 8);
        section.rva = file_u32(s + 12);
        section.raw_size = file_u32(s + 16);
        section.raw_ptr = file_u32(s + 20);
        section.flags = file_u32(s + 36);
        image.sections.push_back(section);
    }
    if (image.dirs[DIR_TLS][1] != 0)
        die("%s has a TLS directory; the harness runs no TLS callbacks and the plug-in must not need them",
            path);
}

void map_sections() {
    void* mem = mmap(nullptr, image.size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) die("cannot map %u bytes for the image", image.size);
    image.base = static_cast<uint8_t*>(mem);
    // The headers sit at the image base, as Windows maps them.
    if (image.headers > image.file.size()) die("the headers lie beyond the end of the file");
    std::memcpy(at(0, image.headers), image.file.data(), image.headers);
    for (const Image::Section& s : image.sections) {
        const uint32_t n = s.raw_size < s.vsize || s.vsize == 0 ? s.raw_size : s.vsize;
        if (s.raw_ptr + static_cast<uint64_t>(n) > image.file.size())
            die("section %s lies beyond the end of the file", s.name);
        std::memcpy(at(s.rva, n), &image.file[s.raw_ptr], n);
    }
}

void apply_relocations() {
    const uint32_t delta = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(image.base)) - image.preferred;
    uint32_t rva = image.dirs[DIR_BASERELOC][0];
    if (delta != 0 && image.dirs[DIR_BASERELOC][1] == 0)
        die("pelta.auf has no base relocations, so it cannot load anywhere but 0x%08x", image.preferred);
    const uint32_t end = rva + image.dirs[DIR_BASERELOC][1];
    while (rva + 8 <= end) {
        const uint32_t page = u32(rva), block = u32(rva + 4);
        if (block < 8) die("malformed relocation block at RVA 0x%x", rva);
        for (uint32_t e = rva + 8; e + 2 <= rva + block; e += 2) {
            uint16_t entry;
            std::memcpy(&entry, at(e, 2), 2);
            const int type = entry >> 12;
            if (type == 0) continue;  // padding
            if (type != 3)
                die("relocation type %d at RVA 0x%x: only HIGHLOW is expected", type, page + (entry & 0xFFF));
            uint32_t v;
            uint8_t* p = at(page + (entry & 0xFFF), 4);
            std::memcpy(&v, p, 4);
            v += delta;
            std::memcpy(p, &v, 4);
            ++image.relocations;
        }
        rva += block;
    }
}

void resolve_imports() {
    for (uint32_t d = image.dirs[DIR_IMPORT][0]; image.dirs[DIR_IMPORT][1] != 0; d += 20) {
        const uint32_t names = u32(d), dll_rva = u32(d + 12), iat = u32(d + 16);
        if (!dll_rva && !iat) break;
        const std::string dll = lower(cstr(dll_rva));
        for (uint32_t i = 0;; ++i) {
            const uint32_t thunk = u32((names ? names : iat) + 4 * i);
            if (!thunk) break;
            if (thunk & 0x80000000u)
                die("pelta.auf imports %s by ordinal %u; expected names only", dll.c_str(), thunk & 0xFFFF);
            const char* name = cstr(thunk + 2);
            void* fn = nullptr;
            for (const StandIn& s : stand_ins)
                if (dll == s.dll && std::strcmp(name, s.name) == 0) fn = s.fn;
            if (!fn)
                die("pelta.auf imports %s!%s, which the harness has no stand-in for; add one to stand_ins in "
                    "pe_harness.cpp",
                    dll.c_str(), name);
            const uint32_t addr = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(fn));
            std::memcpy(at(iat + 4 * i, 4), &addr, 4);
        }
    }
}

void protect_sections() {
    const long page = sysconf(_SC_PAGESIZE);
    mprotect(image.base, static_cast<size_t>(page), PROT_READ);  // headers
    for (const Image::Section& s : image.sections) {
        if (s.rva % page != 0) die("section %s is not page-aligned", s.name);
        const uint32_t len = static_cast<uint32_t>((std::max(s.vsize, s.raw_size) + page - 1) / page * page);
        const int prot = (s.flags & SCN_READ ? PROT_READ : 0) | (s.flags & SCN_WRITE ? PROT_WRITE : 0) |
                         (s.flags & SCN_EXECUTE ? PROT_EXEC : 0);
        if (mprotect(at(s.rva, len), len, prot) != 0) die("mprotect of section %s failed", s.name);
    }
}

void* find_export(const char* wanted) {
    const uint32_t dir = image.dirs[DIR_EXPORT][0], dir_size = image.dirs[DIR_EXPORT][1];
    if (!dir_size) die("pelta.auf has no export table");
    const uint32_t nfuncs = u32(dir + 20), nnames = u32(dir + 24);
    const uint32_t funcs = u32(dir + 28), names = u32(dir + 32), ordinals = u32(dir + 36);
    for (uint32_t i = 0; i < nnames; ++i) {
        if (std::strcmp(cstr(u32(names + 4 * i)), wanted) != 0) continue;
        uint16_t index;
        std::memcpy(&index, at(ordinals + 2 * i, 2), 2);
        if (index >= nfuncs) die("export %s has a bad ordinal index %u", wanted, index);
        const uint32_t rva = u32(funcs + 4 * index);
        if (rva >= dir && rva < dir + dir_size) die("export %s is forwarded to another DLL", wanted);
        return at(rva);
    }
    die("pelta.auf exports no function named %s", wanted);
}

bool in_image(const void* p) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return b >= image.base && b < image.base + image.size;
}

bool in_code(const void* p) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    for (const Image::Section& s : image.sections)
        if ((s.flags & SCN_EXECUTE) && b >= image.base + s.rva && b < image.base + s.rva + s.vsize)
            return true;
    return false;
}

// ---------------------------------------------------------------------------
// Calling into the DLL on a stack of a chosen alignment

extern "C" uint32_t call_on_stack(const void* fn, const uint32_t* args, int nargs, void* sp);
extern "C" uint32_t call_on_stack_saved_esp;
uint32_t call_on_stack_saved_esp;
// Pushes args (last first) on the stack at sp, calls fn, and returns to the
// caller's own stack whatever fn did to esp (cdecl or stdcall) or to the
// registers it should have preserved. Not reentrant (one saved esp): the DLL
// never calls back into a callback of its own.
__asm__(
    ".text\n"
    ".globl call_on_stack\n"
    ".type call_on_stack, @function\n"
    "call_on_stack:\n"
    "  pushl %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl %esp, call_on_stack_saved_esp\n"
    "  movl 20(%esp), %eax\n"  // fn
    "  movl 24(%esp), %esi\n"  // args
    "  movl 28(%esp), %ecx\n"  // nargs
    "  movl 32(%esp), %esp\n"  // the prepared stack
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  cld\n"
    "  call *%eax\n"
    "  movl call_on_stack_saved_esp, %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n"
    ".size call_on_stack, .-call_on_stack\n");

alignas(16) uint8_t dll_stack[1 << 20];
unsigned call_count = 0;
const char* current_call = "loading";
int current_misalignment = 0;

uint16_t x87_control() {
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}
// The MXCSR's control bits (rounding, masks, DAZ, FZ), without the sticky
// exception flags that any arithmetic may raise.
uint32_t mxcsr_control() {
    uint32_t v;
    __asm__ volatile("stmxcsr %0" : "=m"(v));
    return v & ~0x3Fu;
}

uint32_t call_dll(const void* fn, const char* what, std::initializer_list<uint32_t> args) {
    if (!in_code(fn)) die("%s: %p is not in pelta.auf's code", what, fn);
    // At the call instruction esp is 16n + m: m = 0 is the SysV alignment,
    // 4, 8 and 12 are what a Windows host may legitimately pass.
    current_misalignment = static_cast<int>(4 * (call_count++ % 4));
    current_call = what;
    uint8_t* top = dll_stack + sizeof dll_stack - 256;  // 16-aligned
    uint8_t* sp = top + current_misalignment + 4 * args.size() - 16;
    const uint16_t cw = x87_control();
    const uint32_t csr = mxcsr_control();
    const uint32_t r = call_on_stack(fn, args.begin(), static_cast<int>(args.size()), sp);
    if (x87_control() != cw || mxcsr_control() != csr)
        die("%s changed the floating-point control state (x87 0x%x -> 0x%x, MXCSR 0x%x -> 0x%x)", what, cw,
            x87_control(), csr, mxcsr_control());
    current_call = "the harness";
    return r;
}

uint32_t word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

const void* get_filter_table_fn = nullptr;

FILTER_DLL* dll_get_filter_table() {
    return reinterpret_cast<FILTER_DLL*>(call_dll(get_filter_table_fn, "GetFilterTable", {}));
}
BOOL dll_call_proc(FILTER* fp, FILTER_PROC_INFO* fpip) {
    return static_cast<BOOL>(
        call_dll(reinterpret_cast<const void*>(fp->func_proc), "func_proc", {word(fp), word(fpip)}));
}
BOOL dll_call_update(FILTER* fp, int status) {
    return static_cast<BOOL>(call_dll(reinterpret_cast<const void*>(fp->func_update), "func_update",
                                      {word(fp), static_cast<uint32_t>(status)}));
}
BOOL dll_call_exit(FILTER* fp) {
    return static_cast<BOOL>(call_dll(reinterpret_cast<const void*>(fp->func_exit), "func_exit", {word(fp)}));
}
const char* dll_window_text(HWND hwnd) {
    auto it = window_texts.find(hwnd);
    return it == window_texts.end() ? nullptr : it->second.c_str();
}
long dll_window_text_calls() { return window_text_count; }
int dll_heap_live_blocks() { return static_cast<int>(heap_blocks.size()); }

// Whether the DLL will see AVX2 (CPU and OS support), asked the way a
// dispatching plug-in asks: the log then says which of its paths ran.
bool cpu_offers_avx2() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return false;
    unsigned lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    if ((lo & 6) != 6) return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2);
}

// A fault inside the DLL ends the run with a message naming where it was.
void on_fault(int sig, siginfo_t* info, void* context) {
    const auto* uc = static_cast<const ucontext_t*>(context);
    const uint32_t eip = static_cast<uint32_t>(uc->uc_mcontext.gregs[REG_EIP]);
    const uint32_t base = word(image.base);
    char msg[320];
    const int n = std::snprintf(
        msg, sizeof msg, "pe_harness: %s during %s (stack misaligned by %d): eip 0x%x%s, fault address %p\n",
        strsignal(sig), current_call, current_misalignment, eip,
        eip - base < image.size ? " (inside pelta.auf)" : "", info->si_addr);
    if (n > 0) (void)!write(2, msg, static_cast<size_t>(n));
    if (eip - base < image.size) {
        const int m = std::snprintf(msg, sizeof msg, "pe_harness: that is RVA 0x%x, preferred address 0x%x\n",
                                    eip - base, eip - base + image.preferred);
        if (m > 0) (void)!write(2, msg, static_cast<size_t>(m));
    }
    _exit(4);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s path/to/pelta.auf OUT.bin\n", argv[0]);
        return 2;
    }
    struct sigaction sa {};
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO;
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(sig, &sa, nullptr);

    // A Windows process starts with the x87 unit at 53-bit precision.
    const uint16_t windows_cw = 0x027F;
    __asm__ volatile("fldcw %0" : : "m"(windows_cw));

    read_headers(argv[1]);
    map_sections();
    apply_relocations();
    resolve_imports();
    protect_sections();
    std::printf(
        "pe_harness: pelta.auf mapped at %p (preferred 0x%08x), %d relocations applied; "
        "the CPU %s AVX2\n",
        static_cast<void*>(image.base), image.preferred, image.relocations,
        cpu_offers_avx2() ? "offers" : "lacks");
    std::fflush(stdout);

    const uint32_t DLL_PROCESS_ATTACH = 1, DLL_PROCESS_DETACH = 0;
    if (call_dll(image.base + image.entry, "the entry point (attach)",
                 {word(image.base), DLL_PROCESS_ATTACH, 0}) != 1)
        die("the entry point did not answer TRUE to DLL_PROCESS_ATTACH");
    get_filter_table_fn = find_export("GetFilterTable");

    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) die("cannot write %s", argv[2]);
    PluginAccess p{};
    p.what = "pelta.auf";
    p.get_filter_table = dll_get_filter_table;
    p.call_proc = dll_call_proc;
    p.call_update = dll_call_update;
    p.call_exit = dll_call_exit;
    p.window_text = dll_window_text;
    p.window_text_calls = dll_window_text_calls;
    p.heap_live_blocks = dll_heap_live_blocks;
    p.in_code = in_code;
    p.in_image = in_image;
    const int failures = run_driver(p, out);
    if (std::fclose(out) != 0) die("cannot write %s", argv[2]);

    if (call_dll(image.base + image.entry, "the entry point (detach)",
                 {word(image.base), DLL_PROCESS_DETACH, 0}) != 1)
        die("the entry point did not answer TRUE to DLL_PROCESS_DETACH");

    std::printf("pe_harness: %u calls into pelta.auf; stand-in calls:", call_count);
    for (const StandIn& s : stand_ins)
        if (s.calls) std::printf(" %s %ld", s.name, s.calls);
    std::printf("\n");
    if (failures) std::fprintf(stderr, "pe_harness: %d check(s) failed on pelta.auf\n", failures);
    return failures ? 1 : 0;
}
