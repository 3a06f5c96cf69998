// Drives the filter as the host does, over a fixed list of scenarios, and
// writes every callback's outcome to a record stream (record.h). The same
// driver is built twice: natively against the plug-in library, and into the
// 32-bit harness that runs the shipped pelta.auf. Only the way the plug-in is
// reached differs, and that is what PluginAccess carries.
#pragma once

#include <cstdio>

#include "abi/host_records.h"

struct PluginAccess {
    const char* what;  // for messages: "native library", "pelta.auf"

    // The plug-in's GetFilterTable, and the three callbacks as the host calls
    // them (through the function pointers of the FILTER record).
    FILTER_DLL* (*get_filter_table)(void);
    BOOL (*call_proc)(FILTER* fp, FILTER_PROC_INFO* fpip);
    BOOL (*call_update)(FILTER* fp, int status);
    BOOL (*call_exit)(FILTER* fp);

    // What the platform stand-ins saw: the last text set on a window (nullptr
    // if none), the number of SetWindowTextA calls so far, and the process
    // heap's live blocks.
    const char* (*window_text)(HWND hwnd);
    long (*window_text_calls)(void);
    int (*heap_live_blocks)(void);

    // Optional (nullptr to skip): whether an address lies in the plug-in's
    // code, or anywhere in its image.
    bool (*in_code)(const void* p);
    bool (*in_image)(const void* p);
};

// Checks the descriptor, runs every scenario and writes the records to out.
// Returns the number of failed checks (0 when all held); each failure is
// described on stderr.
int run_driver(const PluginAccess& plugin, std::FILE* out);
