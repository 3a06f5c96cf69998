// A tear at the window's edges, measured where it can be seen: in the
// filter's output. Where the window shows another moment than the picture
// around it, and the picture moves, the two sides of an edge no longer meet:
// the columns either side of the edge differ by more than neighbouring
// columns do. That step counts only beyond what the input itself shows at
// the same edge (a band whose content differs from its surroundings has an
// edge there whatever the settings), beyond the columns beside it, and
// beyond the clip's grain.
#pragma once

#include <string>
#include <vector>

#include "abi/host_records.h"
#include "analyze/clip_reader.h"
#include "analyze/findings.h"
#include "host/plan.h"

namespace pelta_cli::analysis {

struct Survey;

// The step across one edge of one picture: the energy of the difference
// between the columns either side of it (x-1 and x), and the mean energy of
// the same difference between neighbouring columns (two pairs either side),
// over rows 2 .. h-3.
struct EdgeStep {
    double across = 0, beside = 0;
    double excess() const { return across - beside; }
};
EdgeStep edge_step(const PIXEL_YC* pixels, int stride, int x, int h);

// Whether the output shows a tear at either edge of the window [left,
// right) (an edge counts where it has three columns either side in the w
// columns): its step beyond the columns beside it is half again what the
// input's is at that edge, at least three times the columns beside it, and
// beyond what grain of `grain` (the standard deviation of a pixel, in the
// filter's samples) gives on that many rows.
bool torn_frame(const PIXEL_YC* input, const PIXEL_YC* output, int stride, int w, int h, int left, int right,
                double grain);

// The settings tried against a tear, each with the filter itself on the same
// frames: the other TFF, the window's edges 8 columns further out and 8
// further in, the low-pass on. Fills tear.remedy with the first whose output
// tears in fewer than a tenth of the moving frames, leaves no more frames
// visibly combed and combs hardly more (by a tenth on the measure, or 3%)
// than `settings` do, over the whole frame and in the columns within 8 of
// either edge, as the options that change; empty where none does.
bool tear_remedy(const AnalysisRequest& rq, const Survey& s, const std::vector<long>& frames,
                 const SegmentSettings& settings, Tear& tear, std::string& error);

}  // namespace pelta_cli::analysis
