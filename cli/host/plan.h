// A plan: the clip cut into segments, in order, each with its kind and the
// settings to filter it with. `pelta analyze` finds one (its JSON
// `segments`), `pelta --plan` and `pelta --auto` filter by one: segments of
// pelta's kinds with their own settings, the frames of the others passed
// through as they came.
#pragma once

#include <climits>
#include <string>
#include <string_view>
#include <vector>

namespace pelta_cli {

// What a stretch of a clip is. pelta repairs Match (fields out of step) and
// Window (out of step, with a band of displaced columns); the others it
// passes through: Still and Black are stretches without motion, where no
// setting can be told apart from another.
enum class ClipKind { Progressive, Pulldown, Interlaced, Match, Window, Still, Black };

// "progressive", "pulldown", "interlaced", "match", "window", "still",
// "black".
const char* kind_name(ClipKind kind);
// The kind of a name above; false for any other text.
bool kind_from_name(std::string_view name, ClipKind& kind);
// Every name above, in that order: "progressive, pulldown, ..., black".
std::string kind_names();
inline bool is_pelta_kind(ClipKind kind) { return kind == ClipKind::Match || kind == ClipKind::Window; }

// The settings of a segment, as option values (--tff, --left, --width,
// --shift, --lpf).
struct SegmentSettings {
    int tff = 1;
    int left = 0;
    int width = 0;
    int shift = 0;
    int lpf = 1;
    friend bool operator==(const SegmentSettings&, const SegmentSettings&) = default;
};

// A segment's `frames` that runs through the clip's last frame, however many
// there are (a plan made before the clip's length is known).
constexpr long kThroughEnd = LONG_MAX;

struct Segment {
    long start = 0;   // first frame, in the clip's frame numbers
    long frames = 0;  // how many, or kThroughEnd
    ClipKind kind = ClipKind::Progressive;
    SegmentSettings settings;
    double confidence = 0;  // 0..1
};

using Plan = std::vector<Segment>;

}  // namespace pelta_cli
