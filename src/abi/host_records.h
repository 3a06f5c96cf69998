// Records and services of the AviUtl filter-plug-in interface, as the host
// lays them out. On the 32-bit target every int and pointer is one 4-byte
// word and the offsets below are the host's; the static_asserts pin them so a
// layout slip fails the build. Natively (64-bit) the same fields keep their
// order and natural sizes: only the command-line host and the tests use them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/platform.h"

struct PIXEL_YC {
    int16_t y;
    int16_t cb;
    int16_t cr;
};

struct FILTER;
struct FILTER_PROC_INFO;

// Functions a host hands the filter (the EXFUNC services) are called from the
// filter's code. A plug-in built for Windows guarantees the stack 4-byte
// alignment only, while 32-bit Linux code assumes 16: a 32-bit Linux host
// realigns on entry to each service.
#if defined(__i386__) && !defined(_WIN32)
#define PELTA_HOST_SERVICE __attribute__((force_align_arg_pointer))
#else
#define PELTA_HOST_SERVICE
#endif

// Host-service table. pelta calls three of its slots; the others are kept as
// opaque words so the three land where the host puts them.
struct EXFUNC {
    void* slot_0_4[5];
    BOOL (*is_saving)(void* editp);                                       // slot 5
    void* slot_6_43[38];
    BOOL (*set_ycp_filtering_cache_size)(void* fp, int w, int h, int d, int flag);  // slot 44
    void* slot_45_49[5];
    PIXEL_YC* (*get_ycp_filtering_cache_ex)(void* fp, void* editp, int n, int* w, int* h);  // slot 50
    void* slot_51_63[13];
};

// The descriptor handed to the host (FILTER_DLL) and the host's live record of
// the loaded filter (FILTER) share one 35-word layout.
struct FILTER {
    int flag;
    int x;
    int y;
    const char* name;
    int track_n;
    const char* const* track_name;
    const int* track_default;
    const int* track_s;
    const int* track_e;
    int check_n;
    const char* const* check_name;
    const int* check_default;
    BOOL (*func_proc)(FILTER* fp, FILTER_PROC_INFO* fpip);
    BOOL (*func_init)(FILTER* fp);
    BOOL (*func_exit)(FILTER* fp);
    BOOL (*func_update)(FILTER* fp, int status);
    BOOL (*func_WndProc)(HWND hwnd, unsigned int message, uintptr_t wparam, intptr_t lparam,
                         void* editp, FILTER* fp);
    int* track;
    int* check;
    void* ex_data_ptr;
    int ex_data_size;
    const char* information;
    BOOL (*func_save_start)(FILTER* fp, int s, int e, void* editp);
    BOOL (*func_save_end)(FILTER* fp, void* editp);
    EXFUNC* exfunc;
    HWND hwnd;
    void* dll_hinst;
    void* ex_data_def;
    BOOL (*func_is_saveframe)(FILTER* fp, void* editp, int saveno, int frame, int fps,
                              int edit_flag, int inter);
    BOOL (*func_project_load)(FILTER* fp, void* editp, void* data, int size);
    BOOL (*func_project_save)(FILTER* fp, void* editp, void* data, int* size);
    BOOL (*func_modify_title)(FILTER* fp, void* editp, int frame, char* title, int max_title);
    char* dll_path;
    int reserve[2];
};
typedef FILTER FILTER_DLL;

struct FILTER_PROC_INFO {
    int flag;
    PIXEL_YC* ycp_edit;
    PIXEL_YC* ycp_temp;
    int w;
    int h;
    int max_w;
    int max_h;
    int frame;
    int frame_n;
    int org_w;
    int org_h;
    int16_t* audiop;
    int audio_n;
    int audio_ch;
    void* pixelp;
    void* editp;
    int yc_size;
    int line_size;
    int reserve[8];
};

constexpr int FILTER_FLAG_EX_INFORMATION = 0x40000;

static_assert(sizeof(PIXEL_YC) == 6, "PIXEL_YC is three packed 16-bit samples");
static_assert(offsetof(PIXEL_YC, y) == 0 && offsetof(PIXEL_YC, cb) == 2 &&
                  offsetof(PIXEL_YC, cr) == 4,
              "PIXEL_YC sample order");

#if UINTPTR_MAX == 0xFFFFFFFFu
// The host's 32-bit layout, word by word.
#define PELTA_WORD(rec, field, word) \
    static_assert(offsetof(rec, field) == 4 * (word), #rec "." #field " must sit at word " #word)
PELTA_WORD(FILTER, flag, 0);
PELTA_WORD(FILTER, x, 1);
PELTA_WORD(FILTER, y, 2);
PELTA_WORD(FILTER, name, 3);
PELTA_WORD(FILTER, track_n, 4);
PELTA_WORD(FILTER, track_name, 5);
PELTA_WORD(FILTER, track_default, 6);
PELTA_WORD(FILTER, track_s, 7);
PELTA_WORD(FILTER, track_e, 8);
PELTA_WORD(FILTER, check_n, 9);
PELTA_WORD(FILTER, check_name, 10);
PELTA_WORD(FILTER, check_default, 11);
PELTA_WORD(FILTER, func_proc, 12);
PELTA_WORD(FILTER, func_init, 13);
PELTA_WORD(FILTER, func_exit, 14);
PELTA_WORD(FILTER, func_update, 15);
PELTA_WORD(FILTER, func_WndProc, 16);
PELTA_WORD(FILTER, track, 17);
PELTA_WORD(FILTER, check, 18);
PELTA_WORD(FILTER, ex_data_ptr, 19);
PELTA_WORD(FILTER, ex_data_size, 20);
PELTA_WORD(FILTER, information, 21);
PELTA_WORD(FILTER, func_save_start, 22);
PELTA_WORD(FILTER, func_save_end, 23);
PELTA_WORD(FILTER, exfunc, 24);
PELTA_WORD(FILTER, hwnd, 25);
PELTA_WORD(FILTER, dll_hinst, 26);
PELTA_WORD(FILTER, ex_data_def, 27);
PELTA_WORD(FILTER, func_is_saveframe, 28);
PELTA_WORD(FILTER, func_project_load, 29);
PELTA_WORD(FILTER, func_project_save, 30);
PELTA_WORD(FILTER, func_modify_title, 31);
PELTA_WORD(FILTER, dll_path, 32);
PELTA_WORD(FILTER, reserve, 33);
static_assert(sizeof(FILTER) == 140, "FILTER is 35 words");

PELTA_WORD(FILTER_PROC_INFO, flag, 0);
PELTA_WORD(FILTER_PROC_INFO, ycp_edit, 1);
PELTA_WORD(FILTER_PROC_INFO, ycp_temp, 2);
PELTA_WORD(FILTER_PROC_INFO, w, 3);
PELTA_WORD(FILTER_PROC_INFO, h, 4);
PELTA_WORD(FILTER_PROC_INFO, max_w, 5);
PELTA_WORD(FILTER_PROC_INFO, max_h, 6);
PELTA_WORD(FILTER_PROC_INFO, frame, 7);
PELTA_WORD(FILTER_PROC_INFO, frame_n, 8);
PELTA_WORD(FILTER_PROC_INFO, org_w, 9);
PELTA_WORD(FILTER_PROC_INFO, org_h, 10);
PELTA_WORD(FILTER_PROC_INFO, audiop, 11);
PELTA_WORD(FILTER_PROC_INFO, audio_n, 12);
PELTA_WORD(FILTER_PROC_INFO, audio_ch, 13);
PELTA_WORD(FILTER_PROC_INFO, pixelp, 14);
PELTA_WORD(FILTER_PROC_INFO, editp, 15);
PELTA_WORD(FILTER_PROC_INFO, yc_size, 16);
PELTA_WORD(FILTER_PROC_INFO, line_size, 17);
PELTA_WORD(FILTER_PROC_INFO, reserve, 18);
static_assert(sizeof(FILTER_PROC_INFO) == 104, "FILTER_PROC_INFO is 26 words");

PELTA_WORD(EXFUNC, is_saving, 5);
PELTA_WORD(EXFUNC, set_ycp_filtering_cache_size, 44);
PELTA_WORD(EXFUNC, get_ycp_filtering_cache_ex, 50);
static_assert(offsetof(EXFUNC, is_saving) == 20 && offsetof(EXFUNC, set_ycp_filtering_cache_size) == 176 &&
                  offsetof(EXFUNC, get_ycp_filtering_cache_ex) == 200,
              "EXFUNC byte offsets");
#undef PELTA_WORD
#endif
