// The plug-in's image: reads the PE headers, maps the sections, applies the
// base relocations, binds the imports to the stand-ins, sets the sections'
// protections, finds the export, and calls the entry point.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "pe/pe_internal.h"
#include "pe/pe_loader.h"

namespace pelta_cli {

using pe_detail::word;

namespace {

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

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

constexpr uint16_t FILE_RELOCS_STRIPPED = 0x0001, FILE_DLL = 0x2000;
constexpr uint32_t SCN_EXECUTE = 0x20000000, SCN_READ = 0x40000000, SCN_WRITE = 0x80000000;
enum { DIR_EXPORT = 0, DIR_IMPORT = 1, DIR_BASERELOC = 5, DIR_TLS = 9 };
enum { REL_ABSOLUTE = 0, REL_HIGHLOW = 3 };
// Far beyond any filter plug-in; keeps a corrupt size from mapping gigabytes.
constexpr uint32_t kMaxImageBytes = 256u << 20;
constexpr int kMaxSections = 96;  // the format's own limit

// Little-endian reads from the file and from the mapped image, each checked
// against the end of what it reads from.
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
            void* fn = stand_in_for(dll, name);
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


}  // namespace pelta_cli
