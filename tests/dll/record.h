// The record stream the DLL check writes: one record per host call (frame
// procedure, settings change, unload), so that two runs of the same scenarios
// (the native library and the loaded pelta.auf) can be compared byte for byte.
// Only fixed-size integer fields: the 32-bit harness and the 64-bit native
// program must write the same bytes.
#pragma once

#include <cstdint>

enum RecordKind : int32_t {
    RECORD_FRAME = 1,   // func_proc; followed by the output frame's pixels
    RECORD_UPDATE = 2,  // func_update
    RECORD_EXIT = 3,    // func_exit
};

constexpr int RECORD_MAX_FETCHES = 24;

struct RecordHeader {
    char tag[4];        // "PREC"
    int32_t kind;       // RecordKind
    char scenario[48];  // scenario name, NUL-padded
    int32_t scenario_index;
    int32_t call_index;                   // position of the call within its scenario
    int32_t frame;                        // frame number (RECORD_FRAME), else -1
    int32_t w, h, max_w;                  // geometry of the pixels that follow (0 when none)
    int32_t result;                       // the callback's BOOL
    int32_t swapped;                      // 1 when ycp_edit came back naming the scratch frame
    int32_t title_calls;                  // SetWindowTextA calls during the callback
    int32_t heap_blocks;                  // live process-heap blocks after the callback
    int32_t cache_requests;               // set_ycp_filtering_cache_size calls
    int32_t cache_args[4];                // their last arguments: w, h, d, flag
    int32_t saving_asks;                  // is_saving calls
    int32_t bad_args;                     // service calls with a foreign fp or editp
    int32_t fetch_n;                      // get_ycp_filtering_cache_ex calls
    int32_t fetches[RECORD_MAX_FETCHES];  // the frame numbers asked for, in order
    char title[256];                      // the title last set on the settings window
    // RECORD_FRAME: then max_w * h pixels of 3 int16 (y, cb, cr), row by row.
};

static_assert(sizeof(RecordHeader) % 4 == 0, "no tail padding that could differ");
