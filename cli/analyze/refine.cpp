// The fine passes after the verdict: the shift to the sixteenth of a field
// line, the band's edges to the column, and the field order as the filter
// itself settles it.
#include <cstdint>

#include "analyze/analyzer.h"

namespace pelta_cli::analysis {

namespace {

// The segment [l, r) of highest total score (each place +1 for, -1 against,
// 0 for no evidence), trimmed of places without evidence at its ends; its
// score.
int best_segment(const std::vector<int>& score, int& l, int& r) {
    int best = 0, sum = 0, start = 0;
    l = r = 0;
    for (int x = 0; x < static_cast<int>(score.size()); ++x) {
        if (sum <= 0) {
            sum = 0;
            start = x;
        }
        sum += score[static_cast<size_t>(x)];
        if (sum > best) {
            best = sum;
            l = start;
            r = x + 1;
        }
    }
    while (l < r && score[static_cast<size_t>(l)] == 0) ++l;
    while (r > l && score[static_cast<size_t>(r - 1)] == 0) --r;
    return best;
}

// How far the rows of one field stray from the middle of the rows of the
// other field around them, over columns [x0, x1): the residual of the moved
// field against the kept one. Each field is first blurred alike, summed over
// runs of kBlock columns and smoothed [1 2 1] along its own lines: that keeps
// the vertical structure a shift must match, and outweighs the softening that
// a fractional shift's interpolation gives the moved field alone, which would
// otherwise favour the softest shift.
double moved_residual(const PIXEL_YC* frame, int stride, int h, int parity, int x0, int x1) {
    const int groups = (x1 - x0) / kBlock;
    if (groups <= 0 || h < 8) return 0;
    // Column-group sums of every row.
    std::vector<double> sums(static_cast<size_t>(groups) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) {
        const PIXEL_YC* row = frame + static_cast<size_t>(y) * static_cast<size_t>(stride) + x0;
        for (int g = 0; g < groups; ++g) {
            int32_t s = 0;
            for (int k = 0; k < kBlock; ++k) s += row[g * kBlock + k].y;
            sums[static_cast<size_t>(y) * static_cast<size_t>(groups) + static_cast<size_t>(g)] = s;
        }
    }
    // Each row smoothed with its field's lines above and below.
    auto at = [&](int y, int g) {
        return sums[static_cast<size_t>(y) * static_cast<size_t>(groups) + static_cast<size_t>(g)];
    };
    auto smooth = [&](int y, int g) { return at(y - 2, g) + 2 * at(y, g) + at(y + 2, g); };
    double sum = 0;
    for (int y = (parity == 0 ? 4 : 3); y + 3 < h; y += 2)
        for (int g = 0; g < groups; ++g) {
            const double d = smooth(y - 1, g) + smooth(y + 1, g) - 2 * smooth(y, g);
            sum += d * d;
        }
    return sum;
}

}  // namespace

bool Analyzer::refine_shift(std::string& error) {
    // Every shift near the coarse best, on more frame pairs, with the window
    // where the survey found it: the one whose moved field fits the kept one
    // best. On a pair's even frame the filter moves the odd rows with TFF on
    // and the even rows with it off.
    const int lo = std::max(0, shift_ - kFineReach), hi = std::min(kShiftMax, shift_ + kFineReach);
    std::vector<double> residual(static_cast<size_t>(hi - lo + 1), 0.0);
    const long every = pair_stride(kFinePairs);
    if (!pass("shift", 0.55, 0.7,
              [&](SampleRunner& r, long, long f) {
                  if (f % 2 != 0 || (f / 2) % every != 0) return;
                  for (int s = lo; s <= hi; ++s)
                      residual[static_cast<size_t>(s - lo)] +=
                          moved_residual(r.run(controls_for(base_, tff_, left_, right_ - left_, s, 0), f), r.stride(),
                                         h_, tff_, left_, right_);
              },
              error))
        return false;
    shift_ = lo + static_cast<int>(std::min_element(residual.begin(), residual.end()) - residual.begin());
    return true;
}

bool Analyzer::refine_edges(std::string& error) {
    // Each column near an edge, filtered both ways: inside a window (a wider
    // one, or the found one) and outside (the found one, or a narrower one).
    // It belongs to the band where the window leaves it less combed.
    const int wide_l = std::max(0, left_ - kEdgeReach), wide_r = std::min(w_, right_ + kEdgeReach);
    const int narrow_l = std::min(left_ + kEdgeReach, right_), narrow_r = std::max(right_ - kEdgeReach, narrow_l);
    ColumnMeans wide(w_), found(w_), narrow(w_);
    const long every = pair_stride(kFinePairs);
    FrameEnergy e(w_);
    auto measure = [&](SampleRunner& r, long f, int l, int rr, ColumnMeans& into) {
        e.measure(r.run(controls_for(base_, tff_, l, rr - l, shift_, 0), f), r.stride(), w_, h_, false);
        into.add(e.comb, e.field, floor_);
    };
    if (!pass("edges", 0.7, 0.8,
              [&](SampleRunner& r, long, long f) {
                  if ((f / 2) % every != 0) return;
                  measure(r, f, wide_l, wide_r, wide);
                  measure(r, f, left_, right_, found);
                  measure(r, f, narrow_l, narrow_r, narrow);
              },
              error))
        return false;
    const std::vector<double> mw = wide.means(), mf = found.means(), mn = narrow.means();
    std::vector<int> score(static_cast<size_t>(w_), 0);
    for (int x = wide_l; x < wide_r; ++x) {
        const size_t i = static_cast<size_t>(x);
        double in_window, outside;
        if (x < left_ || x >= right_) {
            in_window = mw[i];
            outside = mf[i];
        } else if (x < narrow_l || x >= narrow_r) {
            in_window = mf[i];
            outside = mn[i];
        } else {
            score[i] = 1;
            continue;
        }
        // For the band: the window leaves the column far less combed than
        // matching does. Against: the window combs it more. A window's
        // interpolation softens any column a little, and columns whose
        // content hides the fields' displacement look alike both ways: no
        // evidence either way.
        if (in_window < 0.45 * outside)
            score[i] = 1;
        else if (in_window > 1.1 * outside)
            score[i] = -1;
    }
    int l, r;
    best_segment(score, l, r);
    // Columns without evidence at the band's ends go with the band, up to
    // the first column that the window harms.
    while (l > wide_l && score[static_cast<size_t>(l - 1)] == 0) --l;
    while (r < wide_r && score[static_cast<size_t>(r)] == 0) ++r;
    if (r - l >= kBlock) {
        left_ = l;
        right_ = r;
    }
    return true;
}

bool Analyzer::confirm_tff(std::string& error) {
    // The survey foresaw the filter's choice of weave with this measure in
    // place of the filter's own count, which grain can mislead. The filter
    // itself settles the TFF: the chosen settings under both, without the
    // low-pass (which would hide what is left), on frames across the sample.
    const long every = pair_stride(kFinePairs);
    FrameEnergy e(w_);
    double comb[2] = {0, 0}, field[2] = {0, 0};
    if (!pass("tff", 0.8, 0.85,
              [&](SampleRunner& r, long, long f) {
                  if ((f / 2) % every != 0) return;
                  for (int t = 0; t < 2; ++t) {
                      e.measure(r.run(controls_for(base_, t, left_, right_ - left_, shift_, 0), f), r.stride(), w_,
                                h_, false);
                      for (size_t x = 0; x < e.comb.size(); ++x) {
                          comb[t] += e.comb[x];
                          field[t] += e.field[x];
                      }
                  }
              },
              error))
        return false;
    for (int t = 0; t < 2; ++t) tff_comb_[t] = comb[t] / (field[t] + 1.0);
    if (tff_comb_[1 - tff_] < 0.8 * tff_comb_[tff_]) tff_ = 1 - tff_;
    return true;
}

}  // namespace pelta_cli::analysis
