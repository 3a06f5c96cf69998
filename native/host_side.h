// What every host of the filter does with its records: build its live FILTER
// record from the descriptor, start the settings at the descriptor's
// defaults, and describe a frame in a FILTER_PROC_INFO. The filter itself
// never calls these; the command-line host, the tests and the benchmarks do,
// as the editor would.
#pragma once

#include "abi/host_records.h"

// The host's record of the loaded filter: the descriptor's words, with the
// live settings arrays, the service table and the settings window filled in.
inline FILTER filter_record_for(const FILTER_DLL* desc, int* track, int* check, EXFUNC* exfunc,
                                HWND hwnd) {
    FILTER filter = *desc;
    filter.track = track;
    filter.check = check;
    filter.exfunc = exfunc;
    filter.hwnd = hwnd;
    return filter;
}

// Every track bar and check box at the descriptor's default.
inline void default_settings(const FILTER_DLL* desc, int* track, int* check) {
    for (int i = 0; i < desc->track_n; ++i) track[i] = desc->track_default[i];
    for (int i = 0; i < desc->check_n; ++i) check[i] = desc->check_default[i];
}

// One frame's FILTER_PROC_INFO: w x h pixels, rows max_w apart, frame `frame`
// of a clip of frame_n frames, no scaling and no audio.
inline FILTER_PROC_INFO proc_info_for(PIXEL_YC* edit, PIXEL_YC* temp, int w, int h, int max_w,
                                      int frame, int frame_n, void* editp) {
    FILTER_PROC_INFO fpip{};
    fpip.ycp_edit = edit;
    fpip.ycp_temp = temp;
    fpip.w = w;
    fpip.h = h;
    fpip.max_w = max_w;
    fpip.max_h = h;
    fpip.frame = frame;
    fpip.frame_n = frame_n;
    fpip.org_w = w;
    fpip.org_h = h;
    fpip.editp = editp;
    fpip.yc_size = static_cast<int>(sizeof(PIXEL_YC));
    fpip.line_size = max_w * static_cast<int>(sizeof(PIXEL_YC));
    return fpip;
}
