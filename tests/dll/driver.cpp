// The host side of the DLL check: descriptor checks, test clips, and the
// scenarios run on the in-memory host (native/memory_host.h), each call's
// outcome written as a record. Everything here is integer-only and
// deterministic, so the 64-bit native run and the 32-bit run of pelta.auf
// feed the filter exactly the same bytes.
#include "driver.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "abi/controls.h"
#include "../expected_descriptor.h"
#include "native/memory_host.h"
#include "record.h"

using namespace pelta;

namespace {

int failures = 0;

void fail(const char* fmt, ...) {
    std::va_list ap;
    va_start(ap, fmt);
    std::fputs("FAIL: ", stderr);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
    va_end(ap);
    ++failures;
}

// ---------------------------------------------------------------------------
// Descriptor

void check_pointer(const PluginAccess& p, const void* ptr, bool code, const char* what) {
    if (!ptr) {
        fail("descriptor: %s is null", what);
        return;
    }
    bool (*inside)(const void*) = code ? p.in_code : p.in_image;
    if (inside && !inside(ptr))
        fail("descriptor: %s (%p) points outside the plug-in's %s", what, ptr, code ? "code" : "image");
}

void check_label(const PluginAccess& p, const char* const* labels, int i, const char* want,
                 const char* kind) {
    char what[40];
    std::snprintf(what, sizeof what, "%s label %d", kind, i);
    check_pointer(p, labels[i], false, what);
    if (!labels[i] || std::strcmp(labels[i], want) == 0) return;
    char got[64] = {}, expected[64] = {};
    for (size_t k = 0; labels[i][k] && k < 12; ++k)
        std::snprintf(got + 3 * k, 4, "%02X ", static_cast<unsigned char>(labels[i][k]));
    for (size_t k = 0; want[k]; ++k)
        std::snprintf(expected + 3 * k, 4, "%02X ", static_cast<unsigned char>(want[k]));
    fail("descriptor: %s is %sinstead of %s", what, got, expected);
}

void check_descriptor(const PluginAccess& p, const FILTER_DLL* d) {
    if (d->flag != FILTER_FLAG_EX_INFORMATION) fail("descriptor: flag is 0x%x, want 0x40000", d->flag);
    if (d->x != 0 || d->y != 0) fail("descriptor: x, y are %d, %d, want 0, 0", d->x, d->y);
    check_pointer(p, d->name, false, "name");
    if (d->name && std::strcmp(d->name, "pelta") != 0) fail("descriptor: name is \"%s\"", d->name);

    if (d->track_n != TRACK_COUNT) fail("descriptor: track_n is %d, want 10", d->track_n);
    check_pointer(p, d->track_name, false, "track_name");
    check_pointer(p, d->track_default, false, "track_default");
    check_pointer(p, d->track_s, false, "track_s");
    check_pointer(p, d->track_e, false, "track_e");
    if (d->track_n == TRACK_COUNT && d->track_name && d->track_default && d->track_s && d->track_e) {
        for (int i = 0; i < TRACK_COUNT; ++i) {
            check_label(p, d->track_name, i, expected::kTrackLabels[i], "track");
            if (d->track_default[i] != expected::kTrackDefaults[i] || d->track_s[i] != expected::kTrackMinima[i] ||
                d->track_e[i] != expected::kTrackMaxima[i])
                fail("descriptor: track %d default/min/max %d/%d/%d, want %d/%d/%d", i, d->track_default[i],
                     d->track_s[i], d->track_e[i], expected::kTrackDefaults[i], expected::kTrackMinima[i],
                     expected::kTrackMaxima[i]);
        }
    }

    if (d->check_n != CHECK_COUNT) fail("descriptor: check_n is %d, want 5", d->check_n);
    check_pointer(p, d->check_name, false, "check_name");
    check_pointer(p, d->check_default, false, "check_default");
    if (d->check_n == CHECK_COUNT && d->check_name && d->check_default) {
        for (int i = 0; i < CHECK_COUNT; ++i) {
            check_label(p, d->check_name, i, expected::kCheckLabels[i], "check");
            if (d->check_default[i] != expected::kCheckDefaults[i])
                fail("descriptor: check %d default %d, want %d", i, d->check_default[i], expected::kCheckDefaults[i]);
        }
    }

    check_pointer(p, reinterpret_cast<const void*>(d->func_proc), true, "func_proc");
    check_pointer(p, reinterpret_cast<const void*>(d->func_exit), true, "func_exit");
    check_pointer(p, reinterpret_cast<const void*>(d->func_update), true, "func_update");
    for (const expected::UnsetField& f : expected::unset_fields(d))
        if (f.set) fail("descriptor: %s must be null/0", f.name);

    check_pointer(p, d->information, false, "information");
    if (d->information) {
        const char* info = d->information;
        for (const char* c = info; *c; ++c)
            if (*c < 0x20 || *c > 0x7E) {
                fail("descriptor: information text is not one line of printable ASCII");
                break;
            }
        if (!std::strstr(info, "pelta") || !std::strstr(info, "ver1.2"))
            fail("descriptor: information \"%s\" lacks \"pelta\" or \"ver1.2\"", info);
    }
}

// ---------------------------------------------------------------------------
// Test clips

uint32_t mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

uint32_t noise(uint32_t seed, int pic, int x, int y) {
    return mix(seed ^ mix(static_cast<uint32_t>(pic) * 0x9E3779B9u ^
                          mix(static_cast<uint32_t>(x) * 0x85EBCA6Bu ^ static_cast<uint32_t>(y))));
}

// One pixel of progressive picture `pic`: drifting ramps and blocks, whose
// vertical edges comb when two pictures' fields are woven, plus a little noise.
PIXEL_YC picture_pixel(uint32_t seed, int pic, int x, int y) {
    const int t = 3 * pic;
    const int n = static_cast<int>(noise(seed, pic, x, y) % 97) - 48;
    int luma = 700 + ((x + t) * 37 + y * 11) % 1400 + n;
    if (((x + t) / 7 + y / 6) % 2 == 0) luma += 1500;
    const int cb = ((x + 2 * t) * 23) % 1024 - 512 + ((y / 4) % 2) * 600 - 300;
    const int cr = (y * 29 + t * 5) % 1200 - 600 + n * 4;
    return PIXEL_YC{static_cast<int16_t>(luma), static_cast<int16_t>(cb), static_cast<int16_t>(cr)};
}

enum class Content { Telecined, FullRange };

// Input frames of a telecined clip: fields come from progressive pictures in
// a 2-3 cadence (starting at a seed-chosen point of it), so some frames weave
// cleanly with a neighbour and others comb. The columns beyond w keep the
// host's marker. FullRange fills every sample with noise over the whole
// 16-bit range.
void fill_clip(MemoryHost& host, uint32_t seed, Content content) {
    static const int cadence[10] = {0, 0, 1, 1, 1, 2, 2, 3, 3, 3};
    const int start = static_cast<int>(seed % 10);
    for (int f = 0; f < host.frame_n; ++f) {
        for (int y = 0; y < host.h; ++y) {
            const int field = start + 2 * f + (y & 1);
            const int pic = 4 * (field / 10) + cadence[field % 10];
            for (int x = 0; x < host.w; ++x) {
                PIXEL_YC& px = host.at(f, x, y);
                if (content == Content::FullRange) {
                    const uint32_t a = noise(seed, f, x, y), b = mix(a);
                    px = PIXEL_YC{static_cast<int16_t>(a), static_cast<int16_t>(a >> 16),
                                  static_cast<int16_t>(b)};
                } else {
                    px = picture_pixel(seed, pic, x, y);
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Scenarios

class Runner {
  public:
    Runner(const PluginAccess& plugin, std::FILE* out) : p_(plugin), out_(out) {}

    // A new host: a new clip, the controls at their defaults, and the FILTER
    // record built afresh from GetFilterTable's descriptor.
    void begin(const char* name, int w, int h, int max_w, int frame_n, uint32_t seed,
               Content content = Content::Telecined) {
        ++scenario_;
        call_ = 0;
        std::snprintf(name_, sizeof name_, "%s", name);
        FILTER_DLL* d = p_.get_filter_table();
        if (!desc_) {
            desc_ = d;
            std::memcpy(&desc_copy_, d, sizeof desc_copy_);
        } else if (d != desc_) {
            fail("%s: GetFilterTable returned %p, earlier %p", name_, static_cast<void*>(d),
                 static_cast<void*>(desc_));
        }
        FilterCalls calls;
        calls.proc = p_.call_proc;
        calls.update = p_.call_update;
        calls.exit = p_.call_exit;
        host_.reset();  // one host at a time
        host_ = std::make_unique<MemoryHost>(d, w, h, frame_n, max_w, calls);
        host_->filter.hwnd = &window_;  // one settings window for every scenario
        fill_clip(*host_, seed, content);
    }

    // A control changes: the host stores the value and calls func_update.
    void track(int index, int value) {
        begin_call();
        updated(host_->set_track(index, value));
    }
    void check(int index, int value) {
        begin_call();
        updated(host_->set_check(index, value));
    }
    void window(int left, int width) {
        begin_call();
        updated(host_->set_window(left, width));
    }
    void update() {
        begin_call();
        updated(host_->update());
    }

    void frame(int f) {
        begin_call();
        host_->prepare(f);  // the frame as it enters the filter, and a scratch frame
        const BOOL r = host_->proc();
        if (!host_->own_frames()) fail("%s: frame %d came back with foreign frame pointers", name_, f);
        if (!host_->guards_hold()) fail("%s: frame %d: a write outside the host's frames", name_, f);
        if (r != TRUE && r != FALSE) fail("%s: func_proc answered %d for frame %d", name_, r, f);
        write(RECORD_FRAME, f, r, host_->output(), host_->swapped());
    }

    // Host behaviour: writing a file, frames the cache lacks, the cache request.
    void set_saving(bool on) { host_->saving = on; }
    void set_missing(std::initializer_list<int> frames) { host_->missing = frames; }
    void set_refuse_cache(bool on) { host_->refuse_cache = on; }

    void frames(int first, int last) {
        for (int f = first; f <= last; ++f) frame(f);
    }

    // The host unloads the filter: func_exit must release every heap block.
    void end() {
        begin_call();
        const BOOL r = host_->exit();
        if (r != TRUE) fail("%s: func_exit answered %d", name_, r);
        const int live = p_.heap_live_blocks();
        if (live != 0) fail("%s: %d process-heap blocks still live after func_exit", name_, live);
        write(RECORD_EXIT, -1, r, nullptr, false);
    }

    // After all scenarios: the descriptor is the same record, unchanged.
    void finish() {
        const FILTER_DLL* d = p_.get_filter_table();
        if (d != desc_) fail("GetFilterTable's address changed");
        if (desc_ && std::memcmp(desc_, &desc_copy_, sizeof desc_copy_) != 0)
            fail("the descriptor was written to while the filter ran");
        if (!host_) return;
        const BOOL r1 = host_->exit(), r2 = host_->exit();
        if (r1 != TRUE || r2 != TRUE) fail("func_exit with nothing to release answered %d, %d", r1, r2);
    }

  private:
    void begin_call() { title_calls_ = p_.window_text_calls(); }

    void updated(BOOL r) {
        if (r != TRUE) fail("%s: func_update answered %d", name_, r);
        write(RECORD_UPDATE, -1, r, nullptr, false);
    }

    // What every frame's record must say about the filter's requests: the
    // cache request (once, for five frames of the stride), and for a frame
    // done after fetching frames, its partner fetched last.
    void check_frame_record(const RecordHeader& r) {
        const int want[4] = {host_->max_w, host_->h, 5, 0};
        if (r.cache_requests != 1 || !std::equal(want, want + 4, r.cache_args))
            fail("%s: frame %d: %d cache requests, the last for %d x %d, %d frames, flag %d", name_, r.frame,
                 r.cache_requests, r.cache_args[0], r.cache_args[1], r.cache_args[2], r.cache_args[3]);
        const int partner = r.frame % 2 == 0 ? r.frame + 1 : r.frame - 1;
        if (r.result == TRUE && r.fetch_n > 0 && r.fetch_n <= RECORD_MAX_FETCHES &&
            r.fetches[r.fetch_n - 1] != partner)
            fail("%s: frame %d: the last of %d fetches was frame %d, not the partner %d", name_, r.frame, r.fetch_n,
                 r.fetches[r.fetch_n - 1], partner);
    }

    void write(RecordKind kind, int f, BOOL result, const PIXEL_YC* pixels, bool swapped) {
        const MemoryHost& host = *host_;
        const ServiceLog& log = host.log;
        RecordHeader r;
        std::memset(&r, 0, sizeof r);
        std::memcpy(r.tag, "PREC", 4);
        r.kind = kind;
        std::memcpy(r.scenario, name_, sizeof r.scenario);
        r.scenario_index = scenario_;
        r.call_index = call_++;
        r.frame = f;
        if (pixels) {
            r.w = host.w;
            r.h = host.h;
            r.max_w = host.max_w;
        }
        r.result = result;
        r.swapped = swapped;
        r.title_calls = static_cast<int32_t>(p_.window_text_calls() - title_calls_);
        r.heap_blocks = p_.heap_live_blocks();
        r.cache_requests = log.cache_requests;
        std::copy_n(log.cache_args, 4, r.cache_args);
        r.saving_asks = log.saving_asks;
        r.bad_args = log.foreign_args;
        r.fetch_n = log.fetch_count;
        std::copy_n(log.fetches.begin(), std::min<size_t>(log.fetches.size(), RECORD_MAX_FETCHES), r.fetches);
        if (const char* t = p_.window_text(host_->hwnd())) std::snprintf(r.title, sizeof r.title, "%s", t);
        if (log.foreign_args) fail("%s: a host service was called with a foreign fp or editp", name_);
        if (kind == RECORD_FRAME) check_frame_record(r);
        std::fwrite(&r, sizeof r, 1, out_);
        if (pixels) std::fwrite(pixels, sizeof(PIXEL_YC), host.frame_pixels(), out_);
    }

    const PluginAccess& p_;
    std::FILE* out_;
    std::unique_ptr<MemoryHost> host_;
    int window_ = 0;  // its address is the settings window's handle
    char name_[48] = {};
    int scenario_ = -1;
    int call_ = 0;
    long title_calls_ = 0;
    FILTER_DLL* desc_ = nullptr;
    FILTER_DLL desc_copy_{};
};

void run_scenarios(Runner& r) {
    // The defaults put the window (320..640) beyond a small frame: it is
    // empty, and every column is scored.
    r.begin("defaults, window off the frame", 64, 48, 64, 8, 11);
    r.frames(0, 7);
    r.end();

    // Full-size frames with the defaults, rows wider than the picture.
    r.begin("defaults 720x480", 720, 480, 736, 3, 12);
    r.frames(0, 2);
    r.end();

    // Whole-line shifts, each field order (2 has bit 0 clear: bottom first).
    r.begin("whole-line shifts", 97, 45, 104, 6, 13);
    r.window(20, 40);
    for (int tff : {1, 0, 2}) {
        r.check(CHECK_TFF, tff);
        for (int shift : {0, 16, 32, 256}) {
            r.track(TRACK_SHIFT, shift);
            r.frames(0, 5);
        }
    }
    r.end();

    r.begin("fractional shifts", 97, 45, 104, 6, 14);
    r.window(20, 40);
    for (int tff : {1, 0}) {
        r.check(CHECK_TFF, tff);
        for (int shift : {5, 37, 1, 15, 250, 255}) {
            r.track(TRACK_SHIFT, shift);
            r.frames(0, 5);
        }
    }
    r.end();

    // 5, 16, 5: the taps built for 5 survive the whole-line shift in between.
    r.begin("shift 5,16,5", 50, 31, 56, 4, 15);
    r.window(5, 30);
    r.track(TRACK_SHIFT, 5);
    r.frame(0);
    r.track(TRACK_SHIFT, 16);
    r.frame(1);
    r.track(TRACK_SHIFT, 5);
    r.frame(2);
    r.end();

    // Comb threshold 0: the low-pass runs on every frame.
    r.begin("low-pass forced", 80, 61, 88, 8, 16);
    r.window(10, 30);
    r.track(TRACK_SHIFT, 21);
    r.track(TRACK_STRIPE, 0);
    r.frames(0, 7);
    r.check(CHECK_LPF, 0);
    r.frames(0, 3);
    r.check(CHECK_LPF, 1);
    r.track(TRACK_STRIPE, 16);
    r.window(0, 2048);  // a window over every column also gives threshold 0
    r.frames(0, 3);
    r.end();

    // Chroma folded into luma; frames 0..7 cover both values of frame bit 1.
    r.begin("C/Y", 90, 37, 96, 8, 17);
    r.window(15, 50);
    r.check(CHECK_CY, 1);
    const int carriers[][2] = {{704, 0}, {600, -180}, {750, 180}, {655, 37}};
    for (int tff : {1, 0}) {
        r.check(CHECK_TFF, tff);
        for (const auto& c : carriers) {
            r.track(TRACK_FREQ, c[0]);
            r.track(TRACK_PHASE, c[1]);
            r.frames(0, 7);
        }
    }
    r.window(70, 100);  // reaching past the right edge
    r.track(TRACK_SHIFT, 9);
    r.frames(0, 3);
    r.end();

    r.begin("MONO", 90, 37, 96, 6, 18);
    r.window(30, 25);
    r.check(CHECK_MONO, 1);
    r.frames(0, 5);
    r.track(TRACK_STRIPE, 0);  // MONO after the low-pass
    r.frames(0, 2);
    r.check(CHECK_CY, 1);  // with C/Y on there is no MONO step
    r.frames(0, 3);
    r.end();

    r.begin("range display", 64, 40, 72, 5, 19);
    r.window(10, 20);
    r.check(CHECK_RANGE, 1);
    r.frames(0, 2);
    r.window(50, 2048);
    r.frames(0, 1);
    r.window(64, 10);  // empty window
    r.frame(3);
    r.window(10, 20);
    r.set_saving(true);  // while saving the frame is processed in full, title untouched
    r.frames(0, 4);
    r.set_saving(false);
    r.check(CHECK_RANGE, 0);
    r.frames(3, 4);
    r.end();

    r.begin("host answers NULL", 64, 33, 70, 8, 20);
    r.window(12, 24);
    r.set_missing({3});
    r.frames(0, 7);
    r.set_missing({5});
    r.update();
    r.frames(0, 7);
    r.set_missing({});
    r.set_refuse_cache(true);
    r.frame(2);
    r.set_refuse_cache(false);
    r.frame(2);
    r.end();

    // An even last frame needs partner frame_n, which the host lacks.
    r.begin("odd-length clip", 64, 33, 64, 7, 21);
    r.window(12, 24);
    r.frames(0, 6);
    r.end();

    r.begin("one-frame clip", 32, 20, 40, 1, 22);
    r.window(0, 16);
    r.frame(0);
    r.end();

    // Seeks: the match cache carries counts between frames in any order.
    r.begin("seeks", 72, 50, 80, 10, 23);
    r.window(20, 30);
    for (int f : {6, 2, 3, 9, 0, 1, 8, 8, 5}) r.frame(f);
    r.end();

    r.begin("thresholds and weights", 80, 47, 84, 6, 24);
    r.window(25, 20);
    const int settings[][5] = {
        // TH_Y, TH_C, HIGH, MID, STRIPE
        {-256, 70, 3, 1, 16}, {256, 256, 3, 1, 16}, {0, 0, 8, 0, 32},
        {50, 70, 0, 8, 1},    {10, 5, 8, 8, 4},     {50, 70, 0, 0, 16},
    };
    for (const auto& s : settings) {
        r.track(TRACK_TH_Y, s[0]);
        r.track(TRACK_TH_C, s[1]);
        r.track(TRACK_HIGH, s[2]);
        r.track(TRACK_MID, s[3]);
        r.track(TRACK_STRIPE, s[4]);
        r.frames(0, 5);
    }
    r.end();

    // Samples over the whole 16-bit range: every sum and product that can
    // leave the int16 range does.
    r.begin("full-range samples", 67, 35, 72, 6, 25, Content::FullRange);
    r.window(7, 50);
    r.check(CHECK_TFF, 0);
    r.track(TRACK_STRIPE, 0);
    r.track(TRACK_SHIFT, 37);
    r.check(CHECK_CY, 1);
    r.frames(0, 5);
    r.check(CHECK_CY, 0);
    r.check(CHECK_MONO, 1);
    r.track(TRACK_SHIFT, 16);
    r.frames(0, 5);
    r.check(CHECK_RANGE, 1);
    r.frames(0, 1);
    r.end();

    // Every TRACK_SHIFT value, so every set of interpolation taps the filter
    // can build is used; full-range samples make any tap difference show.
    r.begin("every shift", 24, 14, 26, 4, 27, Content::FullRange);
    r.window(2, 18);
    for (int shift = 0; shift <= 256; ++shift) {
        r.track(TRACK_SHIFT, shift);
        r.frame(shift % 4);
    }
    r.end();

    // The subcarrier over every TRACK_FREQ value and every TRACK_PHASE value
    // (the other one varying with it), across 720 columns: most of what the
    // carrier tables can hold.
    r.begin("carrier sweep", 720, 2, 720, 4, 28, Content::FullRange);
    r.window(0, 720);
    r.check(CHECK_CY, 1);
    r.check(CHECK_LPF, 0);
    for (int freq = 600; freq <= 750; ++freq) {
        r.track(TRACK_FREQ, freq);
        r.track(TRACK_PHASE, (freq * 7) % 361 - 180);
        r.frame(freq % 4);
    }
    for (int phase = -180; phase <= 180; ++phase) {
        r.track(TRACK_PHASE, phase);
        r.track(TRACK_FREQ, 600 + (phase + 180) % 151);
        r.frame((phase + 180) % 4);
    }
    r.end();

    // Tiny frames: single rows, fewer than five rows (nothing is counted).
    const int tiny[][3] = {{1, 1, 1}, {2, 3, 5}, {4, 4, 4}, {7, 5, 9}, {5, 2, 6}};
    for (const auto& g : tiny) {
        char name[48];
        std::snprintf(name, sizeof name, "tiny %dx%d stride %d", g[0], g[1], g[2]);
        r.begin(name, g[0], g[1], g[2], 4, 26);
        r.window(0, 3);
        r.track(TRACK_STRIPE, 0);
        for (int shift : {5, 16, 0}) {
            r.track(TRACK_SHIFT, shift);
            r.frames(0, 3);
        }
        r.check(CHECK_CY, 1);
        r.frames(0, 3);
        r.end();
    }
}

}  // namespace

int run_driver(const PluginAccess& plugin, std::FILE* out) {
    failures = 0;
    FILTER_DLL* d = plugin.get_filter_table();
    if (!d) {
        fail("%s: GetFilterTable returned null", plugin.what);
        return failures;
    }
    check_descriptor(plugin, d);
    if (failures) return failures;  // the scenarios rely on the descriptor

    // Both handlers before any frame: nothing to release or clear yet.
    FILTER bare = *d;
    if (plugin.call_update(&bare, 0) != TRUE) fail("func_update before any frame did not answer TRUE");
    if (plugin.call_exit(&bare) != TRUE) fail("func_exit before any frame did not answer TRUE");

    Runner runner(plugin, out);
    run_scenarios(runner);
    runner.finish();
    return failures;
}
