// A 32-bit Linux program that loads pelta.auf with the command-line host's
// loader (cli/pe/pe_loader.h) and drives it as the editor does:
//   pe_harness path/to/pelta.auf OUT.bin
// The loaded plug-in goes to the same driver that the native run uses. Every
// call into the DLL goes through a trampoline that switches to a stack of our
// own whose alignment cycles through 16n, 16n+4, 16n+8 and 16n+12 at the
// call: a host built with another compiler may guarantee 4 bytes only.
#if !defined(__i386__)
#error "pe_harness loads a 32-bit x86 DLL and must itself be built for 32-bit x86 (-m32)"
#endif

#include <cpuid.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "driver.h"
#include "native/platform_native.h"
#include "pe/pe_loader.h"

namespace {

using pelta_cli::PluginImage;

[[noreturn]] void die(const char* fmt, ...) {
    std::va_list ap;
    va_start(ap, fmt);
    std::fputs("pe_harness: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    std::exit(3);
}

PluginImage image;

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
// What the fault report names: the call under way and its stack alignment.
char activity[96];

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
    if (!image.in_code(fn)) die("%s: %p is not in pelta.auf's code", what, fn);
    // At the call instruction esp is 16n + m: m = 0 is the SysV alignment,
    // 4, 8 and 12 are what a Windows host may legitimately pass.
    const int misalignment = static_cast<int>(4 * (call_count++ % 4));
    std::snprintf(activity, sizeof activity, "%s (stack misaligned by %d)", what, misalignment);
    pelta_cli::note_plugin_activity(activity);
    uint8_t* top = dll_stack + sizeof dll_stack - 256;  // 16-aligned
    uint8_t* sp = top + misalignment + 4 * args.size() - 16;
    const uint16_t cw = x87_control();
    const uint32_t csr = mxcsr_control();
    const uint32_t r = call_on_stack(fn, args.begin(), static_cast<int>(args.size()), sp);
    if (x87_control() != cw || mxcsr_control() != csr)
        die("%s changed the floating-point control state (x87 0x%x -> 0x%x, MXCSR 0x%x -> 0x%x)", what, cw,
            x87_control(), csr, mxcsr_control());
    pelta_cli::note_plugin_activity("the harness");
    return r;
}

uint32_t word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

FILTER_DLL* dll_get_filter_table() {
    return reinterpret_cast<FILTER_DLL*>(call_dll(image.export_address(), "GetFilterTable", {}));
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

// Each C runtime stand-in answers as the function it stands in for, so that
// an import bound to the wrong one shows even where pelta.auf's runs never
// call it. Answers the number of wrong answers.
int check_stand_ins() {
    using Math = double(__attribute__((cdecl)) *)(double);
    const struct {
        const char* name;
        double x, want;
    } math[] = {
        {"floor", 2.5, 2.0}, {"floor", -2.5, -3.0}, {"ceil", 2.5, 3.0},
        {"ceil", -2.5, -2.0}, {"sqrt", 2.25, 1.5},  {"fabs", -1.5, 1.5},
    };
    int failures = 0;
    for (const auto& m : math) {
        const auto fn = reinterpret_cast<Math>(pelta_cli::stand_in_for("msvcrt.dll", m.name));
        const double got = fn ? fn(m.x) : -999.0;
        if (got != m.want) {
            std::fprintf(stderr, "pe_harness: the stand-in for msvcrt.dll!%s(%g) answered %g, not %g\n", m.name, m.x,
                         got, m.want);
            ++failures;
        }
    }
    // memmove of overlapping bytes (memcpy's stand-in would refuse them).
    char text[] = "abcdef";
    using Move = void*(__attribute__((cdecl)) *)(void*, const void*, size_t);
    using Length = size_t(__attribute__((cdecl)) *)(const char*);
    reinterpret_cast<Move>(pelta_cli::stand_in_for("msvcrt.dll", "memmove"))(text + 1, text, 3);
    const size_t length = reinterpret_cast<Length>(pelta_cli::stand_in_for("msvcrt.dll", "strlen"))(text);
    if (std::string(text) != "aabcef" || length != 6) {
        std::fprintf(stderr, "pe_harness: the stand-ins for memmove and strlen made '%s' (%zu)\n", text, length);
        ++failures;
    }
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    // --help answers 0: that is how run32 (scripts/run32.sh) tells that this
    // kernel runs the harness.
    const bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
    if (argc != 3) {
        std::fprintf(help ? stdout : stderr, "usage: %s path/to/pelta.auf OUT.bin\n", argv[0]);
        return help ? 0 : 2;
    }
    std::string error;
    if (!image.load(argv[1], "GetFilterTable", error)) die("%s %s", argv[1], error.c_str());
    pelta_cli::install_fault_report(image, "pe_harness", nullptr, 4);
    std::printf(
        "pe_harness: pelta.auf mapped at %p (preferred 0x%08x), %d relocations applied; "
        "the CPU %s AVX2\n",
        static_cast<void*>(image.base()), image.preferred_base(), image.relocations(),
        cpu_offers_avx2() ? "offers" : "lacks");
    std::fflush(stdout);

    // A Windows process starts with the x87 unit at 53-bit precision.
    const uint16_t windows_cw = 0x027F;
    __asm__ volatile("fldcw %0" : : "m"(windows_cw));
    const uint32_t DLL_PROCESS_ATTACH = 1, DLL_PROCESS_DETACH = 0;
    if (call_dll(image.entry_point(), "the entry point (attach)", {word(image.base()), DLL_PROCESS_ATTACH, 0}) != 1)
        die("the entry point did not answer TRUE to DLL_PROCESS_ATTACH");

    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) die("cannot write %s", argv[2]);
    PluginAccess p{};
    p.what = "pelta.auf";
    p.get_filter_table = dll_get_filter_table;
    p.call_proc = dll_call_proc;
    p.call_update = dll_call_update;
    p.call_exit = dll_call_exit;
    p.window_text = native_window_text;
    p.window_text_calls = native_window_text_calls;
    p.heap_live_blocks = native_heap_live_blocks;
    p.in_code = [](const void* ptr) { return image.in_code(ptr); };
    p.in_image = [](const void* ptr) { return image.in_image(ptr); };
    const int failures = check_stand_ins() + run_driver(p, out);
    if (std::fclose(out) != 0) die("cannot write %s", argv[2]);

    if (call_dll(image.entry_point(), "the entry point (detach)", {word(image.base()), DLL_PROCESS_DETACH, 0}) != 1)
        die("the entry point did not answer TRUE to DLL_PROCESS_DETACH");

    std::printf("pe_harness: %u calls into pelta.auf; stand-in calls:", call_count);
    for (const pelta_cli::StandInCalls& s : pelta_cli::stand_in_calls())
        if (s.calls) std::printf(" %s %ld", s.name.c_str(), s.calls);
    std::printf("\n");
    if (failures) std::fprintf(stderr, "pe_harness: %d check(s) failed on pelta.auf\n", failures);
    return failures ? 1 : 0;
}
