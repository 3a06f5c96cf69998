#include "window/carrier.h"

#include <cmath>

#include "base/pixel.h"
#include "abi/controls.h"
#include "abi/platform.h"
#include "window/trig.h"

namespace pelta {

namespace {

int16_t* cos_table = nullptr;
int16_t* sin_table = nullptr;
// Initial keys lie outside what their settings can take, so the first build
// always fills (and a fresh allocation always fills whatever the keys say).
int table_width_key = -1;
int freq_key = -1;
int phase_key = 360;
int w_key = -1;

// Amplitudes in Q11 that turn the stored colour differences into the
// weights of composite colour: 2048 * 1.772 / 2.03 and 2048 * 1.402 / 1.14.
constexpr double kCosAmplitude = 1787.7123152709362;
constexpr double kSinAmplitude = 2518.680701754386;

void free_table(int16_t*& table) {
    if (table) HeapFree(GetProcessHeap(), 0, table);
    table = nullptr;
}

// One row's block of max_w * 6 bytes: room for 3 * max_w entries.
int16_t* alloc_table(int max_w) {
    const size_t bytes = static_cast<size_t>(max_w > 0 ? max_w : 0) * sizeof(PIXEL_YC);
    return static_cast<int16_t*>(HeapAlloc(GetProcessHeap(), 0, bytes));
}

}  // namespace

int build_carrier_tables(FILTER* fp, FILTER_PROC_INFO* fpip) {
    const int max_w = fpip->max_w;
    bool fresh = false;
    if (!cos_table || !sin_table || table_width_key != max_w) {
        free_table(cos_table);
        free_table(sin_table);
        cos_table = alloc_table(max_w);
        if (!cos_table) return 0;
        sin_table = alloc_table(max_w);
        if (!sin_table) {
            free_table(cos_table);
            return 0;
        }
        table_width_key = max_w;
        fresh = true;
    }

    const int freq = fp->track[TRACK_FREQ];
    const int phase = fp->track[TRACK_PHASE];
    const int w = fpip->w;
    if (!fresh && phase == phase_key && freq == freq_key && w == w_key) return 1;

    // TRACK_FREQ / 704 * 2 pi * 3.579545 MHz / 13.5 MHz radians per pixel,
    // and TRACK_PHASE degrees in radians.
    const double step = ((freq * 0.0014204545454545455) * 11.245472275194077) * 0.14814814814814814;
    const double phase0 = (phase * 0.005555555555555556) * 3.141592653589793;
    for (int x = 0; x < w; ++x) {
        const double angle = x * step + phase0;
        cos_table[x] = static_cast<int16_t>(std::floor(det_cos(angle) * kCosAmplitude + 0.5));
        sin_table[x] = static_cast<int16_t>(std::floor(det_sin(angle) * kSinAmplitude + 0.5));
    }
    phase_key = phase;
    freq_key = freq;
    w_key = w;
    return 1;
}

void remodulate_chroma(PIXEL_YC* frame, int h, int left, int right, int max_w, int flags) {
    const int t = flags & 1;
    int sign = (flags & 2) ? 1 : -1;
    for (int r = 0; r < h; ++r) {
        // The sign flips before rows of parity t: it changes every second row,
        // and consecutive rows of one field always carry opposite signs.
        if ((r & 1) == t) sign = -sign;
        PIXEL_YC* row = pixel_at(frame, max_w, 0, r);
        for (int x = left; x < right; ++x) {
            PIXEL_YC& p = row[x];
            int32_t u = cos_table[x] * p.cb;
            int32_t v = sin_table[x] * p.cr;
            if (sign < 0) {
                u = -u;
                v = -v;
            }
            const int32_t a = (u + 1024) >> 11;
            const int32_t b = (v + 1024) >> 11;
            p.y = static_cast<int16_t>(p.y + a + b);
            p.cb = 0;
            p.cr = 0;
        }
    }
}

void clear_window_chroma(PIXEL_YC* frame, int h, int left, int right, int max_w) {
    for (int r = 0; r < h; ++r) {
        PIXEL_YC* row = pixel_at(frame, max_w, 0, r);
        for (int x = left; x < right; ++x) {
            row[x].cb = 0;
            row[x].cr = 0;
        }
    }
}

void release_carrier_tables(void) {
    free_table(cos_table);
    free_table(sin_table);
}

CarrierState carrier_state(void) {
    return CarrierState{cos_table, sin_table, table_width_key, freq_key, phase_key, w_key};
}

}  // namespace pelta
