#include "app/plan_cmd.h"

#include <algorithm>
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
// A plan is a few hundred bytes a segment; anything this large is some other
// file given by mistake.
constexpr size_t kMaxPlanBytes = 16u << 20;

// A JSON value as a message quotes it, cut short when long.
std::string shown(const Json& v) {
    std::string s = v.dump();
    if (s.size() > 40) s = s.substr(0, 37) + "...";
    return s;
}

// A whole number from `lo` to `hi` under `key` of `object`; false with
// `error` set ("\"left\" is missing", "... must be a whole number, not
// \"1\"", "... 5000 is out of range (0 to 2048)").
bool whole_number(const Json& object, const char* key, long long lo, long long hi, long long& out,
                  std::string& error) {
    const auto it = object.find(key);
    if (it == object.end()) {
        error = std::string("\"") + key + "\" is missing";
        return false;
    }
    const Json& v = *it;
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

// One segment of the array; false with `error` set, without the segment's
// name.
bool read_segment(const Json& j, const FILTER_DLL* desc, Segment& s, std::string& error) {
    if (!j.is_object()) {
        error = "is not a JSON object but " + shown(j);
        return false;
    }
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
    if (!kind->is_string()) {
        error = "\"kind\" must be a string, not " + shown(*kind);
        return false;
    }
    if (!kind_from_name(kind->get<std::string>(), s.kind)) {
        error = "unknown kind " + shown(*kind) + " (known: " + kind_names() + ")";
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
        if (k.optional && !j.contains(k.key)) continue;
        long long v = 0;
        if (!whole_number(j, k.key, k.lo, k.hi, v, error)) {
            if (!j.contains(k.key))
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

bool parse_plan(std::string_view text, const std::string& name, const FILTER_DLL* desc, PlanFile& out,
                std::string& error) {
    out = PlanFile{};
    Json j;
    try {
        j = Json::parse(text.begin(), text.end());
    } catch (const Json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 1, ...".
        std::string what = e.what();
        if (const size_t end = what.find("] "); what.rfind("[json.", 0) == 0 && end != std::string::npos)
            what = what.substr(end + 2);
        error = name + " is not JSON: " + what;
        return false;
    }
    if (!j.is_object()) {
        error = name + " is not a JSON object with \"segments\", as pelta analyze --json writes";
        return false;
    }
    const auto segments = j.find("segments");
    if (segments == j.end()) {
        error = name + " has no \"segments\", which pelta analyze --json writes";
        return false;
    }
    if (!segments->is_array()) {
        error = name + ": \"segments\" must be an array, not " + shown(*segments);
        return false;
    }
    if (segments->empty()) {
        error = name + " has no segments (\"segments\" is empty)";
        return false;
    }
    for (const auto& [key, value] : {std::pair{"frame_width", &out.frame_width}, {"frame_height", &out.frame_height}})
        if (j.contains(key)) {
            long long v = 0;
            if (!whole_number(j, key, 1, kMaxSide, v, error)) {
                error = name + ": " + error;
                return false;
            }
            *value = static_cast<int>(v);
        }
    Plan& plan = out.plan;
    for (const Json& item : *segments) {
        Segment s;
        const std::string which = "segment " + std::to_string(plan.size() + 1);
        if (!read_segment(item, desc, s, error)) {
            error = name + ": " + which + (error.rfind("is not", 0) == 0 ? " " : ": ") + error;
            return false;
        }
        if (!plan.empty()) {
            const Segment& prev = plan.back();
            const std::string here = which + " (" + frame_range(s.start, s.frames) + ")";
            if (s.start < prev.start) {
                error = name + ": " + here + " starts before " + describe_segment(plan, plan.size() - 1) +
                        ": segments must be in frame order";
                return false;
            }
            if (s.start < prev.start + prev.frames) {
                error = name + ": " + here + " overlaps " + describe_segment(plan, plan.size() - 1);
                return false;
            }
        }
        plan.push_back(s);
    }
    return true;
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
