// The native half of the DLL check.
//   pelta_dll_reference run OUT.bin            runs the scenarios against the
//                                              native plug-in library
//   pelta_dll_reference compare NATIVE DLL     compares two record streams and
//                                              names the first difference
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver.h"
#include "plugin/descriptor.h"
#include "native/platform_native.h"
#include "record.h"

using namespace pelta;

namespace {

BOOL call_proc(FILTER* fp, FILTER_PROC_INFO* fpip) { return fp->func_proc(fp, fpip); }
BOOL call_update(FILTER* fp, int status) { return fp->func_update(fp, status); }
BOOL call_exit(FILTER* fp) { return fp->func_exit(fp); }

int run(const char* out_path) {
    std::FILE* out = std::fopen(out_path, "wb");
    if (!out) {
        std::perror(out_path);
        return 2;
    }
    PluginAccess p{};
    p.what = "native library";
    p.get_filter_table = GetFilterTable;
    p.call_proc = call_proc;
    p.call_update = call_update;
    p.call_exit = call_exit;
    p.window_text = native_window_text;
    p.window_text_calls = native_window_text_calls;
    p.heap_live_blocks = native_heap_live_blocks;
    const int failures = run_driver(p, out);
    if (std::fclose(out) != 0) {
        std::perror(out_path);
        return 2;
    }
    if (failures) std::fprintf(stderr, "%d check(s) failed on the native library\n", failures);
    return failures ? 1 : 0;
}

std::vector<char> slurp(const char* path, bool* ok) {
    std::ifstream in(path, std::ios::binary);
    *ok = static_cast<bool>(in);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string describe(const RecordHeader& r) {
    static const char* const kinds[] = {"?", "func_proc", "func_update", "func_exit"};
    const char* kind = r.kind >= 1 && r.kind <= 3 ? kinds[r.kind] : kinds[0];
    char s[200];
    if (r.kind == RECORD_FRAME)
        std::snprintf(s, sizeof s, "scenario \"%.48s\", call %d (%s of frame %d)", r.scenario, r.call_index,
                      kind, r.frame);
    else
        std::snprintf(s, sizeof s, "scenario \"%.48s\", call %d (%s)", r.scenario, r.call_index, kind);
    return s;
}

// The first header field in which two records differ, or nullptr.
const char* differing_field(const RecordHeader& a, const RecordHeader& b) {
#define PELTA_FIELD(f) \
    if (std::memcmp(&a.f, &b.f, sizeof a.f) != 0) return #f
    PELTA_FIELD(kind);
    PELTA_FIELD(scenario);
    PELTA_FIELD(call_index);
    PELTA_FIELD(frame);
    PELTA_FIELD(w);
    PELTA_FIELD(h);
    PELTA_FIELD(max_w);
    PELTA_FIELD(result);
    PELTA_FIELD(swapped);
    PELTA_FIELD(title_calls);
    PELTA_FIELD(heap_blocks);
    PELTA_FIELD(cache_requests);
    PELTA_FIELD(cache_args);
    PELTA_FIELD(saving_asks);
    PELTA_FIELD(bad_args);
    PELTA_FIELD(fetch_n);
    PELTA_FIELD(fetches);
    PELTA_FIELD(title);
#undef PELTA_FIELD
    return nullptr;
}

int compare(const char* native_path, const char* dll_path) {
    bool ok_a = false, ok_b = false;
    const std::vector<char> a = slurp(native_path, &ok_a);
    const std::vector<char> b = slurp(dll_path, &ok_b);
    if (!ok_a || !ok_b) {
        std::fprintf(stderr, "cannot read %s\n", ok_a ? dll_path : native_path);
        return 2;
    }
    size_t pos = 0;
    long records = 0, frames = 0;
    while (pos < a.size() || pos < b.size()) {
        if (pos + sizeof(RecordHeader) > a.size() || pos + sizeof(RecordHeader) > b.size()) {
            std::fprintf(stderr, "MISMATCH: the %s output ends after %ld records, the other goes on\n",
                         pos + sizeof(RecordHeader) > b.size() ? "pelta.auf" : "native", records);
            return 1;
        }
        RecordHeader ra, rb;
        std::memcpy(&ra, a.data() + pos, sizeof ra);
        std::memcpy(&rb, b.data() + pos, sizeof rb);
        if (std::memcmp(ra.tag, "PREC", 4) != 0 || std::memcmp(rb.tag, "PREC", 4) != 0) {
            std::fprintf(stderr, "corrupt record stream at byte %zu\n", pos);
            return 2;
        }
        if (const char* field = differing_field(ra, rb)) {
            std::fprintf(stderr, "MISMATCH at %s: field %s differs\n", describe(ra).c_str(), field);
            std::fprintf(stderr, "  native:    result %d swapped %d fetches %d title \"%.255s\"\n", ra.result,
                         ra.swapped, ra.fetch_n, ra.title);
            std::fprintf(stderr, "  pelta.auf: result %d swapped %d fetches %d title \"%.255s\"\n", rb.result,
                         rb.swapped, rb.fetch_n, rb.title);
            return 1;
        }
        pos += sizeof ra;
        ++records;
        if (ra.kind != RECORD_FRAME) continue;

        ++frames;
        const size_t n = static_cast<size_t>(ra.max_w) * ra.h;
        if (pos + n * sizeof(PIXEL_YC) > a.size() || pos + n * sizeof(PIXEL_YC) > b.size()) {
            std::fprintf(stderr, "MISMATCH: the %s output ends inside the frame of %s\n",
                         pos + n * sizeof(PIXEL_YC) > b.size() ? "pelta.auf" : "native",
                         describe(ra).c_str());
            return 1;
        }
        const auto* pa = reinterpret_cast<const int16_t*>(a.data() + pos);
        const auto* pb = reinterpret_cast<const int16_t*>(b.data() + pos);
        if (std::memcmp(pa, pb, n * sizeof(PIXEL_YC)) != 0) {
            static const char* const component[3] = {"y", "cb", "cr"};
            size_t first = 0, differing = 0;
            for (size_t i = 0; i < 3 * n; ++i)
                if (pa[i] != pb[i] && differing++ == 0) first = i;
            const size_t px = first / 3;
            const int row = static_cast<int>(px / ra.max_w), col = static_cast<int>(px % ra.max_w);
            std::fprintf(stderr,
                         "MISMATCH at %s: first difference at row %d, column %d%s, component %s: "
                         "native %d, pelta.auf %d (%zu of %zu samples differ)\n",
                         describe(ra).c_str(), row, col, col >= ra.w ? " (beyond w)" : "",
                         component[first % 3], pa[first], pb[first], differing, 3 * n);
            return 1;
        }
        pos += n * sizeof(PIXEL_YC);
    }
    std::printf("pelta.auf matches the native library: %ld records, %ld frames, byte for byte\n", records,
                frames);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "run") == 0) return run(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "compare") == 0) return compare(argv[2], argv[3]);
    std::fprintf(stderr, "usage: %s run OUT | compare NATIVE DLL\n", argv[0]);
    return 2;
}
