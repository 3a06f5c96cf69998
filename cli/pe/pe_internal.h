// What the loader's parts share inside cli/pe/: the Win32 and C runtime
// stand-ins (stand_ins.cpp), the image (pe_image.cpp) and the fault report
// (fault_report.cpp). pe_loader.h is what the rest of the host sees.
#pragma once

#include <cstdint>

namespace pelta_cli::pe_detail {

// A pointer as the 32-bit address it is.
inline uint32_t word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// The plug-in broke a rule of its stand-ins: one line "PROGRAM: the plug-in
// failed during ACTIVITY: ..." on standard error, then the process ends as the
// fault report ends it.
[[noreturn]] void plugin_misuse(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace pelta_cli::pe_detail
