// What the descriptor must hold, shared by the unit tests (the native
// library) and the DLL check (the native library and pelta.auf).
#pragma once

#include <vector>

#include "abi/host_records.h"

namespace expected {

constexpr int kTrackCount = 10;
constexpr int kCheckCount = 5;

// Labels in Shift-JIS, byte for byte.
inline const char* const kTrackLabels[kTrackCount] = {
    "\x8D\xB6", "\x95\x9D", "1/60", "\xE8\x87" "Y", "\xE8\x87" "C",
    "\x8D\x82\x88\xE6", "\x92\x86\x88\xE6", "\x8E\xC8", "freq", "phase",
};
inline const int kTrackDefaults[kTrackCount] = {320, 320, 0, 50, 70, 3, 1, 16, 704, 0};
inline const int kTrackMinima[kTrackCount] = {0, 0, 0, -256, 0, 0, 0, 0, 600, -180};
inline const int kTrackMaxima[kTrackCount] = {2048, 2048, 256, 256, 256, 8, 8, 32, 750, 180};
// The range-display label holds 0x5C (an ASCII backslash) as a trail byte.
inline const char* const kCheckLabels[kCheckCount] = {
    "TFF", "\x94\xCD\x88\xCD\x95\x5C\x8E\xA6", "MONO", "C/Y", "LPF",
};
inline const int kCheckDefaults[kCheckCount] = {1, 0, 0, 0, 1};

// Every field the filter leaves to the host (null or 0), by name, with
// whether it is set.
struct UnsetField {
    const char* name;
    bool set;
};
inline std::vector<UnsetField> unset_fields(const FILTER_DLL* d) {
    std::vector<UnsetField> fields;
    auto add = [&](const char* name, bool set) { fields.push_back(UnsetField{name, set}); };
    add("func_init", d->func_init != nullptr);
    add("func_WndProc", d->func_WndProc != nullptr);
    add("track", d->track != nullptr);
    add("check", d->check != nullptr);
    add("ex_data_ptr", d->ex_data_ptr != nullptr);
    add("ex_data_size", d->ex_data_size != 0);
    add("func_save_start", d->func_save_start != nullptr);
    add("func_save_end", d->func_save_end != nullptr);
    add("exfunc", d->exfunc != nullptr);
    add("hwnd", d->hwnd != nullptr);
    add("dll_hinst", d->dll_hinst != nullptr);
    add("ex_data_def", d->ex_data_def != nullptr);
    add("func_is_saveframe", d->func_is_saveframe != nullptr);
    add("func_project_load", d->func_project_load != nullptr);
    add("func_project_save", d->func_project_save != nullptr);
    add("func_modify_title", d->func_modify_title != nullptr);
    add("dll_path", d->dll_path != nullptr);
    add("reserve[0]", d->reserve[0] != 0);
    add("reserve[1]", d->reserve[1] != 0);
    return fields;
}

}  // namespace expected
