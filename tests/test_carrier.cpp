// The window's colour treatments: the subcarrier tables and their lifecycle
// on the process heap, chroma folded into luma (C/Y), chroma cleared (MONO),
// and where the frame procedure runs them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "host_rig.h"
#include "native/platform_native.h"
#include "plugin/descriptor.h"
#include "window/carrier.h"

using namespace pelta;

namespace {

constexpr double kCosAmp = 2048.0 * 1.772 / 2.03;
constexpr double kSinAmp = 2048.0 * 1.402 / 1.14;

// The carrier angle of column x: TRACK_FREQ / 704 of the NTSC subcarrier
// (3.579545 MHz) sampled at 13.5 MHz, starting at TRACK_PHASE degrees.
double carrier_step(int freq) { return ((freq * 0.0014204545454545455) * 11.245472275194077) * 0.14814814814814814; }
double carrier_phase(int phase) { return (phase * 0.005555555555555556) * 3.141592653589793; }
int16_t cos_entry(double angle) { return static_cast<int16_t>(std::floor(std::cos(angle) * kCosAmp + 0.5)); }
int16_t sin_entry(double angle) { return static_cast<int16_t>(std::floor(std::sin(angle) * kSinAmp + 0.5)); }

// The records build_carrier_tables reads.
struct Rig : StageRecords {
    Rig(int w, int max_w, int freq = 704, int phase = 0) : StageRecords(w, 4, max_w) { set(w, max_w, freq, phase); }
    void set(int w, int max_w, int freq, int phase) {
        fpip.w = w;
        fpip.max_w = max_w;
        track[TRACK_FREQ] = freq;
        track[TRACK_PHASE] = phase;
    }
    int build() { return build_carrier_tables(&fp, &fpip); }
};

using Table = std::vector<int16_t>;

// The first n entries of the filter's cos or sin table (empty when absent).
Table cos_now(int n) {
    const int16_t* t = carrier_state().cos_table;
    return t ? Table(t, t + n) : Table{};
}
Table sin_now(int n) {
    const int16_t* t = carrier_state().sin_table;
    return t ? Table(t, t + n) : Table{};
}

// The tables' first n entries as they must be for TRACK_FREQ and TRACK_PHASE.
Table expected_cos(int freq, int phase, int n) {
    Table v(n);
    for (int x = 0; x < n; ++x) v[x] = cos_entry(x * carrier_step(freq) + carrier_phase(phase));
    return v;
}
Table expected_sin(int freq, int phase, int n) {
    Table v(n);
    for (int x = 0; x < n; ++x) v[x] = sin_entry(x * carrier_step(freq) + carrier_phase(phase));
    return v;
}
::testing::AssertionResult tables_hold(int freq, int phase, int n) {
    if (cos_now(n) == expected_cos(freq, phase, n) && sin_now(n) == expected_sin(freq, phase, n))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "tables not those of TRACK_FREQ " << freq << ", TRACK_PHASE " << phase
                                         << " over " << n << " columns";
}

// Overwrites every entry of both blocks (3 * max_w each, the room a block
// of max_w * 6 bytes holds) so a fill that did not happen shows.
void scribble_tables(int max_w) {
    CarrierState st = carrier_state();
    ASSERT_NE(st.cos_table, nullptr);
    ASSERT_NE(st.sin_table, nullptr);
    auto* c = const_cast<int16_t*>(st.cos_table);
    auto* s = const_cast<int16_t*>(st.sin_table);
    for (int i = 0; i < 3 * max_w; ++i) c[i] = s[i] = 0x7777;
}

Table first(std::initializer_list<int> v) { return Table(v.begin(), v.end()); }

bool absent() { return !carrier_state().cos_table && !carrier_state().sin_table; }

bool same_keys(const CarrierState& a, const CarrierState& b) {
    return a.width_key == b.width_key && a.freq_key == b.freq_key && a.phase_key == b.phase_key && a.w_key == b.w_key;
}

// Every test starts from absent tables, and leaves them absent with no
// pending heap failure.
class Carrier : public ::testing::Test {
protected:
    void SetUp() override {
        native_heap_fail_after(-1);
        release_carrier_tables();
    }
    void TearDown() override {
        native_heap_fail_after(-1);
        release_carrier_tables();
    }
};

// ---------------------------------------------------------------- table values

TEST_F(Carrier, TableValuesAtTheNtscFrequency) {
    Rig rig(720, 720, 704, 0);
    ASSERT_EQ(rig.build(), 1);
    EXPECT_EQ(cos_now(6), first({1788, -170, -1755, 504, 1660, -819}));
    EXPECT_EQ(sin_now(6), first({0, 2507, -477, -2417, 936, 2239}));
    rig.set(720, 720, 704, 90);
    ASSERT_EQ(rig.build(), 1);
    EXPECT_EQ(cos_now(3), first({0, -1780, 338}));
    EXPECT_EQ(sin_now(3), first({2519, -239, -2473}));
}

TEST_F(Carrier, StepAtTheEndsOfTheFrequencyRange) {
    // 600 and 750: 1.4198828630295552 and 1.774853578786944 radians per pixel.
    const struct {
        int freq;
        double step;
    } ends[] = {{600, 1.4198828630295552}, {750, 1.774853578786944}};
    Rig rig(64, 64);
    for (const auto& e : ends) {
        rig.set(64, 64, e.freq, 0);
        ASSERT_EQ(rig.build(), 1);
        const auto c = cos_now(64), s = sin_now(64);
        for (int x = 0; x < 64; ++x) {
            EXPECT_EQ(c[x], cos_entry(x * e.step)) << "TRACK_FREQ " << e.freq << " x " << x;
            EXPECT_EQ(s[x], sin_entry(x * e.step)) << "TRACK_FREQ " << e.freq << " x " << x;
        }
    }
}

TEST_F(Carrier, EveryFrequencyAndPhaseOverAFullRow) {
    Rig rig(720, 720);
    for (int freq = 600; freq <= 750; ++freq) {
        for (int phase : {0, -180, 37, 90, 180}) {
            rig.set(720, 720, freq, phase);
            ASSERT_EQ(rig.build(), 1);
            if (phase == 0) {
                EXPECT_EQ(carrier_state().cos_table[0], 1788) << "TRACK_FREQ " << freq;
                EXPECT_EQ(carrier_state().sin_table[0], 0) << "TRACK_FREQ " << freq;
            }
            ASSERT_TRUE(tables_hold(freq, phase, 720)) << "TRACK_FREQ " << freq << " TRACK_PHASE " << phase;
        }
    }
}

TEST_F(Carrier, HalfTurnPhasesAgreeAndInvertPhaseZero) {
    for (int freq : {600, 704, 750}) {
        Rig rig(720, 720, freq, 0);
        ASSERT_EQ(rig.build(), 1);
        const auto c0 = cos_now(720), s0 = sin_now(720);
        rig.set(720, 720, freq, 180);
        ASSERT_EQ(rig.build(), 1);
        const auto c180 = cos_now(720), s180 = sin_now(720);
        rig.set(720, 720, freq, -180);
        ASSERT_EQ(rig.build(), 1);
        EXPECT_EQ(cos_now(720), c180) << "TRACK_FREQ " << freq;
        EXPECT_EQ(sin_now(720), s180) << "TRACK_FREQ " << freq;
        for (int x = 0; x < 720; ++x) {
            ASSERT_EQ(c180[x], -c0[x]) << "TRACK_FREQ " << freq << " x " << x;
            ASSERT_EQ(s180[x], -s0[x]) << "TRACK_FREQ " << freq << " x " << x;
        }
    }
}

// ---------------------------------------------------------------- lifecycle on the heap

TEST_F(Carrier, RefillsInPlaceAndReallocatesOnlyForANewStride) {
    const int live0 = native_heap_live_blocks();
    const long allocs0 = native_heap_alloc_count();
    Rig rig(32, 40, 704, 0);
    ASSERT_EQ(rig.build(), 1);
    EXPECT_EQ(native_heap_alloc_count(), allocs0 + 2);
    EXPECT_EQ(native_heap_live_blocks(), live0 + 2);
    const CarrierState st0 = carrier_state();
    EXPECT_EQ(st0.width_key, 40);
    EXPECT_EQ(st0.freq_key, 704);
    EXPECT_EQ(st0.phase_key, 0);
    EXPECT_EQ(st0.w_key, 32);

    // Nothing changed: no work at all.
    scribble_tables(40);
    ASSERT_EQ(rig.build(), 1);
    EXPECT_EQ(cos_now(1), first({0x7777})) << "tables refilled though nothing changed";

    struct Change {
        int w, freq, phase;
    };
    for (Change c : {Change{32, 650, 0}, Change{32, 650, -45}, Change{36, 650, -45}, Change{40, 650, -45},
                     Change{12, 650, -45}, Change{12, 704, -45}}) {
        scribble_tables(40);
        rig.set(c.w, 40, c.freq, c.phase);
        ASSERT_EQ(rig.build(), 1);
        const CarrierState st = carrier_state();
        EXPECT_EQ(st.cos_table, st0.cos_table) << "reallocated for w " << c.w;
        EXPECT_EQ(st.sin_table, st0.sin_table);
        EXPECT_EQ(native_heap_alloc_count(), allocs0 + 2);
        EXPECT_TRUE(tables_hold(c.freq, c.phase, c.w)) << "w " << c.w << " freq " << c.freq;
        EXPECT_EQ(st.freq_key, c.freq);
        EXPECT_EQ(st.phase_key, c.phase);
        EXPECT_EQ(st.w_key, c.w);
    }

    // A new max_w: new blocks, filled although TRACK_FREQ, TRACK_PHASE and w
    // are those of the last fill.
    const long frees0 = native_heap_free_count();
    scribble_tables(40);
    rig.set(12, 48, 704, -45);
    ASSERT_EQ(rig.build(), 1);
    EXPECT_EQ(native_heap_alloc_count(), allocs0 + 4);
    EXPECT_EQ(native_heap_free_count(), frees0 + 2);
    EXPECT_EQ(native_heap_live_blocks(), live0 + 2);
    EXPECT_EQ(carrier_state().width_key, 48);
    EXPECT_TRUE(tables_hold(704, -45, 12));
    scribble_tables(48);  // each block holds 3 * max_w entries

    release_carrier_tables();
    EXPECT_EQ(native_heap_live_blocks(), live0);
}

TEST_F(Carrier, FailedFirstBlockLeavesBothAbsentAndTheNextCallBuilds) {
    const int live0 = native_heap_live_blocks();
    Rig rig(30, 32, 704, 0);
    ASSERT_EQ(rig.build(), 1);
    const CarrierState before = carrier_state();
    // A stride change needs new blocks; the first allocation fails.
    rig.set(30, 36, 704, 0);
    native_heap_fail_after(0);
    EXPECT_EQ(rig.build(), 0);
    EXPECT_TRUE(absent());
    EXPECT_TRUE(same_keys(carrier_state(), before));
    EXPECT_EQ(native_heap_live_blocks(), live0);
    // Back at the stride of the keys: absent tables are still allocated and filled.
    rig.set(30, 32, 704, 0);
    const long allocs = native_heap_alloc_count();
    ASSERT_EQ(rig.build(), 1);
    EXPECT_EQ(native_heap_alloc_count(), allocs + 2);
    EXPECT_TRUE(tables_hold(704, 0, 30));
    EXPECT_EQ(native_heap_live_blocks(), live0 + 2);
}

TEST_F(Carrier, FailedSecondBlockFreesTheFirst) {
    const int live0 = native_heap_live_blocks();
    Rig rig(30, 32, 704, 0);
    native_heap_fail_after(1);
    EXPECT_EQ(rig.build(), 0);
    EXPECT_TRUE(absent());
    EXPECT_EQ(native_heap_live_blocks(), live0);
    ASSERT_EQ(rig.build(), 1);
    EXPECT_TRUE(tables_hold(704, 0, 30));

    // The same with tables present for another stride.
    rig.set(30, 64, 704, 0);
    native_heap_fail_after(1);
    EXPECT_EQ(rig.build(), 0);
    EXPECT_TRUE(absent());
    EXPECT_EQ(native_heap_live_blocks(), live0);
    ASSERT_EQ(rig.build(), 1);
    EXPECT_EQ(native_heap_live_blocks(), live0 + 2);
    EXPECT_EQ(carrier_state().width_key, 64);
}

TEST_F(Carrier, UnloadFreesBothAndTheNextBuildFillsAgain) {
    const int live0 = native_heap_live_blocks();
    Rig rig(50, 56, 680, 30);
    ASSERT_EQ(rig.build(), 1);
    EXPECT_EQ(native_heap_live_blocks(), live0 + 2);
    scribble_tables(56);
    const long frees = native_heap_free_count();
    EXPECT_EQ(filter_exit(&rig.fp), TRUE);
    EXPECT_TRUE(absent());
    EXPECT_EQ(native_heap_free_count(), frees + 2);
    EXPECT_EQ(native_heap_live_blocks(), live0);
    // A second unload has nothing to free.
    EXPECT_EQ(filter_exit(&rig.fp), TRUE);
    EXPECT_EQ(native_heap_free_count(), frees + 2);
    // Same settings and stride as before: the keys match, the tables are
    // still allocated and filled.
    const long allocs = native_heap_alloc_count();
    ASSERT_EQ(rig.build(), 1);
    EXPECT_EQ(native_heap_alloc_count(), allocs + 2);
    EXPECT_TRUE(tables_hold(680, 30, 50));
}

// ---------------------------------------------------------------- remodulation and clearing

// Luma after folding in p's colour with carrier entries c, s and the row's sign,
// each product rounded down after adding a half: luma wraps in 16 bits.
int16_t remodulated(const PIXEL_YC& p, int sign, int c, int s) {
    const int a = static_cast<int>(std::floor((sign * c * p.cb + 1024) / 2048.0));
    const int b = static_cast<int>(std::floor((sign * s * p.cr + 1024) / 2048.0));
    return static_cast<int16_t>(p.y + a + b);
}

// Carrier sign by row for flags = TFF bit | (frame & 2): rows 0..7, repeating.
int carrier_sign(int flags, int row) {
    static const int sign[4][8] = {
        {+1, +1, -1, -1, +1, +1, -1, -1},  // TFF 0, frame & 2 = 0
        {-1, +1, +1, -1, -1, +1, +1, -1},  // TFF 1, frame & 2 = 0
        {-1, -1, +1, +1, -1, -1, +1, +1},  // TFF 0, frame & 2 = 2
        {+1, -1, -1, +1, +1, -1, -1, +1},  // TFF 1, frame & 2 = 2
    };
    return sign[flags & 3][row % 8];
}

TEST_F(Carrier, SignPatternOfTheFourFlagSettings) {
    // Column 0 at phase 0: cos 1788, sin 0. cb = 2048 moves luma by 1788
    // either way; cb = 1 by 1; cb = 256 (an exact half) by +224 or -223, the
    // sign being applied before the rounding.
    Rig rig(4, 4, 704, 0);
    ASSERT_EQ(rig.build(), 1);
    const int h = 12, mw = 4;
    for (int flags = 0; flags < 4; ++flags) {
        for (int cb : {2048, 1, 256}) {
            std::vector<PIXEL_YC> frame(h * mw);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < mw; ++x) frame[y * mw + x] = px(1000 + y, x == 0 ? cb : 5, x == 0 ? 0 : 6);
            const auto before = frame;
            remodulate_chroma(frame.data(), h, 0, 1, mw, flags);
            for (int y = 0; y < h; ++y) {
                const int s = carrier_sign(flags, y);
                const int gain = cb == 2048 ? 1788 : cb == 1 ? 1 : (s > 0 ? 224 : 223);
                EXPECT_EQ(frame[y * mw].y, 1000 + y + s * gain) << "flags " << flags << " row " << y << " cb " << cb;
                EXPECT_EQ(frame[y * mw].cb, 0);
                EXPECT_EQ(frame[y * mw].cr, 0);
                for (int x = 1; x < mw; ++x) {
                    EXPECT_EQ(frame[y * mw + x].y, before[y * mw + x].y) << "outside the window";
                    EXPECT_EQ(frame[y * mw + x].cb, 5);
                    EXPECT_EQ(frame[y * mw + x].cr, 6);
                }
            }
        }
    }
}

TEST_F(Carrier, RemodulationUsesTheFrameColumnsCarrier) {
    // A window away from the left edge takes the table entries of its own
    // frame columns; luma wraps in 16 bits; colourless pixels keep their luma.
    const struct {
        int w, mw, h, left, right, freq, phase;
        bool colour;
    } configs[] = {{40, 44, 9, 13, 31, 720, 60, true}, {30, 30, 7, 0, 30, 704, 17, false}};
    std::mt19937 rng(31);
    for (const auto& k : configs) {
        const int mw = k.mw;
        Rig rig(k.w, mw, k.freq, k.phase);
        ASSERT_EQ(rig.build(), 1);
        const auto c = cos_now(k.w), sn = sin_now(k.w);
        std::uniform_int_distribution<int> luma(-32768, 32767), chroma(k.colour ? -2048 : 0, k.colour ? 2048 : 0);
        for (int flags = 0; flags < 4; ++flags) {
            std::vector<PIXEL_YC> frame(k.h * mw);
            for (PIXEL_YC& p : frame) p = px(luma(rng), chroma(rng), chroma(rng));
            const auto before = frame;
            remodulate_chroma(frame.data(), k.h, k.left, k.right, mw, flags);
            if (!k.colour) {
                EXPECT_TRUE(same_pixels(before, frame)) << "flags " << flags;
            }
            for (int y = 0; y < k.h; ++y) {
                const int s = carrier_sign(flags, y);
                for (int x = 0; x < mw; ++x) {
                    const PIXEL_YC& b = before[y * mw + x];
                    const PIXEL_YC& g = frame[y * mw + x];
                    if (x < k.left || x >= k.right) {
                        EXPECT_TRUE(g.y == b.y && g.cb == b.cb && g.cr == b.cr) << "row " << y << " column " << x;
                        continue;
                    }
                    EXPECT_EQ(g.y, remodulated(b, s, c[x], sn[x]))
                        << "flags " << flags << " row " << y << " column " << x;
                    EXPECT_EQ(g.cb, 0);
                    EXPECT_EQ(g.cr, 0);
                }
            }
        }
    }
}

TEST_F(Carrier, EmptyWindowOrNoRowsChangeNothing) {
    const int w = 20, mw = 22, h = 6;
    Rig rig(w, mw, 704, 0);
    ASSERT_EQ(rig.build(), 1);
    std::mt19937 rng(41);
    std::uniform_int_distribution<int> any(-2048, 2048);
    std::vector<PIXEL_YC> frame(h * mw);
    for (PIXEL_YC& p : frame) p = px(any(rng) + 2048, any(rng), any(rng));
    const auto before = frame;
    struct Win {
        int left, right;
    };
    for (Win win : {Win{5, 5}, Win{0, 0}, Win{20, 20}, Win{9, 4}, Win{20, 0}}) {
        for (int flags = 0; flags < 4; ++flags) remodulate_chroma(frame.data(), h, win.left, win.right, mw, flags);
        clear_window_chroma(frame.data(), h, win.left, win.right, mw);
        EXPECT_TRUE(same_pixels(before, frame)) << "window " << win.left << ".." << win.right;
    }
    // h = 0: a frame pointer whose first row is not to be touched.
    for (int flags = 0; flags < 4; ++flags) remodulate_chroma(frame.data(), 0, 0, w, mw, flags);
    clear_window_chroma(frame.data(), 0, 0, w, mw);
    EXPECT_TRUE(same_pixels(before, frame));
}

TEST_F(Carrier, ClearingTouchesOnlyTheWindowsColour) {
    const int mw = 22, h = 5;
    std::mt19937 rng(43);
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::vector<PIXEL_YC> frame(h * mw);
    for (PIXEL_YC& p : frame) p = px(any(rng), any(rng) | 1, any(rng) | 1);
    const auto before = frame;
    clear_window_chroma(frame.data(), h, 3, 11, mw);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < mw; ++x) {
            const PIXEL_YC& b = before[y * mw + x];
            const PIXEL_YC& g = frame[y * mw + x];
            const bool in = x >= 3 && x < 11;
            EXPECT_EQ(g.y, b.y);
            EXPECT_EQ(g.cb, in ? 0 : b.cb) << "row " << y << " column " << x;
            EXPECT_EQ(g.cr, in ? 0 : b.cr) << "row " << y << " column " << x;
        }
}

// ---------------------------------------------------------------- inside the frame procedure

// One frame through the filter with the given colour switches; returns the
// output frame and the scratch frame the host is left with.
struct Result {
    BOOL ok;
    Frame out, scratch;
};
Result run_frame(TestHost& host, int f, bool cy, bool mono) {
    host.check[CHECK_CY] = cy ? 1 : 0;
    host.check[CHECK_MONO] = mono ? 1 : 0;
    Result r;
    r.ok = host.run(f);
    r.out = host.output_pixels();
    r.scratch.assign(host.fpip.ycp_temp, host.fpip.ycp_temp + host.frame_pixels());
    return r;
}

struct Window {
    int left, right;
};

// Columns outside [left, right) identical in a and b, every row, the
// columns beyond w included.
::testing::AssertionResult same_outside(const Frame& a, const Frame& b, int max_w, Window win) {
    for (size_t i = 0; i < a.size(); ++i) {
        const int x = static_cast<int>(i % max_w);
        if ((x < win.left || x >= win.right) && (a[i].y != b[i].y || a[i].cb != b[i].cb || a[i].cr != b[i].cr))
            return ::testing::AssertionFailure() << "differs at row " << i / max_w << " column " << x;
    }
    return ::testing::AssertionSuccess();
}

// No colour left in the window's columns of any row.
::testing::AssertionResult colourless(const Frame& f, int max_w, Window win) {
    for (size_t i = 0; i < f.size(); ++i) {
        const int x = static_cast<int>(i % max_w);
        if (x >= win.left && x < win.right && (f[i].cb != 0 || f[i].cr != 0))
            return ::testing::AssertionFailure() << "colour at row " << i / max_w << " column " << x;
    }
    return ::testing::AssertionSuccess();
}

class CarrierInPipeline : public Carrier {
protected:
    static void setup(TestHost& host, int left, int width, int shift) {
        host.fill_random(1234);
        host.check[CHECK_LPF] = 0;
        host.track[TRACK_LEFT] = left;
        host.track[TRACK_WIDTH] = width;
        host.track[TRACK_SHIFT] = shift;
    }
};

TEST_F(CarrierInPipeline, WindowLosesItsColourAndNothingElseChanges) {
    const int w = 40, h = 12;
    TestHost host(w, h, 8);
    const Window win{10, 26};
    for (int shift : {0, 5, 16, 8}) {
        for (int tff : {0, 1}) {
            for (int f : {0, 1, 2, 3, 4, 5, 6}) {
                setup(host, 10, 16, shift);
                host.check[CHECK_TFF] = tff;
                host.track[TRACK_FREQ] = f % 2 ? 704 : 650;
                host.track[TRACK_PHASE] = f % 3 ? 0 : -120;
                const Result off = run_frame(host, f, false, false);
                const Result on = run_frame(host, f, true, false);
                ASSERT_TRUE(off.ok && on.ok);
                EXPECT_TRUE(same_outside(on.out, off.out, host.max_w, win))
                    << "frame " << f << " TFF " << tff << " TRACK_SHIFT " << shift;
                EXPECT_TRUE(colourless(on.out, host.max_w, win)) << "frame " << f;
                if (shift != 0) continue;
                // Unshifted, the window is the current frame with its
                // partner's field, its colour folded into luma with the sign
                // of this frame's pair and field order.
                const int partner = f % 2 == 0 ? f + 1 : f - 1;
                const int replaced = (tff ^ f) & 1;
                const int flags = tff | (f & 2);
                const auto c = expected_cos(host.track[TRACK_FREQ], host.track[TRACK_PHASE], w);
                const auto s = expected_sin(host.track[TRACK_FREQ], host.track[TRACK_PHASE], w);
                for (int y = 0; y < h; ++y) {
                    const int from = y % 2 == replaced ? partner : f;
                    const int sign = carrier_sign(flags, y);
                    for (int x = win.left; x < win.right; ++x) {
                        const PIXEL_YC& src = host.at(from, x, y);
                        EXPECT_EQ(on.out[y * host.max_w + x].y, remodulated(src, sign, c[x], s[x]))
                            << "frame " << f << " TFF " << tff << " row " << y << " column " << x;
                    }
                }
            }
        }
    }
}

TEST_F(CarrierInPipeline, MonoClearsTheOutputWindowOnly) {
    const int w = 36, h = 10;
    TestHost host(w, h, 6);
    const Window win{7, 19};
    for (bool lowpass : {false, true}) {
        for (int f : {1, 2}) {
            setup(host, 7, 12, 3);
            // With LPF on and no stripe the comb threshold is 0, so the
            // low-pass writes the output instead of the pointer exchange.
            host.check[CHECK_LPF] = lowpass ? 1 : 0;
            host.track[TRACK_STRIPE] = lowpass ? 0 : 16;
            const Result plain = run_frame(host, f, false, false);
            const Result mono = run_frame(host, f, false, true);
            ASSERT_TRUE(plain.ok && mono.ok);
            EXPECT_TRUE(same_outside(mono.out, plain.out, host.max_w, win));
            EXPECT_TRUE(same_pixels(mono.scratch, plain.scratch)) << "MONO touched the scratch frame";
            bool had_colour = false;
            for (int y = 0; y < h; ++y)
                for (int x = win.left; x < win.right; ++x) {
                    const PIXEL_YC& m = mono.out[y * host.max_w + x];
                    const PIXEL_YC& p = plain.out[y * host.max_w + x];
                    had_colour = had_colour || p.cb != 0 || p.cr != 0;
                    EXPECT_EQ(m.y, p.y);
                }
            EXPECT_TRUE(had_colour);
            EXPECT_TRUE(colourless(mono.out, host.max_w, win));
        }
    }
    // An empty window: MONO changes nothing.
    setup(host, 40, 10, 0);
    const Result plain = run_frame(host, 2, false, false);
    const Result mono = run_frame(host, 2, false, true);
    EXPECT_TRUE(same_pixels(plain.out, mono.out));
}

TEST_F(CarrierInPipeline, FailedAllocationKeepsTheWindowsColourForThatFrame) {
    const int w = 30, h = 8;
    TestHost host(w, h, 6);
    const int live0 = native_heap_live_blocks();
    for (int failing : {0, 1}) {
        for (bool mono : {false, true}) {
            release_carrier_tables();
            setup(host, 5, 10, 0);
            const Result plain = run_frame(host, 2, false, false);
            MemoryHost::fail_allocation_after(failing);
            const Result on = run_frame(host, 2, true, mono);
            EXPECT_TRUE(on.ok) << "block " << failing;
            EXPECT_TRUE(same_pixels(on.out, plain.out)) << "block " << failing << (mono ? " with MONO" : "");
            EXPECT_TRUE(absent());
            EXPECT_EQ(native_heap_live_blocks(), live0);
            // The next frame has memory: tables built, window colourless.
            const Result next = run_frame(host, 3, true, mono);
            EXPECT_TRUE(next.ok);
            EXPECT_NE(carrier_state().cos_table, nullptr);
            EXPECT_NE(carrier_state().sin_table, nullptr);
            EXPECT_EQ(native_heap_live_blocks(), live0 + 2);
            EXPECT_TRUE(colourless(next.out, host.max_w, Window{5, 15}));
        }
    }
    release_carrier_tables();
    EXPECT_EQ(native_heap_live_blocks(), live0);
}

TEST_F(CarrierInPipeline, MonoWithColourToLumaOnlyRemodulates) {
    const int w = 30, h = 8;
    TestHost host(w, h, 6);
    setup(host, 4, 12, 7);
    const Result cy = run_frame(host, 2, true, false);
    const Result both = run_frame(host, 2, true, true);
    ASSERT_TRUE(cy.ok && both.ok);
    EXPECT_TRUE(same_pixels(cy.out, both.out));
    EXPECT_TRUE(same_pixels(cy.scratch, both.scratch));
    // The tables stay when C/Y goes off again; MONO then clears.
    const CarrierState st = carrier_state();
    const Result mono = run_frame(host, 2, false, true);
    EXPECT_EQ(carrier_state().cos_table, st.cos_table);
    EXPECT_TRUE(colourless(mono.out, host.max_w, Window{4, 16}));
}

TEST_F(CarrierInPipeline, RangeDisplayBuildsNothing) {
    TestHost host(30, 8, 6);
    setup(host, 4, 12, 0);
    host.check[CHECK_RANGE] = 1;
    const long allocs = native_heap_alloc_count();
    const Result r = run_frame(host, 2, true, true);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(native_heap_alloc_count(), allocs);
    EXPECT_EQ(carrier_state().cos_table, nullptr);
    // The window is the input's negative, colour included.
    const PIXEL_YC& in = host.at(2, 6, 3);
    const PIXEL_YC& out = r.out[3 * host.max_w + 6];
    EXPECT_EQ(out.y, 4096 - in.y);
    EXPECT_EQ(out.cb, -in.cb);
    EXPECT_EQ(out.cr, -in.cr);
}

}  // namespace
