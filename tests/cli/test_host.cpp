// The command-line host in-process, driving a frame procedure of the test's
// own: the working frame the procedure names goes out, and a frame it fails
// goes out as it came in, even when the procedure wrote into it first; on one
// thread and with the reader and writer threads.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "plugin/descriptor.h"

namespace {

constexpr int kW = 24, kH = 8, kStride = 32, kFrames = 7;

// Every pixel of the clip tells its frame, row and column.
PIXEL_YC clip_pixel(int f, int y, int x) {
    return PIXEL_YC{static_cast<int16_t>(100 * f + 10 * y + x), static_cast<int16_t>(f), static_cast<int16_t>(-f)};
}

class ClipInput : public pelta_cli::FrameInput {
public:
    pelta_cli::ReadStatus next(PIXEL_YC* dst, int stride, std::string&) override {
        if (next_ == kFrames) return pelta_cli::ReadStatus::End;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) dst[y * stride + x] = clip_pixel(next_, y, x);
        ++next_;
        return pelta_cli::ReadStatus::Frame;
    }

private:
    int next_ = 0;
};

class CollectOutput : public pelta_cli::FrameOutput {
public:
    bool put(const PIXEL_YC* frame, int stride, std::string&) override {
        std::vector<PIXEL_YC>& f = frames.emplace_back();
        for (int y = 0; y < kH; ++y) f.insert(f.end(), frame + y * stride, frame + y * stride + kW);
        return true;
    }
    std::vector<std::vector<PIXEL_YC>> frames;
};

// Odd frames: spoils ycp_edit, then fails. Even frames: the result, luma + 1,
// in ycp_temp, which ycp_edit then names.
BOOL spoil_odd_frames(FILTER*, FILTER_PROC_INFO* fpip) {
    const bool fail = fpip->frame % 2 != 0;
    for (int y = 0; y < fpip->h; ++y)
        for (int x = 0; x < fpip->w; ++x) {
            PIXEL_YC& edit = fpip->ycp_edit[y * fpip->max_w + x];
            PIXEL_YC& temp = fpip->ycp_temp[y * fpip->max_w + x];
            if (fail) {
                edit = PIXEL_YC{-1, -1, -1};
            } else {
                temp = edit;
                ++temp.y;
            }
        }
    if (fail) return FALSE;
    std::swap(fpip->ycp_edit, fpip->ycp_temp);
    return TRUE;
}

}  // namespace

TEST(CliHost, WritesTheFrameTheFilterNamesAndFailedFramesAsTheyCameIn) {
    FILTER_DLL desc = *GetFilterTable();
    desc.func_proc = spoil_odd_frames;
    desc.func_update = nullptr;
    desc.func_exit = nullptr;
    for (int threads : {1, 2}) {
        SCOPED_TRACE("threads " + std::to_string(threads));
        ClipInput in;
        CollectOutput out;
        std::string error;
        long reported = 0;
        pelta_cli::EditorHost host(&desc, kW, kH, kStride, pelta_cli::default_controls(&desc), false, threads);
        ASSERT_TRUE(host.run(
            in, out,
            [&reported](const pelta_cli::FrameReport& r) {
                EXPECT_EQ(r.frame, reported++);
                EXPECT_EQ(r.ok, r.frame % 2 == 0) << r.frame;
            },
            error))
            << error;
        EXPECT_EQ(host.stats().frames, kFrames);
        EXPECT_EQ(host.stats().failed, kFrames / 2);
        ASSERT_EQ(out.frames.size(), static_cast<size_t>(kFrames));
        for (int f = 0; f < kFrames; ++f)
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x) {
                    const PIXEL_YC want = clip_pixel(f, y, x), got = out.frames[f][static_cast<size_t>(y * kW + x)];
                    ASSERT_EQ(got.y, want.y + (f % 2 == 0 ? 1 : 0)) << "frame " << f << " at " << x << "," << y;
                    ASSERT_EQ(got.cb, want.cb);
                    ASSERT_EQ(got.cr, want.cr);
                }
    }
}
