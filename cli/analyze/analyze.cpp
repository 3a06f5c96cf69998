// The analysis in order (Analyzer::run): the survey, the verdict, the fine
// passes where the clip is pelta's kind, then the result pass, which measures
// the input, field matching alone and the suggested settings column by column
// and keeps the report's picture.
#include "analyze/analyze.h"

#include <algorithm>

#include "analyze/analyzer.h"

namespace pelta_cli {

namespace analysis {

using pelta::CHECK_LPF;

bool Analyzer::result(Analysis& out, std::string& error) {
    const Controls chosen = controls_for(base_, tff_, left_, right_ - left_, shift_, base_.check[CHECK_LPF]);
    const Controls matching = controls_for(base_, tff_, 0, 0, 0, 0);
    column_input_ = ColumnMeans(w_);
    column_matched_ = ColumnMeans(w_);
    column_output_ = ColumnMeans(w_);
    FrameEnergy e(w_);
    double sums[4] = {0, 0, 0, 0};  // comb and field energy, with the settings: in the band, outside it
    double msums[4] = {0, 0, 0, 0};  // the same after field matching alone
    double total[4] = {0, 0, 0, 0};  // input comb, field; output comb, field
    auto split = [&](double* into) {
        for (int x = 0; x < w_; ++x) {
            const int side = (x >= left_ && x < right_) ? 0 : 2;
            into[side] += e.comb[static_cast<size_t>(x)];
            into[side + 1] += e.field[static_cast<size_t>(x)];
        }
    };
    const bool ok = pass("result", 0.85, 1.0,
                         [&](SampleRunner& r, long, long f) {
                             e.measure(r.input(f), r.stride(), w_, h_, false);
                             column_input_.add(e.comb, e.field, floor_);
                             for (size_t x = 0; x < e.comb.size(); ++x) {
                                 total[0] += e.comb[x];
                                 total[1] += e.field[x];
                             }
                             e.measure(r.run(matching, f), r.stride(), w_, h_, false);
                             column_matched_.add(e.comb, e.field, floor_);
                             split(msums);
                             const PIXEL_YC* o = r.run(chosen, f);
                             e.measure(o, r.stride(), w_, h_, false);
                             column_output_.add(e.comb, e.field, floor_);
                             split(sums);
                             for (size_t x = 0; x < e.comb.size(); ++x) {
                                 total[2] += e.comb[x];
                                 total[3] += e.field[x];
                             }
                             frame_output_.push_back(e.whole(1.0));
                             if (f == picture_frame_) {
                                 auto copy = [&](const PIXEL_YC* src, std::vector<PIXEL_YC>& dst) {
                                     dst.resize(static_cast<size_t>(w_) * static_cast<size_t>(h_));
                                     for (int y = 0; y < h_; ++y)
                                         std::copy(src + static_cast<size_t>(y) * static_cast<size_t>(r.stride()),
                                                   src + static_cast<size_t>(y) * static_cast<size_t>(r.stride()) + w_,
                                                   dst.begin() + static_cast<long>(y) * w_);
                                 };
                                 out.picture.frame = f;
                                 copy(r.input(f), out.picture.before);
                                 copy(o, out.picture.after);
                             }
                         },
                         error);
    const double n = static_cast<double>(std::max<long>(1, frames_));
    auto measure = [&](double c, double fe, int columns) { return c / (fe + floor_ * n * std::max(1, columns)); };
    const int band = right_ - left_;
    band_output_ = measure(sums[0], sums[1], band);
    rest_output_ = measure(sums[2], sums[3], w_ - band);
    band_matched_ = measure(msums[0], msums[1], band);
    rest_matched_ = measure(msums[2], msums[3], w_ - band);
    input_comb_ = measure(total[0], total[1], w_);
    output_comb_ = measure(total[2], total[3], w_);
    return ok;
}

bool Analyzer::run(Analysis& out, std::string& error) {
    out = Analysis{};
    out.start = rq_.start;
    out.w = w_;
    out.h = h_;
    if (!survey(error)) return false;
    if (frames_ < kMinAnalysisFrames) {
        error = "the analysis needs at least " + std::to_string(kMinAnalysisFrames) + " frames from frame " +
                std::to_string(rq_.start) + ", and the clip has " + std::to_string(frames_) + " there";
        return false;
    }
    long moving = 0;
    for (const FrameRecord& r : records_) moving += r.motion.frame >= kStill;
    if (moving < 4) {
        error = "cannot tell: frames " + std::to_string(rq_.start) + ".." + std::to_string(rq_.start + frames_ - 1) +
                " hold no motion, and without motion the fields of neighbouring frames look alike; analyse a "
                "stretch with motion (--start)";
        return false;
    }
    judge();
    if (right_ > left_) {
        if (!refine_shift(error) || !refine_edges(error)) return false;
    }
    if (is_pelta_kind(kind_) && !confirm_tff(error)) return false;
    // The picture for the report: the frame whose input combs most where the
    // settings work (the window, or the whole frame).
    {
        const int lb = right_ > left_ ? left_ / kBlock : 0, rb = right_ > left_ ? (right_ - 1) / kBlock + 1 : blocks_;
        double best = -1;
        for (const FrameRecord& r : records_) {
            double c = 0;
            for (int b = lb; b < rb; ++b) c += r.input.comb[static_cast<size_t>(b)];
            if (c > best) {
                best = c;
                picture_frame_ = r.frame;
            }
        }
    }
    if (!result(out, error)) return false;
    out.kind = kind_;
    out.settings = SuggestedSettings{tff_, right_ > left_ ? left_ : 0, right_ - left_, right_ > left_ ? shift_ : 0};
    out.frames = frames_;
    out.input_comb = input_comb_;
    out.output_comb = output_comb_;
    out.column_input = column_input_.means();
    out.column_matched = column_matched_.means();
    out.column_output = column_output_.means();
    out.frame_input = frame_input_;
    out.frame_output = frame_output_;
    out.confidence = std::clamp(confidence_, 0.0, 1.0);
    describe(out);
    return true;
}

}  // namespace analysis

bool analyze_clip(const AnalysisRequest& request, Analysis& out, std::string& error) {
    // The measure needs rows two field lines either side, and a block of
    // columns.
    if (request.w < 8 || request.h < 12) {
        error = "cannot tell: frames of " + std::to_string(request.w) + "x" + std::to_string(request.h) +
                " are too small to measure combing (the analysis needs at least 8x12)";
        return false;
    }
    analysis::Analyzer analyzer(request);
    return analyzer.run(out, error);
}

}  // namespace pelta_cli
