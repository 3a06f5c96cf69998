#include "pe/pe_loader.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "native/platform_native.h"

namespace pelta_cli {


namespace {

// ---------------------------------------------------------------------------
// Reporting

// A problem with the plug-in file, found while loading it.
struct LoadError {
    std::string what;
};

[[noreturn]] void bad_file(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void bad_file(const char* fmt, ...) {
    char msg[400];
    std::va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    throw LoadError{msg};
}

struct FaultReport {
    const PluginImage* image = nullptr;
    const char* program = "pelta";
    void (*cleanup)() = nullptr;
    int status = 1;
    const char* activity = "the host";
};
FaultReport fault;

void write_stderr(const char* text, size_t n) {
    while (n > 0) {
        const ssize_t w = write(STDERR_FILENO, text, n);
        if (w <= 0) return;
        text += w;
        n -= static_cast<size_t>(w);
    }
}

[[noreturn]] void end_process() {
    if (fault.cleanup) fault.cleanup();
    _exit(fault.status);
}

// The plug-in broke a rule of its stand-ins: one line, then the process ends.
[[noreturn]] void plugin_misuse(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void plugin_misuse(const char* fmt, ...) {
    char msg[600];
    int n = std::snprintf(msg, sizeof msg, "%s: the plug-in failed during %s: ", fault.program, fault.activity);
    if (n < 0) n = 0;
    std::va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg + n, sizeof msg - static_cast<size_t>(n) - 1, fmt, ap);
    va_end(ap);
    std::strcat(msg, "\n");
    write_stderr(msg, std::strlen(msg));
    end_process();
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// ---------------------------------------------------------------------------
// Stand-ins for the plug-in's imports. Win32 functions are stdcall, the C
// runtime is cdecl; 32-bit glibc's functions are called the same way for the
// ones listed. Each realigns its stack on entry: a Windows program may call
// with a stack aligned to 4 bytes only, and glibc's code assumes 16.

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

// ---------------------------------------------------------------------------
// The image

constexpr uint16_t FILE_RELOCS_STRIPPED = 0x0001, FILE_DLL = 0x2000;
constexpr uint32_t SCN_EXECUTE = 0x20000000, SCN_READ = 0x40000000, SCN_WRITE = 0x80000000;
enum { DIR_EXPORT = 0, DIR_IMPORT = 1, DIR_BASERELOC = 5, DIR_TLS = 9 };
enum { REL_ABSOLUTE = 0, REL_HIGHLOW = 3 };
// Far beyond any filter plug-in; keeps a corrupt size from mapping gigabytes.
constexpr uint32_t kMaxImageBytes = 256u << 20;
constexpr int kMaxSections = 96;  // the format's own limit

uint32_t word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

}  // namespace

// Little-endian reads from the file and from the mapped image, each checked
// against the end of what it reads from.
namespace {

uint32_t file_u32(const std::vector<uint8_t>& f, size_t off) {
    if (off + 4 > f.size()) bad_file("is truncated (%zu bytes; the headers need more)", f.size());
    uint32_t v;
    std::memcpy(&v, &f[off], 4);
    return v;
}
uint16_t file_u16(const std::vector<uint8_t>& f, size_t off) {
    if (off + 2 > f.size()) bad_file("is truncated (%zu bytes; the headers need more)", f.size());
    uint16_t v;
    std::memcpy(&v, &f[off], 2);
    return v;
}

struct Mapped {
    uint8_t* base;
    uint32_t size;
    uint8_t* at(uint32_t rva, uint32_t bytes = 1) const {
        if (rva > size || bytes > size - rva) bad_file("refers to RVA 0x%x (+%u), outside its image", rva, bytes);
        return base + rva;
    }
    uint32_t u32(uint32_t rva) const {
        uint32_t v;
        std::memcpy(&v, at(rva, 4), 4);
        return v;
    }
    uint16_t u16(uint32_t rva) const {
        uint16_t v;
        std::memcpy(&v, at(rva, 2), 2);
        return v;
    }
    const char* cstr(uint32_t rva) const {
        const char* s = reinterpret_cast<const char*>(at(rva));
        if (!std::memchr(s, 0, size - rva)) bad_file("has an unterminated name at RVA 0x%x", rva);
        return s;
    }
};

}  // namespace

PluginImage::~PluginImage() {
    detach();
    if (base_) munmap(base_, size_);
}

void PluginImage::read_headers() {
    const std::vector<uint8_t>& f = file_;
    if (f.size() < 2 || f[0] != 'M' || f[1] != 'Z') bad_file("is not a PE file (no MZ header)");
    const uint32_t pe = file_u32(f, 0x3C);
    if (file_u32(f, pe) != 0x00004550) bad_file("is not a PE file (no PE signature)");
    const uint32_t coff = pe + 4;
    const uint16_t machine = file_u16(f, coff);
    if (machine != 0x014C) bad_file("is not a 32-bit x86 (i386) image (machine type 0x%04x)", machine);
    const int nsections = file_u16(f, coff + 2);
    characteristics_ = file_u16(f, coff + 18);
    if (!(characteristics_ & FILE_DLL)) bad_file("is not a DLL (characteristics 0x%04x)", characteristics_);
    const uint32_t opt = coff + 20;
    if (file_u16(f, opt) != 0x010B) bad_file("has no PE32 optional header");
    if (nsections < 1 || nsections > kMaxSections) bad_file("has %d sections", nsections);
    entry_ = file_u32(f, opt + 16);
    preferred_ = file_u32(f, opt + 28);
    const uint32_t section_alignment = file_u32(f, opt + 32);
    size_ = file_u32(f, opt + 56);
    headers_ = file_u32(f, opt + 60);
    if (size_ == 0 || size_ > kMaxImageBytes) bad_file("has an image size of %u bytes", size_);
    if (headers_ > size_ || headers_ > f.size()) bad_file("has headers (%u bytes) larger than the file or the image", headers_);
    const long page = sysconf(_SC_PAGESIZE);
    if (section_alignment % static_cast<uint32_t>(page) != 0)
        bad_file("aligns its sections to %u bytes; only multiples of the %ld-byte page are supported",
                 section_alignment, page);
    const uint32_t ndirs = file_u32(f, opt + 92);
    for (uint32_t i = 0; i < ndirs && i < 16; ++i) {
        dirs_[i][0] = file_u32(f, opt + 96 + 8 * i);
        dirs_[i][1] = file_u32(f, opt + 100 + 8 * i);
    }
    const uint32_t sec = opt + file_u16(f, coff + 16);
    for (int i = 0; i < nsections; ++i) {
        const uint32_t s = sec + 40 * i;
        if (s + 40 > f.size()) bad_file("is truncated (%zu bytes; the section table needs more)", f.size());
        Section section{};
        std::memcpy(section.name, &f[s], 8);
        for (char& c : section.name)  // the name goes into messages
            if (c && (c < 0x20 || c > 0x7E)) c = '?';
        section.vsize = file_u32(f, s + 8);
        section.rva = file_u32(f, s + 12);
        section.raw_size = file_u32(f, s + 16);
        section.raw_ptr = file_u32(f, s + 20);
        section.flags = file_u32(f, s + 36);
        if (section.rva % static_cast<uint32_t>(page) != 0)
            bad_file("has section %s at RVA 0x%x, not on a page boundary", section.name, section.rva);
        const uint64_t span = std::max(section.vsize, section.raw_size);
        if (section.rva < headers_ || section.rva + span > size_)
            bad_file("has section %s outside its image", section.name);
        sections_.push_back(section);
    }
    if (dirs_[DIR_TLS][1] != 0)
        bad_file("has a thread-local storage directory, which this loader does not set up");
}

void PluginImage::map_sections() {
    void* mem = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) bad_file("needs %u bytes of address space, which cannot be mapped", size_);
    base_ = static_cast<uint8_t*>(mem);
    // The headers sit at the image base, as Windows maps them.
    std::memcpy(base_, file_.data(), headers_);
    for (const Section& s : sections_) {
        // Raw data beyond the virtual size is file alignment padding.
        const uint32_t n = s.vsize == 0 ? s.raw_size : std::min(s.raw_size, s.vsize);
        if (n == 0) continue;
        if (s.raw_ptr + static_cast<uint64_t>(n) > file_.size())
            bad_file("is truncated (%zu bytes; section %s needs %llu)", file_.size(), s.name,
                     static_cast<unsigned long long>(s.raw_ptr) + n);
        std::memcpy(base_ + s.rva, &file_[s.raw_ptr], n);
    }
}

void PluginImage::apply_relocations() {
    const Mapped m{base_, size_};
    const uint32_t delta = word(base_) - preferred_;
    uint32_t rva = dirs_[DIR_BASERELOC][0];
    const uint32_t dir_size = dirs_[DIR_BASERELOC][1];
    if (dir_size == 0) {
        // An image without relocations that needs none loads anywhere; one
        // whose relocations were stripped loads only at its preferred address.
        if (delta != 0 && (characteristics_ & FILE_RELOCS_STRIPPED))
            bad_file("has had its base relocations stripped, so it cannot be loaded anywhere but its preferred "
                     "address 0x%08x",
                     preferred_);
        return;
    }
    m.at(rva, dir_size);
    const uint32_t end = rva + dir_size;
    while (rva + 8 <= end) {
        const uint32_t page = m.u32(rva), block = m.u32(rva + 4);
        if (block < 8 || block > end - rva) bad_file("has a malformed base relocation block at RVA 0x%x", rva);
        for (uint32_t e = rva + 8; e + 2 <= rva + block; e += 2) {
            const uint16_t entry = m.u16(e);
            const int type = entry >> 12;
            const uint32_t target = page + (entry & 0xFFF);
            if (type == REL_ABSOLUTE) continue;  // padding
            if (type != REL_HIGHLOW)
                bad_file("has a base relocation of type %d at RVA 0x%x; only type 3 (HIGHLOW) is supported", type,
                         target);
            uint8_t* p = m.at(target, 4);
            uint32_t v;
            std::memcpy(&v, p, 4);
            v += delta;
            std::memcpy(p, &v, 4);
            ++relocations_;
        }
        rva += block;
    }
}

void PluginImage::bind_imports() {
    const Mapped m{base_, size_};
    if (dirs_[DIR_IMPORT][1] == 0) return;
    for (uint32_t d = dirs_[DIR_IMPORT][0];; d += 20) {
        const uint32_t names = m.u32(d), dll_rva = m.u32(d + 12), iat = m.u32(d + 16);
        if (!dll_rva && !iat) break;
        const std::string dll = lower(m.cstr(dll_rva));
        for (uint32_t i = 0;; ++i) {
            const uint32_t thunk = m.u32((names ? names : iat) + 4 * i);
            if (!thunk) break;
            if (thunk & 0x80000000u)
                bad_file("imports %s by ordinal %u; only imports by name are supported", dll.c_str(),
                         thunk & 0xFFFF);
            const char* name = m.cstr(thunk + 2);
            void* fn = nullptr;
            for (const StandIn& s : stand_ins)
                if (dll == s.dll && std::strcmp(name, s.name) == 0) fn = s.fn;
            if (!fn) bad_file("imports %s!%s, for which this loader has no stand-in", dll.c_str(), name);
            const uint32_t addr = word(fn);
            std::memcpy(m.at(iat + 4 * i, 4), &addr, 4);
        }
    }
}

void PluginImage::protect_sections() {
    const uint32_t page = static_cast<uint32_t>(sysconf(_SC_PAGESIZE));
    mprotect(base_, std::min(size_, (headers_ + page - 1) / page * page), PROT_READ);
    for (const Section& s : sections_) {
        const uint32_t len = (std::max(s.vsize, s.raw_size) + page - 1) / page * page;
        if (len == 0) continue;
        const int prot = (s.flags & SCN_READ ? PROT_READ : 0) | (s.flags & SCN_WRITE ? PROT_WRITE : 0) |
                         (s.flags & SCN_EXECUTE ? PROT_EXEC : 0);
        if (mprotect(base_ + s.rva, std::min(len, size_ - s.rva), prot) != 0)
            bad_file("has section %s whose protection cannot be set", s.name);
    }
}

const void* PluginImage::find_export(const char* wanted) const {
    const Mapped m{base_, size_};
    const uint32_t dir = dirs_[DIR_EXPORT][0], dir_size = dirs_[DIR_EXPORT][1];
    if (!dir_size) bad_file("exports nothing, so no function named %s", wanted);
    const uint32_t nfuncs = m.u32(dir + 20), nnames = m.u32(dir + 24);
    const uint32_t funcs = m.u32(dir + 28), names = m.u32(dir + 32), ordinals = m.u32(dir + 36);
    for (uint32_t i = 0; i < nnames; ++i) {
        if (std::strcmp(m.cstr(m.u32(names + 4 * i)), wanted) != 0) continue;
        const uint16_t index = m.u16(ordinals + 2 * i);
        if (index >= nfuncs) bad_file("has a bad ordinal index %u for its export %s", index, wanted);
        const uint32_t rva = m.u32(funcs + 4 * index);
        if (rva >= dir && rva < dir + dir_size) bad_file("forwards its export %s to another DLL", wanted);
        if (!in_code(base_ + rva)) bad_file("exports %s at RVA 0x%x, outside its code", wanted, rva);
        return base_ + rva;
    }
    bad_file("exports no function named %s", wanted);
}

bool PluginImage::load(const std::string& path, const char* export_name, std::string& error) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = std::string("cannot be read: ") + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = "is a directory";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::string("cannot be read: ") + std::strerror(errno);
        return false;
    }
    file_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot be read";
        return false;
    }
    try {
        if (file_.size() > kMaxImageBytes) bad_file("is %zu bytes, far too large for a filter plug-in", file_.size());
        read_headers();
        map_sections();
        apply_relocations();
        bind_imports();
        protect_sections();
        export_ = find_export(export_name);
        if (entry_ && !in_code(base_ + entry_)) bad_file("has its entry point at RVA 0x%x, outside its code", entry_);
    } catch (const LoadError& e) {
        error = e.what;
        if (base_) munmap(base_, size_);
        base_ = nullptr;
        return false;
    }
    file_.clear();
    file_.shrink_to_fit();
    return true;
}

namespace {

using EntryPoint = BOOL(__attribute__((stdcall)) *)(void* instance, uint32_t reason, void* reserved);
constexpr uint32_t DLL_PROCESS_DETACH = 0, DLL_PROCESS_ATTACH = 1;

}  // namespace

bool PluginImage::attach(std::string& error) {
    // A Windows process starts with the x87 unit at 53-bit precision.
    const uint16_t windows_cw = 0x027F;
    __asm__ volatile("fldcw %0" : : "m"(windows_cw));
    if (entry_point()) {
        note_plugin_activity("its entry point (DLL_PROCESS_ATTACH)");
        const BOOL ok = reinterpret_cast<EntryPoint>(entry_point())(base_, DLL_PROCESS_ATTACH, nullptr);
        note_plugin_activity("the host");
        if (!ok) {
            error = "its entry point refused to load it (DLL_PROCESS_ATTACH answered FALSE)";
            return false;
        }
    }
    attached_ = true;
    return true;
}

void PluginImage::detach() {
    if (!attached_) return;
    attached_ = false;
    if (entry_point()) {
        note_plugin_activity("its entry point (DLL_PROCESS_DETACH)");
        reinterpret_cast<EntryPoint>(entry_point())(base_, DLL_PROCESS_DETACH, nullptr);
        note_plugin_activity("the host");
    }
}

bool PluginImage::in_image(const void* p, size_t bytes) const {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    return base_ && b >= base_ && b < base_ + size_ && bytes <= static_cast<size_t>(base_ + size_ - b);
}

bool PluginImage::in_code(const void* p) const {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    for (const Section& s : sections_)
        if ((s.flags & SCN_EXECUTE) && b >= base_ + s.rva && b < base_ + s.rva + std::max(s.vsize, s.raw_size))
            return true;
    return false;
}

std::vector<StandInCalls> stand_in_calls() {
    std::vector<StandInCalls> v;
    for (const StandIn& s : stand_ins) v.push_back({std::string(s.dll) + "!" + s.name, s.calls});
    return v;
}

// ---------------------------------------------------------------------------
// Fault report

namespace {

void on_fault(int sig, siginfo_t* info, void* context) {
    const auto* uc = static_cast<const ucontext_t*>(context);
    const uint32_t eip = static_cast<uint32_t>(uc->uc_mcontext.gregs[REG_EIP]);
    char where[160] = "";
    if (fault.image && fault.image->base() && eip - word(fault.image->base()) < fault.image->size()) {
        const uint32_t rva = eip - word(fault.image->base());
        std::snprintf(where, sizeof where, "in the plug-in's code at RVA 0x%x (address 0x%x as built)", rva,
                      rva + fault.image->preferred_base());
    } else {
        std::snprintf(where, sizeof where, "at 0x%x, outside the plug-in", eip);
    }
    char msg[480];
    const int n = std::snprintf(msg, sizeof msg, "%s: %s during %s, %s (fault address %p)\n", fault.program,
                                strsignal(sig), fault.activity, where, info->si_addr);
    if (n > 0) write_stderr(msg, std::min(static_cast<size_t>(n), sizeof msg - 1));
    end_process();
}

// The fault report must work when the plug-in has used up the stack.
alignas(16) uint8_t fault_stack[64 * 1024];

}  // namespace

void install_fault_report(const PluginImage& image, const char* program, void (*cleanup)(), int status) {
    fault.image = &image;
    fault.program = program;
    fault.cleanup = cleanup;
    fault.status = status;
    stack_t ss{};
    ss.ss_sp = fault_stack;
    ss.ss_size = sizeof fault_stack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa {};
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(sig, &sa, nullptr);
}

void note_plugin_activity(const char* what) { fault.activity = what; }

}  // namespace pelta_cli
