#include "fake_host.h"

#include <cstring>
#include <stdexcept>

#include "native/host_side.h"
#include "pipeline/filter_proc.h"

using namespace pelta;

namespace {

// The host in use: the cache-size service receives only fp, so the services
// find their host through this pointer (tests run one host at a time).
FakeHost* active = nullptr;

BOOL svc_is_saving(void* editp) {
    auto* host = static_cast<FakeHost*>(editp);
    ++host->is_saving_calls;
    return host->saving ? TRUE : FALSE;
}

BOOL svc_set_cache_size(void* fp, int w, int h, int d, int flag) {
    FakeHost* host = active;
    if (!host || fp != &host->filter) throw std::logic_error("cache request for an unknown filter");
    ++host->cache_size_calls;
    host->last_cache_request = {w, h, d, flag};
    return host->refuse_cache ? FALSE : TRUE;
}

PIXEL_YC* svc_get_frame(void* fp, void* editp, int n, int* w_out, int* h_out) {
    auto* host = static_cast<FakeHost*>(editp);
    if (fp != &host->filter) throw std::logic_error("frame request for an unknown filter");
    if (w_out || h_out) throw std::logic_error("the filter passes null size outputs");
    host->fetches.push_back(n);
    if (host->missing.count(n)) return nullptr;
    if (static_cast<int>(host->fetches.size()) - 1 == host->fail_fetch_at) return nullptr;
    if (n < 0 || n >= host->frame_n) {
        if (!host->replicate_edges || host->frame_n <= 0) return nullptr;
        n = n < 0 ? 0 : host->frame_n - 1;
    }
    // An empty frame (h = 0) is still a frame: hand out a valid address.
    static PIXEL_YC no_pixels[1];
    return host->clip[n].empty() ? no_pixels : host->clip[n].data();
}

}  // namespace

FakeHost::FakeHost(int w_, int h_, int frame_n_, int max_w_)
    : w(w_), h(h_), max_w(max_w_ > 0 ? max_w_ : w_ + 7), frame_n(frame_n_) {
    const size_t pixels = static_cast<size_t>(max_w) * (h > 0 ? h : 0);
    clip.assign(frame_n > 0 ? frame_n : 0, Frame(pixels, PIXEL_YC{MARKER, MARKER, MARKER}));
    // A recognisable picture per frame: luma carries the frame number.
    for (int f = 0; f < frame_n; ++f)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) at(f, x, y) = px(100 * f + y, x % 64 - 32, y % 64 - 32);
    edit.assign(pixels, PIXEL_YC{});
    temp.assign(pixels, PIXEL_YC{});

    exfunc.is_saving = svc_is_saving;
    exfunc.set_ycp_filtering_cache_size = svc_set_cache_size;
    exfunc.get_ycp_filtering_cache_ex = svc_get_frame;

    filter = filter_record_for(GetFilterTable(), track, check, &exfunc, hwnd());
    defaults();
    active = this;
}

FakeHost::~FakeHost() {
    if (active == this) active = nullptr;
}

void FakeHost::defaults() {
    default_settings(GetFilterTable(), track, check);
}

void FakeHost::fill_random(uint32_t seed, bool nominal) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> luma(nominal ? 0 : -32768, nominal ? 4096 : 32767);
    std::uniform_int_distribution<int> chroma(nominal ? -2048 : -32768, nominal ? 2048 : 32767);
    for (int f = 0; f < frame_n; ++f)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) at(f, x, y) = px(luma(rng), chroma(rng), chroma(rng));
}

void FakeHost::prepare(int f, int16_t scratch) {
    active = this;
    if (f >= 0 && f < frame_n)
        edit = clip[f];
    else
        std::fill(edit.begin(), edit.end(), PIXEL_YC{7, 7, 7});
    std::fill(temp.begin(), temp.end(), PIXEL_YC{scratch, scratch, scratch});
    fpip = proc_info_for(edit.data(), temp.data(), w, h, max_w, f, frame_n, this);
}

BOOL FakeHost::run(int f) {
    prepare(f);
    return filter.func_proc(&filter, &fpip);
}

bool same_pixels(const PIXEL_YC* a, const PIXEL_YC* b, size_t n) {
    return std::memcmp(a, b, n * sizeof(PIXEL_YC)) == 0;
}
