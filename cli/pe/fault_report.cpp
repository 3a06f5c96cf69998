// The fault report: a fault in the plug-in's code, or its misuse of a
// stand-in, ends the process with one line naming what happened and where.
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "pe/pe_internal.h"
#include "pe/pe_loader.h"

namespace pelta_cli {

using pe_detail::word;

namespace {

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

void pe_detail::plugin_misuse(const char* fmt, ...) {
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
