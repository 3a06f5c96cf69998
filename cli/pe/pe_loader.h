// Loads a 32-bit Windows filter plug-in (a PE DLL such as pelta.auf) into this
// 32-bit x86 Linux process, much as the Windows loader does for the editor:
// maps the image's sections, applies its base relocations, binds every import
// to a stand-in of our own (stdcall GetProcessHeap, HeapAlloc, HeapFree and
// SetWindowTextA, cdecl C runtime functions), sets the sections' page
// protections and finds an export by name. The Win32 stand-ins forward to the
// platform layer's own (abi/platform.h), so native_window_text() and
// native_heap_live_blocks() see what the plug-in did exactly as they see what
// the built-in filter does.
//
// A plug-in file that cannot be loaded is bad input: load() answers false with
// one line naming the problem. A plug-in that misbehaves once running (a
// fault in its code, a double free, a call to a stand-in that must not be
// called) ends the process through the fault report (install_fault_report).
//
// One plug-in per process: the stand-ins and the fault report are module-wide.
// The parts: pe_image.cpp (headers, sections, relocations, imports, export,
// entry point), stand_ins.cpp (the Win32 and C runtime stand-ins) and
// fault_report.cpp.
#pragma once

#if !defined(__i386__)
#error "pe_loader loads 32-bit x86 DLLs and must itself be built for 32-bit x86 (-m32)"
#endif

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "abi/host_records.h"
#include "native/platform_native.h"

namespace pelta_cli {


class PluginImage {
public:
    PluginImage() = default;
    ~PluginImage();  // unmaps the image (after detach(), if attached)
    PluginImage(const PluginImage&) = delete;
    PluginImage& operator=(const PluginImage&) = delete;

    // Reads the DLL at `path` and makes it ready to run, without running any
    // of its code. The file must export `export_name`. On failure answers
    // false with `error` naming the problem as what the file "is" or "has"
    // ("is not a PE file (no MZ header)"): the caller names the file before it.
    bool load(const std::string& path, const char* export_name, std::string& error);

    // Calls the entry point, as Windows does on LoadLibrary and at exit, on
    // this thread's stack. Before the first call the x87 control word is set
    // as a Windows process starts (53-bit precision). attach() answers false
    // with `error` set when the entry point refuses to load.
    bool attach(std::string& error);
    void detach();

    // The export found by load(), and the entry point (stdcall BOOL
    // (HINSTANCE, DWORD reason, LPVOID); nullptr when the image has none).
    const void* export_address() const { return export_; }
    const void* entry_point() const { return entry_ ? base_ + entry_ : nullptr; }

    // Whether [p, p + bytes) lies inside the mapped image, or p inside one of
    // its executable sections.
    bool in_image(const void* p, size_t bytes = 1) const;
    bool in_code(const void* p) const;

    uint8_t* base() const { return base_; }
    uint32_t size() const { return size_; }
    uint32_t preferred_base() const { return preferred_; }
    int relocations() const { return relocations_; }

    struct Section {
        char name[9];
        uint32_t rva, vsize, raw_size, raw_ptr, flags;
    };

private:
    void read_headers();
    void map_sections();
    void apply_relocations();
    void bind_imports();
    void protect_sections();
    const void* find_export(const char* name) const;

    std::vector<uint8_t> file_;
    uint8_t* base_ = nullptr;
    uint32_t size_ = 0;       // SizeOfImage
    uint32_t headers_ = 0;    // SizeOfHeaders
    uint32_t preferred_ = 0;  // ImageBase
    uint32_t entry_ = 0;      // AddressOfEntryPoint (RVA)
    uint16_t characteristics_ = 0;
    uint32_t dirs_[16][2] = {};
    std::vector<Section> sections_;
    int relocations_ = 0;
    const void* export_ = nullptr;
    bool attached_ = false;
};

// The stand-in that an import of `name` from `dll` (lower case) binds to, or
// null when this loader has none.
void* stand_in_for(const std::string& dll, const char* name);

// Calls of each stand-in so far, for reports.
struct StandInCalls {
    std::string name;  // "kernel32.dll!HeapAlloc"
    long calls;
};
std::vector<StandInCalls> stand_in_calls();

// From now on a fault (SIGSEGV, SIGBUS, SIGILL, SIGFPE) or a plug-in's misuse
// of a stand-in prints one line "PROGRAM: ..." on standard error naming what
// happened and where (inside `image`, at which RVA, and the activity last
// noted), runs `cleanup` (async-signal-safe; may be null) and exits with
// status `status`.
void install_fault_report(const PluginImage& image, const char* program, void (*cleanup)(), int status);
// What the process is doing, for the fault report ("func_proc", ...); a
// string that outlives the call.
void note_plugin_activity(const char* what);

}  // namespace pelta_cli
