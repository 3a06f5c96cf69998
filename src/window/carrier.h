// Colour treatments of the processing window: folding chroma back into luma
// on an NTSC colour subcarrier (C/Y), and clearing chroma (MONO). The carrier
// is held in two per-column tables built from sine and cosine and kept
// between frames on the process heap.
#pragma once

#include <cstdint>

#include "abi/host_records.h"

namespace pelta {

// Makes the cos and sin tables hold the carrier for columns 0 .. w-1 at the
// current TRACK_FREQ and TRACK_PHASE, (re)allocating them when absent or
// when max_w changed. Returns 1 when the tables are ready, 0 when allocation
// failed (both tables are then absent and the keys unchanged).
int build_carrier_tables(FILTER* fp, FILTER_PROC_INFO* fpip);

// Adds the window's chroma, modulated onto the carrier, to its luma and
// clears cb and cr there. The carrier sign alternates every second row;
// flags bit 0 is the top-field-first bit, bit 1 is bit 1 of the frame number.
// Needs tables built for this frame by build_carrier_tables.
void remodulate_chroma(PIXEL_YC* frame, int h, int left, int right, int max_w, int flags);

// Sets cb and cr to 0 in columns [left, right) of every row.
void clear_window_chroma(PIXEL_YC* frame, int h, int left, int right, int max_w);

// Frees both tables (each only if present) and marks them absent. The keys
// stay; the next build allocates and fills anew.
void release_carrier_tables(void);

// Read-only views of the carrier state, for tests and diagnostics.
struct CarrierState {
    const int16_t* cos_table;  // nullptr when absent
    const int16_t* sin_table;
    int width_key;   // max_w the tables were allocated for
    int freq_key;    // TRACK_FREQ of the last fill
    int phase_key;   // TRACK_PHASE of the last fill
    int w_key;       // w of the last fill
};
CarrierState carrier_state(void);

}  // namespace pelta
