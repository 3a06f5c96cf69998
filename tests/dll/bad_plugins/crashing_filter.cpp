// A plug-in with pelta's controls whose frame procedure writes through a null
// pointer: the host must report the fault and leave no output behind.
#include "abi/host_records.h"

namespace {

const char* const track_names[10] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
const int track_values[10] = {};
const int track_maxima[10] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
const char* const check_names[5] = {"0", "1", "2", "3", "4"};
const int check_values[5] = {};

BOOL write_through_null(FILTER* fp, FILTER_PROC_INFO* fpip) {
    (void)fp;
    volatile int* volatile nowhere = nullptr;
    *nowhere = fpip->frame;
    return TRUE;
}

FILTER_DLL descriptor = {
    .name = "crash",
    .track_n = 10,
    .track_name = track_names,
    .track_default = track_values,
    .track_s = track_values,
    .track_e = track_maxima,
    .check_n = 5,
    .check_name = check_names,
    .check_default = check_values,
    .func_proc = write_through_null,
};

}  // namespace

extern "C" __declspec(dllexport) FILTER_DLL* GetFilterTable(void) { return &descriptor; }
