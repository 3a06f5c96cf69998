// The verdict: from the survey's records, the floors of the measure, the
// motion and repeated fields, the combing left by field matching and by each
// window the rebuilt frames allow; the kind of clip, the first settings and
// the confidence.
#include "analyze/analyzer.h"

namespace pelta_cli::analysis {

void Analyzer::judge() {
    // Floors: a small share of a typical block's field energy, so that blocks
    // with almost no detail read as clean rather than as noise.
    std::vector<float> fields;
    for (const FrameRecord& r : records_) fields.insert(fields.end(), r.input.field.begin(), r.input.field.end());
    std::nth_element(fields.begin(), fields.begin() + static_cast<long>(fields.size() / 2), fields.end());
    const double median = fields.empty() ? 0 : fields[fields.size() / 2];
    block_floor_ = std::max(1.0, 0.01 * median);
    floor_ = block_floor_ / kBlock;
    texture_floor_ = 0.05 * median;

    // Motion and repeated fields.
    long moving = 0, dups = 0;
    for (const FrameRecord& r : records_) {
        const FieldMotion& m = r.motion;
        if (m.frame < kStill) continue;
        ++moving;
        const double hi = std::max(m.top, m.bottom), lo = std::min(m.top, m.bottom);
        if (hi >= kStill && lo < 0.25 * hi) ++dups;
    }
    dup_share_ = moving ? static_cast<double>(dups) / static_cast<double>(moving) : 0;

    // The input's measure over the moving frames, against the fields' own
    // content: progressive footage measures about what its fields do.
    double c1 = 0, c2 = 0, c4 = 0;
    for (const FrameRecord& r : records_) {
        if (r.motion.frame < kStill) continue;
        for (size_t b = 0; b < static_cast<size_t>(blocks_); ++b) {
            c1 += r.input.comb[b];
            c2 += r.input.field[b];
            c4 += r.field4[b];
        }
    }
    input_over_fields_ = (c1 / (c2 + 1.0)) / std::max(1e-6, c2 / (c4 + 1.0));

    // The input's combing on the sampled frames.
    input_combed_ = 0;
    for (long i : sampled_) {
        const FrameRecord& r = records_[static_cast<size_t>(i)];
        for (size_t b = 0; b < static_cast<size_t>(blocks_); ++b)
            if (textured(r, b)) input_combed_ += excess(block_ratio(r.input.comb[b], r.input.field[b]), base_ratio(r, b));
    }

    // Field matching alone, under each TFF, on the sampled frames.
    for (int t = 0; t < 2; ++t) {
        Option& o = no_window_[t];
        o.tff = t;
        for (long i : sampled_) o.combed += combed_after(i, o, nullptr);
    }
    Option best = no_window_[no_window_[1].combed <= no_window_[0].combed ? 1 : 0];
    const Option matching = best;

    // Windows: for each TFF and coarse shift, the runs of blocks that the
    // rebuilt window leaves clean on (nearly) every sampled frame; each is
    // tried as the window, the filter's choice outside it foreseen.
    for (int t = 0; t < 2; ++t)
        for (int k = 0; k < kCoarseShifts; ++k) {
            std::vector<int> score(static_cast<size_t>(blocks_), 0);
            for (int bl = 0; bl < blocks_; ++bl) {
                const size_t b = static_cast<size_t>(bl);
                long seen = 0, clean = 0;
                for (size_t j = 0; j < sampled_.size(); ++j) {
                    const FrameRecord& r = records_[static_cast<size_t>(sampled_[j])];
                    if (!textured(r, b) || r.motion.frame < kStill) continue;
                    ++seen;
                    const Blocks& wb = rebuilt_[j][static_cast<size_t>(t)][static_cast<size_t>(k)];
                    clean += is_clean(block_ratio(wb.comb[b], wb.field[b]), base_ratio(r, b));
                }
                if (seen >= 2) score[b] = 10 * clean >= 9 * seen ? 1 : -1;
            }
            // Every run of clean blocks (gaps of one block bridged).
            for (int start = 0; start < blocks_;) {
                if (score[static_cast<size_t>(start)] != 1) {
                    ++start;
                    continue;
                }
                int end = start + 1;
                while (end < blocks_ && (score[static_cast<size_t>(end)] == 1 ||
                                         (end + 1 < blocks_ && score[static_cast<size_t>(end)] == 0) ||
                                         (end + 1 < blocks_ && score[static_cast<size_t>(end + 1)] == 1)))
                    ++end;
                while (end > start && score[static_cast<size_t>(end - 1)] != 1) --end;
                if (end - start >= 2) {
                    Option o;
                    o.tff = t;
                    o.lb = start;
                    o.rb = end;
                    o.shift = coarse_shift(k);
                    for (size_t j = 0; j < sampled_.size(); ++j)
                        o.combed += combed_after(sampled_[j], o,
                                                 &rebuilt_[j][static_cast<size_t>(t)][static_cast<size_t>(k)]);
                    // A first window must remove most of what matching alone
                    // leaves, and that must be more than a trace of the
                    // input's combing; later ones need only do better.
                    const bool first = best.rb <= best.lb;
                    const bool worth = o.combed < 0.5 * best.combed &&
                                       best.combed - o.combed >= std::max(0.5, 0.001 * input_combed_);
                    // Among windows that leave about the same, the
                    // narrower: columns the measure cannot tell apart are
                    // no evidence for the band.
                    const double tie = 0.05 + 0.02 * best.combed;
                    const bool better = o.combed < best.combed - tie ||
                                        (o.combed <= best.combed + tie && o.rb - o.lb < best.rb - best.lb);
                    if (first ? worth : better) best = o;
                }
                start = end + 1;
            }
        }
    chosen_ = best;
    tff_ = best.tff;
    shift_ = best.shift;
    left_ = best.lb * kBlock;
    right_ = std::min(w_, best.rb * kBlock);
    repaired_ = input_combed_ > 0 ? 1.0 - best.combed / input_combed_ : 1.0;
    const double matching_repaired = input_combed_ > 0 ? 1.0 - matching.combed / input_combed_ : 1.0;

    if (dup_share_ >= 0.2) {
        kind_ = ClipKind::Pulldown;
        confidence_ = std::min(1.0, dup_share_ / 0.4);
    } else if (input_over_fields_ < kProgressive || input_combed_ < 0.5 * matching.combed) {
        // Progressive: the frames measure about what their fields do, or
        // the frames as they are comb less than any weave of neighbours.
        kind_ = ClipKind::Progressive;
        confidence_ = std::max(std::min(1.0, 2.0 * (kProgressive / input_over_fields_ - 1.0)),
                               matching.combed > 0 ? 1.0 - input_combed_ / matching.combed : 0.0);
    } else if (repaired_ < 0.75) {
        kind_ = ClipKind::Interlaced;
        confidence_ = 1.0 - repaired_;
    } else if (right_ > left_) {
        kind_ = ClipKind::Window;
        confidence_ = repaired_;
    } else {
        kind_ = ClipKind::Match;
        confidence_ = matching_repaired;
    }
}

}  // namespace pelta_cli::analysis
