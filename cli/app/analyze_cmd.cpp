#include "app/analyze_cmd.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "analyze/analyze.h"
#include "app/analysis_input.h"
#include "app/option_table.h"
#include "app/plan_cmd.h"
#include "host/frame_adapters.h"
#include "host/plugin.h"
#include "io/output_file.h"
#include "platform/platform.h"

namespace pelta_cli {

using pelta::CHECK_LPF;
using pelta::CHECK_TFF;
using pelta::TRACK_LEFT;
using pelta::TRACK_SHIFT;
using pelta::TRACK_WIDTH;

namespace {

int fail(const std::string& message, int status = 1) {
    std::fprintf(stderr, "pelta analyze: %s\n", message.c_str());
    return status;
}

// The command line as given, with the input replaced by "-".
std::string command_from_stdin(int argc, const char* const* argv, int input_at, const char* first) {
    std::string cmd = std::string(program_name()) + " " + first;
    for (int i = 1; i < argc; ++i) cmd += " " + (i == input_at ? std::string("-") : quote_arg(argv[i]));
    return cmd;
}

// The progress line on a terminal, after `who` ("pelta analyze", "pelta --auto").
std::function<void(const char*, double)> progress_line(bool enabled, const char* who) {
    if (!enabled) return {};
    auto last = std::make_shared<std::chrono::steady_clock::time_point>();
    return [last, who](const char* stage, double done) {
        const auto now = std::chrono::steady_clock::now();
        if (now - *last < std::chrono::milliseconds(200) && done < 1.0) return;
        *last = now;
        std::fprintf(stderr, "\r%s: %s, %d%%\x1b[K", who, stage, static_cast<int>(done * 100));
        std::fflush(stderr);
    };
}

void clear_progress(bool enabled) {
    if (enabled) std::fputs("\r\x1b[K", stderr);
}

// Runs the analysis over the opened input, with the progress line on a
// terminal unless `quiet`, in the name of `who`.
bool analyze_input(AnalysisInput& input, const FILTER_DLL* desc, long start, long frames, bool quiet, const char* who,
                   Analysis& a, std::string& error) {
    const bool show_progress = !quiet && platform::progress_terminal(stderr);
    AnalysisRequest rq;
    rq.desc = desc;
    rq.w = input.w();
    rq.h = input.h();
    rq.start = start;
    rq.frames = frames;
    rq.clip = &input.clip();
    rq.progress = progress_line(show_progress, who);
    bool ok = analyze_clip(rq, a, error);
    if (!ok && input.misread()) {
        // A file's FRAME lines carried parameters where the first did not:
        // its frames differ in size, and it is read once through instead.
        a = Analysis{};
        ok = input.read_as_stream(error);
        rq.clip = &input.clip();
        ok = ok && analyze_clip(rq, a, error);
    }
    clear_progress(show_progress);
    return ok;
}

struct AnalyzeOptions {
    std::string input, report;
    long frames = -1, start = 0;
    bool json = false, quiet = false, raw = false;
    int raw_w = 0, raw_h = 0;
};

enum { kShowHelp = 1 };

// The command line of `pelta analyze`, its values stored into `o`.
OptionTable analyze_options(AnalyzeOptions& o) {
    static const HelpGroup kOptions{nullptr, 19};
    OptionTable t;
    t.inline_values = false;
    t.double_dash = false;
    t.digits_only = true;
    t.unknown_hint = std::string(" (see ") + program_name() + " analyze --help)";
    t.rows = {
        {.name = "--frames",
         .arg = "N",
         .kind = ArgKind::Number,
         .lo = kMinAnalysisFrames,
         .hi = 100000,
         .store = set_number(o.frames),
         .group = &kOptions,
         .help = "frames from --start to look at (default: to the clip's end; a long stretch is sampled)"},
        {.name = "--start",
         .arg = "F",
         .kind = ArgKind::Number,
         .lo = 0,
         .hi = INT_MAX / 2,
         .expects = "a frame number from 0 to " + std::to_string(INT_MAX / 2),
         .store = set_number(o.start),
         .group = &kOptions,
         .help = "first frame to look at (default 0)"},
        {.name = "--json",
         .store = set_flag(o.json),
         .group = &kOptions,
         .help = "print one JSON object on standard output and nothing else there"},
        {.name = "--report",
         .arg = "PAGE",
         .kind = ArgKind::Text,
         .store =
             [&o](const OptionValue& v, std::string& error) {
                 // The verdict goes to standard output: the page cannot go there too.
                 if (v.text == "-")
                     error = "--report - would mix the page into the verdict on standard output; name a file for "
                             "the page";
                 return error.empty() && set_file_name(o.report, "--report")(v, error);
             },
         .group = &kOptions,
         .help = "also write a self-contained HTML page with pictures and profiles"},
        raw_option(o.raw, o.raw_w, o.raw_h, &kOptions, "raw frames of W x H pixels, as pelta --raw reads them"),
        {.name = "--quiet", .alias = "-q", .store = set_flag(o.quiet), .group = &kOptions, .help = "no progress line"},
        {.name = "--help",
         .alias = "-h",
         .kind = ArgKind::Action,
         .action = kShowHelp,
         .group = &kOptions,
         .help = "show this help"},
    };
    // The filter was loaded from the plug-in before the analysis began.
    if (can_load_plugins())
        t.rows.insert(t.rows.end() - 1,
                      OptionRow{.name = "--plugin",
                                .arg = "FILE",
                                .kind = ArgKind::Text,
                                .store = [](const OptionValue&, std::string&) { return true; },
                                .group = &kOptions,
                                .help = "analyse with the filter of a plug-in DLL (pelta.auf)"});
    return t;
}

std::string analyze_help() {
    AnalyzeOptions unused;
    return std::string("Usage: ") + program_name() + " analyze [OPTIONS] INPUT\n" +
           "\n"
           "Tells whether the clip is footage pelta repairs, and with which settings: runs the filter\n"
           "over a sample of the clip under candidate settings and measures the combing left.\n"
           "INPUT is a Y4M file, or - for standard input (any format pelta reads).\n"
           "\n" +
           table_help(analyze_options(unused)) +
           "\n"
           "The verdict is one of: progressive, pulldown, interlaced (not pelta's job: it says what to\n"
           "use instead), match (field matching alone: --width 0) and window (a band of columns that\n"
           "the processing window repairs: --left, --width, --shift), and still or black for frames\n"
           "without motion. Both pelta kinds come with --tff and --lpf. A clip of several kinds is\n"
           "cut into segments, each with its kind and settings (pelta --plan filters by them).\n"
           "\n"
           "Exit status: 0 a verdict (whatever the kind), 1 error, 2 usage error.\n";
}

}  // namespace

int run_analyze(int argc, const char* const* argv, const FILTER_DLL* desc) {
    AnalyzeOptions o;
    int npos = 0, input_at = 0;
    auto take_input = [&](int i, std::string_view arg, std::string& error) {
        if (npos++) {
            error = "too many arguments ('" + std::string(arg) + "'): expected one INPUT";
            return false;
        }
        o.input = std::string(arg);
        input_at = i;
        return true;
    };
    std::string error;
    const ParseResult parsed = parse_with_table(analyze_options(o), argc, argv, take_input, error);
    if (parsed.stop == ParseStop::Error) return fail(error, 2);
    if (parsed.stop == ParseStop::Action) return print_to_stdout(analyze_help(), "pelta analyze");
    if (o.input.empty())
        return fail("missing INPUT (use - for standard input; see " + std::string(program_name()) + " analyze --help)",
                    2);
    // Neither the page nor the verdict may replace the input or each other.
    const platform::FileInfo in_file = o.input == "-" ? platform::stream_info(stdin) : platform::file_info(o.input);
    if (!check_outputs(in_file, {{"-", "the verdict on standard output"}, option_output("--report", o.report)}, error))
        return fail(error);

    AnalysisInput input;
    if (!input.open_input(o.input, o.raw, o.raw_w, o.raw_h, command_from_stdin(argc, argv, input_at, "analyze"), nullptr,
                          error))
        return fail(error, input.usage_error() ? 2 : 1);

    Analysis a;
    if (!analyze_input(input, desc, o.start, o.frames, o.quiet, "pelta analyze", a, error)) return fail(error);
    if (input.truncation().happened())
        std::fprintf(stderr, "pelta analyze: warning: %s\n", input.truncation().describe().c_str());
    if (!o.report.empty() && !write_analysis_report(a, o.input, o.report, error)) return fail(error);
    const std::string text = o.json ? analysis_json(a) + "\n" : analysis_text(a);
    return print_to_stdout(text, "pelta analyze");
}

std::vector<std::string> auto_segment_lines(const Options& opt) {
    std::vector<std::string> lines;
    for (const Segment& g : opt.plan) {
        char confidence[16];
        std::snprintf(confidence, sizeof confidence, "%.2f", g.confidence);
        std::string line = "frames " + std::to_string(g.start) + ".." +
                           (g.frames == kThroughEnd ? std::string("end") : std::to_string(g.start + g.frames - 1)) +
                           " (" + kind_name(g.kind) + ", confidence " + confidence + "): ";
        const SegmentFate fate = segment_fate(opt, g);
        if (is_filtered(fate)) {
            const Controls c = segment_controls(opt, g);
            line += "filtering with --left " + std::to_string(c.track[TRACK_LEFT]) + " --width " +
                    std::to_string(c.track[TRACK_WIDTH]) + " --shift " + std::to_string(c.track[TRACK_SHIFT]) +
                    " --tff " + std::to_string(c.check[CHECK_TFF]) + " --lpf " + std::to_string(c.check[CHECK_LPF]);
            if (fate == SegmentFate::FilterForced)
                line += is_pelta_kind(g.kind) ? " (doubtful; --force)" : " (not pelta's kind; --force)";
            // The frames the run filters with the window closed: their pair's
            // other frame lies outside the segment.
            const FilterStretch stretch{g.start, g.frames, c};
            std::vector<long> edges = {g.start};
            if (g.frames != kThroughEnd && g.frames > 1) edges.push_back(g.start + g.frames - 1);
            std::vector<long> closed;
            for (long f : edges)
                if (c.track[TRACK_WIDTH] > 0 && controls_at(stretch, f).track[TRACK_WIDTH] == 0) closed.push_back(f);
            if (closed.size() == 1)
                line += "; frame " + std::to_string(closed[0]) +
                        " with the window closed (its pair's other frame is outside the segment)";
            else if (closed.size() == 2)
                line += "; frames " + std::to_string(closed[0]) + " and " + std::to_string(closed[1]) +
                        " with the window closed (their pairs' other frames are outside the segment)";
        } else {
            char sure[16];
            std::snprintf(sure, sizeof sure, "%.2f", kSureConfidence);
            line += fate == SegmentFate::PassDoubtful
                        ? std::string("passed through (doubtful: below ") + sure + "; --force filters it)"
                        : std::string("passed through (not pelta's kind)");
        }
        lines.push_back(line);
    }
    return lines;
}

int apply_auto_settings(Options& opt, const FILTER_DLL* desc, std::FILE* in, const std::string& from_stdin,
                        std::unique_ptr<ByteSource>& replay) {
    AnalysisInput input;
    std::string error;
    // From a pipe, the first frames are read whole before the analysis, to
    // be filtered after it; the analysis looks at those.
    const AutoCopy copy{opt.auto_start, opt.auto_frames};
    if (!input.open_input(opt.input, opt.raw, opt.raw_w, opt.raw_h, from_stdin, &copy, error, in)) {
        std::fprintf(stderr, "pelta: %s\n", error.c_str());
        return input.usage_error() ? 2 : 1;
    }
    // Usage errors that the frame size shows come before the analysis.
    if (!row_stride(opt, input.w(), input.h(), error)) {
        std::fprintf(stderr, "pelta: %s (see %s --help)\n", error.c_str(), program_name());
        return 2;
    }
    Analysis a;
    if (!analyze_input(input, desc, opt.auto_start, opt.auto_frames ? opt.auto_frames : -1, opt.quiet, "pelta --auto",
                       a, error)) {
        std::fprintf(stderr, "pelta: --auto: %s\n", error.c_str());
        return 1;
    }
    // One kind: its verdict; several: the segments follow, each with what
    // the run does with it.
    if (a.segments.size() == 1)
        std::fprintf(stderr, "pelta: --auto: %s\n", a.main().words.verdict.c_str());
    else
        std::fprintf(stderr, "pelta: --auto: the clip holds %zu segments of different kinds or settings\n",
                     a.segments.size());
    // From a pipe the analysis saw only what was read before filtering.
    if (input.copied() && input.copy_reached_end())
        std::fprintf(stderr, "pelta: --auto: from a pipe it judged frames %ld..%ld, all it held (read before "
                             "filtering)\n",
                     a.start, a.start + a.span - 1);
    else if (input.copied())
        std::fprintf(stderr, "pelta: --auto: from a pipe it judged frames %ld..%ld (read before filtering); the frames "
                             "after them go with the last segment\n",
                     a.start, a.start + a.span - 1);
    // The segments cover the frames looked at; the first reaches back to
    // the clip's start and the last on to its end.
    Plan plan = a.plan();
    if (!plan.empty()) {
        plan.back().frames = kThroughEnd;
        plan.front().frames = plan.size() == 1 ? kThroughEnd : plan.front().frames + plan.front().start;
        plan.front().start = 0;
    }
    if (!filter_by_plan(opt, plan)) {
        std::fprintf(stderr, "pelta: --auto: not filtering (use instead: %s; --force filters anyway)\n",
                     a.main().words.advice.c_str());
        return 1;
    }
    for (const std::string& line : auto_segment_lines(opt)) std::fprintf(stderr, "pelta: --auto: %s\n", line.c_str());
    if (plan_schedule(opt).empty())
        std::fputs("pelta: --auto: no segment is filtered: the output is the input\n", stderr);
    replay = input.replay();
    return -1;
}

}  // namespace pelta_cli
