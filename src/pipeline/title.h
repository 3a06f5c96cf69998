// The settings-window title: "<name> num:<match> comb:<count> comb_th:<threshold>".
#pragma once

#include <cstddef>

namespace pelta {

// The filter's name: the descriptor's name word points here, and every title
// begins with it.
extern const char FILTER_NAME[];

// Size of the title buffer the frame procedure keeps.
constexpr size_t TITLE_BYTES = 256;

// Writes the title into buf (size bytes, size >= 1), cut short if it does not
// fit and always NUL-terminated. Returns the length written.
size_t format_title(char* buf, size_t size, const char* name, int match, int comb, int comb_th);

}  // namespace pelta
