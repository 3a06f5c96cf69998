// A segment in words: the verdict and evidence sentences, the advice, the
// warnings and the confidence they bound.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analyze/passes.h"

namespace pelta_cli::analysis {

namespace {

std::string fmt(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// A figure the words quote, recorded in w.figures under its key with what it
// is, so that the text, the JSON and the page show the one value; answers
// its text.
std::string quote(Words& w, const std::string& key, const std::string& label, double v, bool defined) {
    for (const Figure& f : w.figures)
        if (f.key == key) return f.text();
    w.figures.push_back(Figure{key, label, v, defined});
    return w.figures.back().text();
}

// Over which frames a figure was measured: the refinement's filter runs, or
// every sampled frame of the segment (the result pass).
std::string on_filtered(const Refinement& r) { return ", on the " + std::to_string(r.frames) + " frames the filter ran on"; }
std::string on_looked(const Combing& c) { return ", over the " + std::to_string(c.frames) + " frames looked at"; }

// "41%": a share as people read it.
std::string percent(double v) { return fmt("%.0f%%", 100.0 * v); }
std::string on_off(int v) { return v ? "on" : "off"; }
std::string of(long n, long m) { return std::to_string(n) + " of " + std::to_string(m); }

// The most confidence a verdict keeps with a warning beside it.
constexpr double kWarned = 0.45;

// What the low-pass would do with these settings, by the filter's own runs:
// it filters the frames whose comb count reaches its threshold.
std::string lowpass_sentence(const Refinement& r) {
    const SegmentSettings& s = r.settings;
    if (s.lpf)
        return " The low-pass stays on (--lpf 1): without it these settings leave " + of(r.visible, r.frames) +
               " frames visibly combed, and it filters " + std::to_string(r.lowpassed - r.lowpassed_clean) +
               " of them.";
    return " The low-pass is off (--lpf 0): these settings leave " + of(r.visible, r.frames) +
           " frames visibly combed without it, and it would soften " + of(r.lowpassed, r.frames) + ".";
}

// Where both TFF settings comb alike, the choice rests on other ground, and
// the figures say so.
std::string tff_tie_sentence(ClipKind kind, const Refinement& r) {
    const SegmentSettings& s = r.settings;
    if (r.turned_from.moving > 0)
        return " With TFF " + on_off(1 - s.tff) + " the filtered picture stepped across the window's edges in " +
               of(r.turned_from.torn, r.turned_from.moving) + " moving frames (a tear); TFF " + on_off(s.tff) +
               " removes it without combing more, and is taken.";
    const double ta = r.tff_comb[s.tff], tb = r.tff_comb[1 - s.tff];
    if (std::fabs(ta - tb) > kAlike * std::max(ta, tb)) return "";
    if (kind == ClipKind::Window)
        return " Both TFF settings comb alike (within 3% over the whole frame); with TFF " + on_off(s.tff) +
               " the window is rebuilt from the frames the picture around it shows most often.";
    return " Both TFF settings comb alike (within 3%): either restores the clip.";
}

// The verdict and evidence of pelta's two kinds.
void pelta_kind_words(ClipKind kind, const Refinement& r, const Combing& c, Words& w) {
    const SegmentSettings& s = r.settings;
    const bool def = c.defined;
    const std::string tail = tff_tie_sentence(kind, r) + lowpass_sentence(r);
    const std::string input = quote(w, "input", "the input" + on_looked(c), c.input, def);
    const std::string tff = "TFF " + on_off(s.tff), other_tff = "TFF " + on_off(1 - s.tff);
    if (kind == ClipKind::Match) {
        w.verdict = "match: the fields are out of step; pelta's field matching repairs them without a window.";
        const std::string settings = quote(w, "settings", "field matching with " + tff + ", low-pass off" + on_filtered(r),
                                           r.tff_comb[s.tff], def);
        const std::string other = quote(w, "other_tff", "field matching with " + other_tff + ", low-pass off" + on_filtered(r),
                                        r.tff_comb[1 - s.tff], def);
        w.evidence = "field matching with " + tff + " leaves combing " + settings + " (" + other_tff + ": " + other +
                     "), against " + input + " in the input (low-pass off; a clean picture measures well below 1)." +
                     tail;
        return;
    }
    const std::string columns =
        "columns " + std::to_string(s.left) + ".." + std::to_string(s.left + s.width - 1);
    w.verdict = "window: the fields are out of step, and " + columns +
                " hold a band whose fields are displaced against each other; pelta repairs both with the "
                "settings below.";
    const std::string matched = "field matching alone, low-pass off, ";
    const std::string window = "with this window and " + tff + ", low-pass off, ";
    const std::string other = "with this window and " + other_tff + ", low-pass off, ";
    // Quoted in the order the sentence reads.
    const std::string mb = quote(w, "matched_band", matched + "in " + columns + on_looked(c), c.band_matched, def);
    const std::string mr = quote(w, "matched_rest", matched + "in the rest" + on_looked(c), c.rest_matched, def);
    const std::string sb = quote(w, "settings_band", window + "in " + columns + on_filtered(r), r.band_comb[s.tff], def);
    const std::string sr = quote(w, "settings_rest", window + "in the rest" + on_filtered(r), r.rest_comb[s.tff], def);
    const std::string ob = quote(w, "other_tff_band", other + "in " + columns + on_filtered(r), r.band_comb[1 - s.tff], def);
    const std::string orr = quote(w, "other_tff_rest", other + "in the rest" + on_filtered(r), r.rest_comb[1 - s.tff], def);
    w.evidence = "field matching alone leaves combing " + mb + " in " + columns + " and " + mr +
                 " in the rest; with this window (shift " + std::to_string(s.shift) + ", " + tff + ") " + sb + " and " +
                 sr + " (" + other_tff + ": " + ob + " and " + orr + "), against " + input +
                 " in the input (low-pass off throughout; a clean picture measures well below 1)." + tail;
}

// The verdict, evidence and advice of the kinds pelta does not repair.
void other_kind_words(const Verdict& v, const Combing& c, Words& w) {
    const bool def = c.defined;
    const std::string clean = " (a clean picture measures well below 1)";
    switch (v.kind) {
        case ClipKind::Pulldown:
            w.verdict = "pulldown: this is telecined film, a cadence of repeated fields; that is not pelta's job.";
            w.evidence = percent(v.dup_share) +
                         " of the moving frames repeat one field of the frame before, the cadence of pulldown.";
            w.advice = "a pulldown remover: ffmpeg -vf fieldmatch,decimate; in the editor, an inverse-telecine "
                       "plug-in";
            return;
        case ClipKind::Interlaced:
            w.verdict = "interlaced: each field is its own moment, and no weave of neighbouring fields removes the "
                        "combing; that is not pelta's job.";
            quote(w, "matched", "field matching alone, low-pass off" + on_looked(c), c.matched, def);
            quote(w, "input", "the input" + on_looked(c), c.input, def);
            // Where the weaves read as out of step but the filter combed
            // more than the input, the filter's own result is the evidence.
            w.evidence = (v.gap < 0.25 ? "each field combs about as much woven with the field before it as with the "
                                         "one after it (the second-best weave stands " +
                                             fmt("%.2f", v.gap) +
                                             " of the way from the best to the worst; out-of-step fields give 0.25 "
                                             "and more)"
                                       : std::string("a neighbour's field fits better than the frame's own in "
                                                     "places, yet no weave repairs the frames")) +
                         ": field matching alone leaves combing " +
                         quote(w, "matched", "field matching alone, low-pass off" + on_looked(c), c.matched, def) +
                         " (low-pass off), against " + quote(w, "input", "the input" + on_looked(c), c.input, def) +
                         " in the input" + clean + ".";
            w.advice = "a deinterlacer: ffmpeg -vf bwdif; in the editor, its own deinterlacing";
            return;
        case ClipKind::Progressive:
            w.verdict = "progressive: the frames are not combed, so there is nothing for pelta to repair (its "
                        "weaves would comb them).";
            quote(w, "matched", "field matching alone, low-pass off" + on_looked(c), c.matched, def);
            quote(w, "input", "the input" + on_looked(c), c.input, def);
            w.evidence = "in " + percent(v.input_share) +
                         " of the moving frames the frame as it is combs less than either weave with the next frame; "
                         "field matching would leave combing " +
                         quote(w, "matched", "field matching alone, low-pass off" + on_looked(c), c.matched, def) +
                         ", against " + quote(w, "input", "the input" + on_looked(c), c.input, def) +
                         " in the input: they are whole pictures, and pelta would replace one field of each with a "
                         "neighbour's.";
            w.advice = "nothing: use the clip as it is, or filter only a stretch that is combed";
            return;
        default:
            w.verdict = std::string(v.kind == ClipKind::Black ? "black" : "still") +
                        ": the frames do not move, so no setting can be told from another; they need nothing.";
            w.evidence = "fewer than one in five frames moved by more than the grain.";
            w.advice = "nothing: pass these frames through";
    }
}

// A tear at the window's edges, where the filtered output shows one in a
// tenth of the moving frames or more (measured there: tear.h), and what
// removes it where something tried did. Where nothing tried removes it, the
// tear is the footage's own: the band shows other moments than the picture
// around it under every setting, so it casts no doubt on these settings,
// and the warning is given without bounding the confidence (`note`); where
// another setting removes it, these are not the best settings (`warn`).
template <typename Warn, typename Note>
void add_tear_warning(const Tear& t, const Warn& warn, const Note& note) {
    if (t.moving <= 0 || t.torn * 10 < t.moving) return;
    std::string text = "in " + of(t.torn, t.moving) +
                       " moving frames the filtered picture steps across the window's edges where the input does "
                       "not (a tear: the window shows another moment than the picture around it); ";
    if (!t.remedy.empty()) {
        warn(text + t.remedy + " removes it without combing more: try it");
        return;
    }
    note(text + "no setting tried removes it (the other TFF, the edges 8 columns further out or in, the low-pass): "
                "check the band's edges by eye");
}

// What the figures themselves cast doubt on; each warning bounds the
// confidence, but for a tear that is the footage's own.
void add_warnings(const Verdict& v, const Refinement& r, const Combing& c, Words& w) {
    const ClipKind kind = v.kind;
    bool bounded = false;
    auto note = [&](const std::string& text) { w.warnings.push_back(text); };
    auto warn = [&](const std::string& text) {
        note(text);
        w.confidence = std::min(w.confidence, kWarned);
        bounded = true;
    };
    if (!c.defined)
        warn("the frames hold too little detail to measure combing (flat or nearly black pictures), so the figures "
             "cannot tell; analyse a stretch with detail and motion (--start, --frames)");
    // Combing left casts doubt on the kind where the settings take off less
    // of the input's than a window must take off of field matching's; where
    // they take off more, the fields were out of step, and what is left
    // (grain through a codec, a picture that combs by itself) is far less
    // than came in: passed through as doubtful, the frames would keep it all.
    if (is_pelta_kind(kind) && c.frames > 0 && c.visible * 10 >= c.frames) {
        const std::string text = "the settings leave " + of(c.visible, c.frames) +
                                 " sampled frames visibly combed (measure 1 or more): look at them (--report), and "
                                 "analyse a stretch that combs by itself (--start, --frames) if the clip changes kind";
        if (c.output > (1 - kWindowGain) * c.input)
            warn(text);
        else
            note(text);
    }
    if (kind == ClipKind::Window) add_tear_warning(c.tear, warn, note);
    if (r.chroma_judged && r.chroma_disagree >= 0.5 && r.moving > 0 && r.misled * 10 >= r.moving)
        warn("the colour disagrees with luma about which fields belong together (" + percent(r.chroma_disagree) +
             " of the colour's votes), and misled field matching in " + of(r.misled, r.moving) +
             " moving frames: the colour was probably converted without regard to the fields, as ffmpeg's -pix_fmt "
             "yuv420p does from 4:2:2; decode again with -vf scale=interl=1,format=yuv420p, or keep 4:2:2");
    if (v.unlike.frames > 0)
        warn("judged alone, frames " + std::to_string(v.unlike.start) + ".." + std::to_string(v.unlike.end() - 1) +
             " read as " + kind_name(v.unlike_kind) +
             ", not as the segment reads: it may hold a change that the analysis could not place; analyse those "
             "frames alone (--start, --frames) and check the result by eye");
    if (v.unsure.frames > 0)
        warn("where this segment and frames " + std::to_string(v.unsure.start) + ".." +
             std::to_string(v.unsure.end() - 1) + " part is unsure: the window's band combs the match frames no "
             "more than field matching does, so the band may go on there unseen; check the frames around the "
             "boundary by eye");
    if (!bounded && w.confidence < 0.5)
        warn("the evidence is slight: too few frames move clearly, or the weaves of neighbouring fields differ too "
             "little, to tell the kinds apart surely (grain and a codec's losses can tip them); analyse a stretch with "
             "more motion (--start, --frames) or check the result by eye");
}

// The result pass's figures beside those the evidence quotes: field
// matching alone and the settings as suggested (the low-pass as it says),
// over every frame looked at, which the page's curves show too.
void add_result_figures(ClipKind kind, const Refinement& r, const Combing& c, Words& w) {
    if (!moving_kind(kind)) return;
    const bool def = c.defined;
    const std::string looked = on_looked(c);
    quote(w, "input", "the input" + looked, c.input, def);
    quote(w, "matched", "field matching alone, low-pass off" + looked, c.matched, def);
    if (!is_pelta_kind(kind)) return;
    const SegmentSettings& s = r.settings;
    const std::string with = "with the settings (low-pass " + on_off(s.lpf) + "), ";
    if (s.width > 0) {
        const std::string columns = "columns " + std::to_string(s.left) + ".." + std::to_string(s.left + s.width - 1);
        quote(w, "matched_band", "field matching alone, low-pass off, in " + columns + looked, c.band_matched, def);
        quote(w, "matched_rest", "field matching alone, low-pass off, in the rest" + looked, c.rest_matched, def);
        quote(w, "output_band", with + "in " + columns + looked, c.band_output, def);
        quote(w, "output_rest", with + "in the rest" + looked, c.rest_output, def);
    }
    quote(w, "output", with + "the whole frame" + looked, c.output, def);
}

}  // namespace

Words describe(const Verdict& v, const Refinement& r, const Combing& c) {
    Words w;
    if (is_pelta_kind(v.kind))
        pelta_kind_words(v.kind, r, c, w);
    else
        other_kind_words(v, c, w);
    add_result_figures(v.kind, r, c, w);
    w.confidence = v.confidence;
    add_warnings(v, r, c, w);
    w.confidence = std::clamp(w.confidence, 0.0, 1.0);
    return w;
}

}  // namespace pelta_cli::analysis
