#include "plugin/descriptor.h"

#include "abi/controls.h"
#include "match/match_cache.h"
#include "pelta_version.h"
#include "pipeline/filter_proc.h"
#include "pipeline/title.h"
#include "window/carrier.h"

namespace pelta {
namespace {

// Labels as the host shows them, in Shift-JIS (code page 932), byte for byte.
// Adjacent literals keep a hex escape from swallowing a following letter.
const char* const track_names[TRACK_COUNT] = {
    "\x8D\xB6",          // left
    "\x95\x9D",          // width
    "1/60",              // field shift, sixteenths of a field line
    "\xE8\x87" "Y",      // luma comb threshold
    "\xE8\x87" "C",      // chroma comb threshold
    "\x8D\x82\x88\xE6",  // high band
    "\x92\x86\x88\xE6",  // mid band
    "\x8E\xC8",          // stripe
    "freq",
    "phase",
};
const int track_defaults[TRACK_COUNT] = {320, 320, 0, 50, 70, 3, 1, 16, 704, 0};
const int track_minima[TRACK_COUNT] = {0, 0, 0, -256, 0, 0, 0, 0, 600, -180};
const int track_maxima[TRACK_COUNT] = {2048, 2048, 256, 256, 256, 8, 8, 32, 750, 180};

// "範囲表示" holds the byte 0x5C (an ASCII backslash) as the second byte of
// its third character; it is stored as those bytes, not as an escape.
const char* const check_names[CHECK_COUNT] = {
    "TFF",
    "\x94\xCD\x88\xCD\x95\x5C\x8E\xA6",  // range display
    "MONO",
    "C/Y",
    "LPF",
};
const int check_defaults[CHECK_COUNT] = {1, 0, 0, 0, 1};

// The filter name and the version the build sets: "pelta ver1.2.0 - ...".
const char information_text[] = "pelta ver" PELTA_VERSION " - field matching for interlaced video";

FILTER_DLL descriptor = {
    FILTER_FLAG_EX_INFORMATION,  // flag
    0,                           // x
    0,                           // y
    FILTER_NAME,                 // name
    TRACK_COUNT,                 // track_n
    track_names,
    track_defaults,
    track_minima,
    track_maxima,
    CHECK_COUNT,  // check_n
    check_names,
    check_defaults,
    filter_proc,    // func_proc
    nullptr,        // func_init
    filter_exit,    // func_exit
    filter_update,  // func_update
    nullptr,        // func_WndProc
    nullptr,        // track
    nullptr,        // check
    nullptr,        // ex_data_ptr
    0,              // ex_data_size
    information_text,
    nullptr,  // func_save_start
    nullptr,  // func_save_end
    nullptr,  // exfunc
    nullptr,  // hwnd
    nullptr,  // dll_hinst
    nullptr,  // ex_data_def
    nullptr,  // func_is_saveframe
    nullptr,  // func_project_load
    nullptr,  // func_project_save
    nullptr,  // func_modify_title
    nullptr,  // dll_path
    {0, 0},   // reserve
};

}  // namespace

BOOL filter_exit(FILTER* fp) {
    (void)fp;
    release_carrier_tables();
    return TRUE;
}

BOOL filter_update(FILTER* fp, int status) {
    (void)fp;
    (void)status;
    clear_match_cache();
    return TRUE;
}

const char* filter_name(void) { return descriptor.name; }

}  // namespace pelta

FILTER_DLL* GetFilterTable(void) {
    pelta::clear_match_cache();
    return &pelta::descriptor;
}
