// The filter descriptor and the entry points the host calls.
#pragma once

#include "abi/host_records.h"

#if defined(_WIN32) && !defined(PELTA_NATIVE_HOST)
#define PELTA_EXPORT extern "C" __declspec(dllexport)
#else
#define PELTA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The library's one export: empties the match cache and returns the static
// descriptor (the same address on every call).
PELTA_EXPORT FILTER_DLL* GetFilterTable(void);

namespace pelta {

// Unload handler: releases the carrier tables. Always TRUE.
BOOL filter_exit(FILTER* fp);

// Settings-change handler: empties the match cache. Always TRUE.
BOOL filter_update(FILTER* fp, int status);

// The filter's name string, as stored in the descriptor.
const char* filter_name(void);

}  // namespace pelta
