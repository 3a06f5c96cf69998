#include "app/plan_cmd.h"

#include <algorithm>
#include <map>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/platform.h"

namespace pelta_cli {

using pelta::CHECK_LPF;
using pelta::CHECK_TFF;
using pelta::TRACK_LEFT;
using pelta::TRACK_SHIFT;
using pelta::TRACK_WIDTH;
using Json = nlohmann::json;

namespace {

// Frame numbers and counts a plan may hold: their sum stays within the
// filter's int frame numbers.
constexpr long long kMaxPlanFrame = INT_MAX / 2;
// A plan is a few hundred bytes a segment (a pretty-printed analysis of
// 15000 segments fits); anything larger is some other file given by
// mistake.
constexpr size_t kMaxPlanBytes = 4u << 20;
// How deep a plan's values may nest: a plan itself needs 3 (the object, its
// "segments", a segment), keys it does not read may hold a few levels more.
// Nothing deeper is ever made into a value, so nothing walks one
// recursively (the main thread's stack is 1 MB on Windows).
constexpr int kMaxPlanDepth = 16;

// A JSON value as a message quotes it, cut short when long (a long string
// before it is quoted, so a large one is not copied whole).
std::string shown(const Json& v) {
    constexpr size_t kShown = 40;
    const Json cut = v.is_string() && v.get_ref<const std::string&>().size() > kShown
                         ? Json(v.get_ref<const std::string&>().substr(0, kShown))
                         : v;
    std::string s = cut.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (s.size() > kShown) s = s.substr(0, kShown - 3) + "...";
    return s;
}

// A value under a key the plan reads: a scalar, or for an array or an
// object only which it is (the plan reads neither, and keeps neither: a
// plan costs the memory of its segments, whatever else its text holds).
struct Field {
    Json value;                       // a scalar
    const char* container = nullptr;  // or "an array", "an object"
};
using Fields = std::map<std::string, Field, std::less<>>;

constexpr const char* kAnArray = "an array";
constexpr const char* kAnObject = "an object";

std::string shown(const Field& f) { return f.container ? std::string(f.container) : shown(f.value); }

Field scalar(Json v) {
    Field f;
    f.value = std::move(v);
    return f;
}

// A whole number from `lo` to `hi` under `key` of `object`; false with
// `error` set ("\"left\" is missing", "... must be a whole number, not
// \"1\"", "... 5000 is out of range (0 to 2048)").
bool whole_number(const Fields& object, const char* key, long long lo, long long hi, long long& out,
                  std::string& error) {
    const auto it = object.find(key);
    if (it == object.end()) {
        error = std::string("\"") + key + "\" is missing";
        return false;
    }
    const Json& v = it->second.value;
    if (it->second.container) {
        error = std::string("\"") + key + "\" must be a whole number, not " + shown(it->second);
        return false;
    }
    if (v.is_number_unsigned()) {
        const auto u = v.get<unsigned long long>();
        out = u > static_cast<unsigned long long>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(u);
    } else if (v.is_number_integer()) {
        out = v.get<long long>();
    } else {
        error = std::string("\"") + key + "\" must be a whole number, not " + shown(v);
        return false;
    }
    if (out < lo || out > hi) {
        error = std::string("\"") + key + "\" " + std::to_string(out) + " is out of range (" + std::to_string(lo) +
                " to " + std::to_string(hi) + ")";
        return false;
    }
    return true;
}

// The keys of a segment that the plan reads; the others are passed over.
bool segment_key(std::string_view key) {
    for (const char* k : {"start", "frames", "kind", "tff", "left", "width", "shift", "lpf"})
        if (key == k) return true;
    return false;
}

// One segment of the array; false with `error` set, without the segment's
// name.
bool read_segment(const Fields& j, const FILTER_DLL* desc, Segment& s, std::string& error) {
    long long start = 0, frames = 0;
    if (!whole_number(j, "start", 0, kMaxPlanFrame, start, error) ||
        !whole_number(j, "frames", 1, kMaxPlanFrame, frames, error))
        return false;
    s.start = static_cast<long>(start);
    s.frames = static_cast<long>(frames);
    const auto kind = j.find("kind");
    if (kind == j.end()) {
        error = "\"kind\" is missing";
        return false;
    }
    if (kind->second.container || !kind->second.value.is_string()) {
        error = "\"kind\" must be a string, not " + shown(kind->second);
        return false;
    }
    if (!kind_from_name(kind->second.value.get_ref<const std::string&>(), s.kind)) {
        error = "unknown kind " + shown(kind->second) + " (known: " + kind_names() + ")";
        return false;
    }
    // The settings matter only where the segment is filtered; the other
    // kinds' settings are what --auto --force would use, and a plan file is
    // never forced.
    s.settings.lpf = desc->check_default[CHECK_LPF];
    if (!is_pelta_kind(s.kind)) return true;
    struct Setting {
        const char* key;
        int SegmentSettings::*value;
        long long lo, hi;
        bool optional;  // absent: the filter's default
    };
    const Setting settings[] = {
        {"tff", &SegmentSettings::tff, 0, 1, false},
        {"left", &SegmentSettings::left, desc->track_s[TRACK_LEFT], desc->track_e[TRACK_LEFT], false},
        {"width", &SegmentSettings::width, desc->track_s[TRACK_WIDTH], desc->track_e[TRACK_WIDTH], false},
        {"shift", &SegmentSettings::shift, desc->track_s[TRACK_SHIFT], desc->track_e[TRACK_SHIFT], false},
        {"lpf", &SegmentSettings::lpf, 0, 1, true},
    };
    for (const Setting& k : settings) {
        if (k.optional && !j.count(k.key)) continue;
        long long v = 0;
        if (!whole_number(j, k.key, k.lo, k.hi, v, error)) {
            if (!j.count(k.key))
                error += std::string(" (a ") + kind_name(s.kind) + " segment needs tff, left, width and shift)";
            return false;
        }
        s.settings.*k.value = static_cast<int>(v);
    }
    return true;
}

std::string frame_range(long start, long frames) {
    if (frames == kThroughEnd) return "frames " + std::to_string(start) + " to the end";
    return "frames " + std::to_string(start) + ".." + std::to_string(start + frames - 1);
}

}  // namespace

std::string plan_name(const std::string& path) {
    return path == "-" ? std::string("the plan on standard input") : "plan '" + path + "'";
}

std::string describe_segment(const Plan& plan, size_t index) {
    const Segment& s = plan[index];
    return "segment " + std::to_string(index + 1) + " (" + frame_range(s.start, s.frames) + ")";
}

namespace {

// The plan's text as the JSON library's parser reads it, event by event
// (its SAX interface, which keeps a bit a level and never recurses): no
// document is built, only the segments, each from the few scalars it
// reads, so the memory a plan takes is that of its segments, and a value
// nested deeper than kMaxPlanDepth ends the reading at once. A value's
// place is the depth it stands at: the whole text (0), a member of the plan
// object (1), an element of "segments" (2), a member of a segment (3);
// deeper values and those under keys the plan does not read are passed
// over. The first fault found is kept and the rest of the text only
// parsed, so that text that is not JSON is called that first.
class PlanReader final : public nlohmann::json_sax<Json> {
public:
    PlanReader(const std::string& name, const FILTER_DLL* desc, PlanFile& out) : name_(name), desc_(desc), out_(out) {}

    bool null() override { return place(scalar(nullptr)); }
    bool boolean(bool v) override { return place(scalar(v)); }
    bool number_integer(number_integer_t v) override { return place(scalar(v)); }
    bool number_unsigned(number_unsigned_t v) override { return place(scalar(v)); }
    bool number_float(number_float_t v, const string_t&) override { return place(scalar(v)); }
    bool string(string_t& v) override { return place(scalar(std::move(v))); }
    bool binary(binary_t&) override { return place(scalar(Json())); }  // JSON text has none
    bool start_object(std::size_t) override { return open(kAnObject); }
    bool start_array(std::size_t) override { return open(kAnArray); }
    // A member's key comes just before its value.
    bool key(string_t& k) override {
        key_ = std::move(k);
        return true;
    }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
        // "[json.exception.parse_error.101] parse error at line 1, ...".
        std::string what = e.what();
        if (const size_t end = what.find("] "); what.rfind("[json.", 0) == 0 && end != std::string::npos)
            what = what.substr(end + 2);
        not_json_ = what;
        return false;
    }

    // The outcome once the parser is done: false with one line in `error`.
    bool result(std::string& error) const {
        if (!not_json_.empty())
            error = name_ + " is not JSON: " + not_json_;
        else if (too_deep_)
            error = name_ + " is not a plan: its values nest more than " + std::to_string(kMaxPlanDepth) +
                    " levels deep (a plan needs 3)";
        else if (!fault_.empty())
            error = fault_;
        else if (!seen_segments_)
            error = name_ + " has no \"segments\", which pelta analyze --json writes";
        else if (out_.plan.empty())
            error = name_ + " has no segments (\"segments\" is empty)";
        else
            return true;
        return false;
    }

private:
    bool open(const char* what) {
        Field f;
        f.container = what;
        place(std::move(f));
        if (++depth_ > kMaxPlanDepth) {
            too_deep_ = true;
            return false;
        }
        return true;
    }

    bool close() {
        --depth_;
        if (depth_ == 2 && in_segment_) {
            in_segment_ = false;
            end_segment();
        } else if (depth_ == 1) {
            in_segments_ = false;
        }
        return true;
    }

    void fault(std::string message) {
        if (fault_.empty()) fault_ = std::move(message);
    }

    bool place(Field f) {
        if (!fault_.empty()) return true;
        switch (depth_) {
            case 0:
                if (f.container != kAnObject)
                    fault(name_ + " is not a JSON object with \"segments\", as pelta analyze --json writes");
                break;
            case 1:
                if (key_ == "segments") {
                    if (seen_segments_) fault(name_ + " has \"segments\" twice");
                    seen_segments_ = true;
                    if (f.container == kAnArray)
                        in_segments_ = true;
                    else
                        fault(name_ + ": \"segments\" must be an array, not " + shown(f));
                } else if (key_ == "frame_width" || key_ == "frame_height") {
                    long long v = 0;
                    std::string error;
                    if (!whole_number(Fields{{key_, std::move(f)}}, key_.c_str(), 1, kMaxSide, v, error))
                        fault(name_ + ": " + error);
                    else
                        (key_ == "frame_width" ? out_.frame_width : out_.frame_height) = static_cast<int>(v);
                }
                break;
            case 2:
                if (!in_segments_) break;
                if (f.container != kAnObject) {
                    fault(name_ + ": segment " + std::to_string(out_.plan.size() + 1) + " is not a JSON object but " +
                          shown(f));
                    break;
                }
                segment_.clear();
                in_segment_ = true;
                break;
            case 3:
                if (in_segment_ && segment_key(key_)) segment_[key_] = std::move(f);
                break;
            default: break;
        }
        return true;
    }

    void end_segment() {
        if (!fault_.empty()) return;
        Plan& plan = out_.plan;
        const std::string which = "segment " + std::to_string(plan.size() + 1);
        Segment s;
        std::string error;
        if (!read_segment(segment_, desc_, s, error)) return fault(name_ + ": " + which + ": " + error);
        if (!plan.empty()) {
            const Segment& prev = plan.back();
            const std::string here = which + " (" + frame_range(s.start, s.frames) + ")";
            if (s.start < prev.start)
                return fault(name_ + ": " + here + " starts before " + describe_segment(plan, plan.size() - 1) +
                             ": segments must be in frame order");
            if (s.start < prev.start + prev.frames)
                return fault(name_ + ": " + here + " overlaps " + describe_segment(plan, plan.size() - 1));
        }
        plan.push_back(s);
    }

    const std::string& name_;
    const FILTER_DLL* desc_;
    PlanFile& out_;
    int depth_ = 0;
    std::string key_;
    bool seen_segments_ = false, in_segments_ = false, in_segment_ = false;
    Fields segment_;
    bool too_deep_ = false;
    std::string not_json_, fault_;
};

// "line 3, column 7" of byte `at` of `text`, as the parser's messages count.
std::string text_position(std::string_view text, size_t at) {
    size_t line = 1, line_start = 0;
    for (size_t i = 0; i < at; ++i)
        if (text[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    return "line " + std::to_string(line) + ", column " + std::to_string(at - line_start + 1);
}

}  // namespace

bool parse_plan(std::string_view text, const std::string& name, const FILTER_DLL* desc, PlanFile& out,
                std::string& error) {
    out = PlanFile{};
    // The parser takes a NUL byte for the end of the text, and would not
    // see what follows it.
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
        error = name + " is not JSON: a NUL byte at " + text_position(text, nul);
        return false;
    }
    PlanReader reader(name, desc, out);
    // Strict: nothing but white space may follow the object.
    Json::sax_parse(text.begin(), text.end(), &reader);
    if (reader.result(error)) return true;
    out = PlanFile{};
    return false;
}

bool read_plan_file(const std::string& path, const FILTER_DLL* desc, PlanFile& out, std::string& error) {
    const std::string name = plan_name(path);
    std::FILE* f = stdin;
    if (path != "-") {
        if (platform::file_info(path).kind == platform::FileKind::Directory) {
            error = "cannot read " + name + ": it is a directory";
            return false;
        }
        f = std::fopen(path.c_str(), "rb");
        if (!f) {
            error = "cannot read " + name + ": " + std::strerror(errno);
            return false;
        }
    }
    std::string text;
    char buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() <= kMaxPlanBytes) text.append(buf, got);
    const bool failed = std::ferror(f) != 0;
    const int read_errno = errno;
    if (f != stdin) std::fclose(f);
    if (failed) {
        error = "cannot read " + name + ": " + std::strerror(read_errno);
        return false;
    }
    if (text.size() > kMaxPlanBytes) {
        error = name + " is not a plan: it is larger than " + std::to_string(kMaxPlanBytes >> 20) + " MB";
        return false;
    }
    return parse_plan(text, name, desc, out, error);
}

long first_segment_beyond(const Plan& plan, long frames) {
    for (size_t i = 0; i < plan.size(); ++i)
        if (plan[i].frames != kThroughEnd &&
            static_cast<long long>(plan[i].start) + plan[i].frames > static_cast<long long>(frames))
            return static_cast<long>(i);
    return -1;
}

bool filter_by_plan(Options& opt, Plan plan) {
    const bool any_pelta =
        std::any_of(plan.begin(), plan.end(), [](const Segment& s) { return is_pelta_kind(s.kind); });
    if (!any_pelta && !opt.force) return false;
    opt.plan = std::move(plan);
    opt.by_plan = true;
    opt.plan_filters_every_segment = !any_pelta;
    return true;
}

Controls segment_controls(const Options& opt, const Segment& segment) {
    Controls c = opt.controls;
    const SegmentSettings& s = segment.settings;
    const std::pair<int, int> tracks[] = {{TRACK_LEFT, s.left}, {TRACK_WIDTH, s.width}, {TRACK_SHIFT, s.shift}};
    for (const auto& [index, value] : tracks)
        if (!opt.track_given[index]) c.track[index] = value;
    const std::pair<int, int> checks[] = {{CHECK_TFF, s.tff}, {CHECK_LPF, s.lpf}};
    for (const auto& [index, value] : checks)
        if (!opt.check_given[index]) c.check[index] = value;
    return c;
}

SegmentFate segment_fate(const Options& opt, const Segment& segment) {
    if (!is_pelta_kind(segment.kind))
        return opt.plan_filters_every_segment ? SegmentFate::FilterForced : SegmentFate::PassOtherKind;
    if (!opt.auto_settings || segment.confidence >= kSureConfidence) return SegmentFate::Filter;
    return opt.force ? SegmentFate::FilterForced : SegmentFate::PassDoubtful;
}

std::vector<std::string> filtered_kinds(const Options& opt) {
    std::vector<std::string> kinds;
    for (const Segment& s : opt.plan)
        if (is_filtered(segment_fate(opt, s))) kinds.emplace_back(kind_name(s.kind));
    return kinds;
}

FilterSchedule plan_schedule(const Options& opt) {
    FilterSchedule schedule;
    for (const Segment& s : opt.plan)
        if (is_filtered(segment_fate(opt, s))) schedule.push_back({s.start, s.frames, segment_controls(opt, s)});
    return schedule;
}

}  // namespace pelta_cli
