// A well-formed filter plug-in that is not pelta: its descriptor has three
// track bars and no check boxes.
#include "abi/host_records.h"

namespace {

const char* const track_names[3] = {"a", "b", "c"};
const int track_values[3] = {0, 0, 0};
const int track_maxima[3] = {10, 10, 10};

BOOL keep_frame(FILTER* fp, FILTER_PROC_INFO* fpip) {
    (void)fp;
    (void)fpip;
    return TRUE;
}

FILTER_DLL descriptor = {
    .name = "other",
    .track_n = 3,
    .track_name = track_names,
    .track_default = track_values,
    .track_s = track_values,
    .track_e = track_maxima,
    .func_proc = keep_frame,
};

}  // namespace

extern "C" __declspec(dllexport) FILTER_DLL* GetFilterTable(void) { return &descriptor; }
