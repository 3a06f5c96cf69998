// `pelta [OPTIONS] INPUT OUTPUT`: the filter over a whole clip, as the
// editor would run it, in named steps: the command line, the input, the
// plan (--plan) or the settings from the analysis (--auto), the output, the
// run itself and the summary.
#include "app/filter_cmd.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "analyze/combing_check.h"
#include "app/analyze_cmd.h"
#include "app/options.h"
#include "app/plan_cmd.h"
#include "host/frame_adapters.h"
#include "host/host.h"
#include "host/plugin.h"
#include "io/output_file.h"
#include "io/y4m.h"
#include "platform/platform.h"

namespace pelta_cli {

using pelta::CHECK_RANGE;
using pelta::TRACK_LEFT;

namespace {

using Clock = std::chrono::steady_clock;

int fail(const std::string& message, int status = 1) {
    std::fprintf(stderr, "pelta: %s\n", message.c_str());
    return status;
}

std::string format_duration(double seconds) {
    long s = static_cast<long>(seconds + 0.5);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

// The progress line on a terminal: redrawn a few times a second.
class Progress {
public:
    Progress(bool enabled, long total) : enabled_(enabled), total_(total), start_(Clock::now()) {}

    void update(long done) {
        if (!enabled_) return;
        const Clock::time_point now = Clock::now();
        if (shown_ && now - last_ < std::chrono::milliseconds(250)) return;
        last_ = now;
        shown_ = true;
        const double secs = std::chrono::duration<double>(now - start_).count();
        const double fps = secs > 0 ? done / secs : 0;
        char buf[160];
        if (total_ > 0 && done <= total_) {
            const double left = fps > 0 ? (total_ - done) / fps : 0;
            std::snprintf(buf, sizeof buf, "\rpelta: frame %ld/%ld (%ld%%), %.1f fps, %s left\x1b[K", done, total_,
                          done * 100 / total_, fps, format_duration(left).c_str());
        } else {
            std::snprintf(buf, sizeof buf, "\rpelta: frame %ld, %.1f fps\x1b[K", done, fps);
        }
        std::fputs(buf, stderr);
        std::fflush(stderr);
    }

    void clear() {
        if (enabled_ && shown_) std::fputs("\r\x1b[K", stderr);
        shown_ = false;
    }

private:
    bool enabled_;
    long total_;
    Clock::time_point start_, last_;
    bool shown_ = false;
};

// Frames in a regular input file, where the size tells (Y4M: assuming bare
// FRAME headers); 0 when unknown. Only used for the progress line.
long expected_frames(std::FILE* in, size_t header_bytes, size_t frame_bytes) {
    const platform::FileInfo info = platform::stream_info(in);
    if (info.kind != platform::FileKind::Regular || frame_bytes == 0) return 0;
    const long long body = info.size - static_cast<long long>(header_bytes);
    return body > 0 ? static_cast<long>(body / static_cast<long long>(frame_bytes)) : 0;
}

// An output name as messages show it.
std::string shown_name(const std::string& name) { return name == "-" ? "standard output" : "'" + name + "'"; }

// The command line again, with standard input in place of INPUT.
std::string command_from_stdin(int argc, char** argv, const Options& opt) {
    std::string cmd = program_name();
    for (int i = 1; i < argc; ++i) cmd += " " + (i == opt.input_arg ? std::string("-") : quote_arg(argv[i]));
    return cmd;
}

// A window that starts at or beyond the right edge holds no column.
void warn_window_outside(const Controls& c, int w) {
    if (c.track[TRACK_LEFT] >= w)
        std::fprintf(stderr,
                     "pelta: warning: the processing window starts at column %d, outside the %d-pixel-wide "
                     "picture; no window is rebuilt (--left)\n",
                     c.track[TRACK_LEFT], w);
}

std::string plural(long n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

// The decision log's row for a frame.
std::string log_row(const FrameReport& r) {
    std::string row = std::to_string(r.frame) + ",";
    if (r.passed) return row + ",,,passed\n";
    if (r.ok && r.parsed)
        row += std::to_string(r.match) + "," + std::to_string(r.comb) + "," + std::to_string(r.comb_th) + ",ok";
    else
        row += r.ok ? ",,,ok" : ",,,failed";
    return row + '\n';
}

// What a step answers to go on to the next one; any other answer is the exit
// status.
constexpr int kGoOn = -1;

// What one run of the filter over a clip carries from step to step.
struct FilterRun {
    FilterRun(int count, char** args, const FILTER_DLL* descriptor) : argc(count), argv(args), desc(descriptor) {}
    int argc;
    char** argv;
    const FILTER_DLL* desc;
    Options opt;
    std::FILE* in = stdin;
    // The frames: their size, the host's row stride, the output's format,
    // and how many a regular input file holds (0: unknown).
    int w = 0, h = 0, max_w = 0;
    Chroma out_chroma = Chroma::C444;
    int out_depth = 8;
    long total = 0;
    // Temporary files until everything is written.
    OutputFile out, log;
    Clock::time_point start;
    // A plan (--plan or --auto): the frame size a plan file names (0: none),
    // and the host's schedule made from it.
    int plan_w = 0, plan_h = 0;
    std::optional<FilterSchedule> schedule;
    // --auto: when its analysis began.
    std::optional<Clock::time_point> analysis_start;
    // A plan's filtered segments, before and after the filter.
    std::vector<CombingChange> combing;
};

// The exit status of a run by a plan (--plan, --auto) in which a filtered
// segment came out more combed than it went in; the output is complete and
// written all the same.
constexpr int kMadeWorse = 3;

std::string see_help() { return std::string(" (see ") + program_name() + " --help)"; }

// A write error; when the reader of a pipe went away, a quiet end instead.
int write_failed(const FilterRun& r, const std::string& message) {
    if (r.out.reader_gone() || r.log.reader_gone()) end_for_closed_pipe();
    return fail(message);
}

// The options, or the help, the version or a usage error.
int read_command_line(FilterRun& r) {
    std::string error;
    switch (parse_options(r.argc, r.argv, r.desc, r.opt, error)) {
        case ParseOutcome::Help: return print_to_stdout(help_text(r.desc), "pelta");
        case ParseOutcome::Version: return print_to_stdout(version_text(), "pelta");
        case ParseOutcome::Usage: return fail(error + see_help(), 2);
        case ParseOutcome::Run: break;
    }
    if (r.opt.plugin != plugin_argument(r.argc, r.argv))
        return fail("--plugin must not be the value of another option" + see_help(), 2);
    return kGoOn;
}

// Opens the input, refusing a terminal at either end and an output or log
// that is the input file or the other output (before --auto's analysis).
int open_input(FilterRun& r) {
    const Options& opt = r.opt;
    if (opt.input == "-" && platform::is_terminal(stdin))
        return fail("standard input is a terminal: pipe a video into pelta or name an input file", 2);
    if (output_is_terminal(opt.output))
        return fail(opt.output == "-" ? "standard output is a terminal: redirect it into a file or a pipe, or name an "
                                        "output file"
                                      : shown_name(opt.output) + " is a terminal: name an output file",
                    2);
    if (opt.input != "-") {
        // (A directory opens for reading on Linux but not on Windows.)
        if (platform::file_info(opt.input).kind == platform::FileKind::Directory)
            return fail("cannot read input '" + opt.input + "': it is a directory");
        r.in = std::fopen(opt.input.c_str(), "rb");
        if (!r.in) return fail("cannot open input '" + opt.input + "': " + std::strerror(errno));
    }
    std::string error;
    if (!check_outputs(platform::stream_info(r.in),
                       {option_output("OUTPUT", opt.output), option_output("--log", opt.log)}, error))
        return fail(error);
    std::setvbuf(r.in, nullptr, _IOFBF, 1 << 20);
    return kGoOn;
}

// The frame size from --raw or the Y4M header, the output's format, and the
// host's row stride.
int read_format(FilterRun& r, Y4mReader& y4m) {
    const Options& opt = r.opt;
    std::string error;
    if (opt.raw) {
        r.w = opt.raw_w;
        r.h = opt.raw_h;
        r.total = expected_frames(r.in, 0, static_cast<size_t>(r.w) * r.h * 6);
    } else {
        if (!y4m.read_header(error))
            return fail(header_advice(y4m.header_fault(), error, opt.input,
                                      platform::stream_info(r.in).kind == platform::FileKind::Pipe,
                                      command_from_stdin(r.argc, r.argv, opt)));
        r.w = y4m.header().width;
        r.h = y4m.header().height;
        output_format(y4m.header().chroma, y4m.header().depth, opt, r.out_chroma, r.out_depth);
        r.total = expected_frames(r.in, y4m.header_bytes(), y4m.frame_bytes() + 6);
    }
    r.max_w = row_stride(opt, r.w, r.h, error);
    if (!r.max_w) return fail(error + see_help(), 2);
    return kGoOn;
}

// The output, and the log with its header line.
int open_outputs(FilterRun& r) {
    std::string error;
    if (r.opt.output == "-") std::setvbuf(stdout, nullptr, _IOFBF, 1 << 20);
    if (!r.out.open(r.opt.output, error)) return fail(error);
    if (!r.opt.log.empty()) {
        if (!r.log.open(r.opt.log, error)) return fail(error);
        static const char kLogHeader[] = "frame,match,comb,comb_th,status\n";
        if (!r.log.write(kLogHeader, sizeof kLogHeader - 1, error)) return write_failed(r, error);
    }
    return kGoOn;
}

// ---- filtering by a plan (--plan, --auto) ----

// How messages name the plan in force.
std::string shown_plan(const Options& opt) {
    return opt.plan_file.empty() ? std::string("--auto's plan") : plan_name(opt.plan_file);
}

// "60 frames (0..59)".
std::string clip_frames(long n) {
    return n == 0 ? std::string("no frames") : plural(n, "frame", "frames") + " (0.." + std::to_string(n - 1) + ")";
}

// "plan 'p.json': segment 4 (frames 50..69) reaches beyond the input's end".
std::string beyond_the_end(const Options& opt, long segment) {
    return shown_plan(opt) + ": " + describe_segment(opt.plan, static_cast<size_t>(segment)) +
           " reaches beyond the input's end";
}

// --plan: the plan file, read and checked whole before anything is written.
// An output or log that is the plan file would destroy it, also when the
// plan comes on standard input redirected from that file.
int read_plan(FilterRun& r) {
    Options& opt = r.opt;
    if (opt.plan_file.empty()) return kGoOn;
    std::string error;
    const bool from_stdin = opt.plan_file == "-";
    if (!check_outputs(from_stdin ? platform::stream_info(stdin) : platform::file_info(opt.plan_file),
                       {option_output("OUTPUT", opt.output), option_output("--log", opt.log)}, error,
                       from_stdin ? "the plan on standard input" : "the plan file"))
        return fail(error);
    PlanFile file;
    if (!read_plan_file(opt.plan_file, r.desc, file, error)) return fail(error);
    opt.plan = std::move(file.plan);
    opt.by_plan = true;
    r.plan_w = file.frame_width;
    r.plan_h = file.frame_height;
    return kGoOn;
}

// A plan must fit the input: the frame size a plan file names, and its
// frames, where a regular file tells how many it holds (from a pipe they are
// counted as they come: plan_reached). Then the host's schedule.
int fit_plan(FilterRun& r) {
    const Options& opt = r.opt;
    if (!opt.by_plan) return kGoOn;
    if ((r.plan_w && r.plan_w != r.w) || (r.plan_h && r.plan_h != r.h))
        return fail(shown_plan(opt) + " is for " + std::to_string(r.plan_w ? r.plan_w : r.w) + "x" +
                    std::to_string(r.plan_h ? r.plan_h : r.h) + " frames; the input's are " + std::to_string(r.w) +
                    "x" + std::to_string(r.h));
    // A Y4M file's frame count assumes bare FRAME lines: with parameters on
    // them it holds fewer, which plan_reached() catches.
    if (platform::stream_info(r.in).kind == platform::FileKind::Regular) {
        const long beyond = first_segment_beyond(opt.plan, r.total);
        if (beyond >= 0) return fail(beyond_the_end(opt, beyond) + ": the input holds " + clip_frames(r.total));
    }
    r.schedule = plan_schedule(opt);
    if (r.schedule->empty() && !opt.plan_file.empty())
        std::fprintf(stderr, "pelta: warning: %s has no match or window segment: every frame passes through as it "
                             "came\n",
                     shown_plan(opt).c_str());
    return kGoOn;
}

// The frames whose Y4M planes go to the output as read: those that pass the
// filter by, while the output's format is the input's (otherwise they are
// converted as filtered frames are).
std::function<bool(long)> passed_frames(const FilterRun& r, const Y4mReader& y4m) {
    if (!r.schedule || r.out_chroma != y4m.header().chroma || r.out_depth != y4m.header().depth) return {};
    const FilterSchedule* schedule = &*r.schedule;
    return [schedule](long f) { return stretch_at(*schedule, f) == nullptr; };
}

// From a pipe, a plan that reaches beyond the input's end shows only once
// the input has ended: the run fails then, and its output file is not
// published. What went to standard output cannot be taken back.
int plan_reached(const FilterRun& r, const RunStats& stats) {
    if (!r.opt.by_plan) return kGoOn;
    const long beyond = first_segment_beyond(r.opt.plan, stats.frames);
    if (beyond < 0) return kGoOn;
    return fail(beyond_the_end(r.opt, beyond) +
                (stats.frames ? ": the input ended after " + clip_frames(stats.frames) : ": the input held no frames") +
                (r.opt.output == "-" ? "; what went to standard output cannot be taken back"
                                     : "; " + shown_name(r.opt.output) + " was not written"));
}

// The host's frames from the input and into the output: raw as they are, or
// through Y4M with the output's header written first.
struct FrameStreams {
    std::unique_ptr<FrameInput> in;
    std::unique_ptr<FrameOutput> out;
    FrameParamQueue params;
};

int connect_frames(FilterRun& r, Y4mReader& y4m, RawReader& raw, FrameStreams& frames) {
    if (r.opt.raw) {
        frames.in = std::make_unique<RawFrameInput>(raw);
        frames.out = std::make_unique<RawFrameOutput>(r.out, r.w, r.h);
        return kGoOn;
    }
    // Field-matched frames are progressive pictures; under the range
    // display the output is the input with its window inverted.
    const bool range_shown = r.opt.controls.check[CHECK_RANGE] && !r.opt.saving;
    const std::string head = format_y4m_header(y4m.header(), r.out_chroma, r.out_depth, range_shown ? 0 : 'p');
    std::string error;
    if (!r.out.write(head.data(), head.size(), error)) return write_failed(r, error);
    frames.in = std::make_unique<Y4mFrameInput>(y4m, &frames.params, passed_frames(r, y4m));
    frames.out = std::make_unique<Y4mFrameOutput>(r.out, r.out_chroma, r.w, r.h, r.out_depth, &frames.params);
    return kGoOn;
}

// Runs the filter over every frame, writing the log's rows and drawing the
// progress line as frames come out.
int stream(FilterRun& r, FrameStreams& frames, RunStats& stats) {
    if (!r.schedule) warn_window_outside(r.opt.controls, r.w);
    // With a plan, once, for the first stretch whose window is outside.
    for (const FilterStretch& s : r.schedule ? *r.schedule : FilterSchedule{})
        if (s.controls.track[TRACK_LEFT] >= r.w) {
            warn_window_outside(s.controls, r.w);
            break;
        }
    Progress progress(!r.opt.quiet && platform::progress_terminal(stderr), r.total);
    r.start = Clock::now();
    std::string error, log_error;
    bool log_ok = true;
    auto on_frame = [&](const FrameReport& f) {
        if (!r.opt.log.empty() && log_ok) {
            const std::string row = log_row(f);
            log_ok = r.log.write(row.data(), row.size(), log_error);
        }
        progress.update(f.frame + 1);
    };
    bool ok;
    {
        // With a plan, the filter starts under its first stretch's controls.
        const bool planned = r.schedule && !r.schedule->empty();
        EditorHost host(r.desc, r.w, r.h, r.max_w, planned ? r.schedule->front().controls : r.opt.controls,
                        r.opt.saving, r.opt.threads ? r.opt.threads : default_threads());
        // With a plan, each filtered segment's combing before and after.
        std::optional<CombingCheck> check;
        if (r.schedule) {
            host.follow(*r.schedule);
            check.emplace(*r.schedule, r.w, r.h);
            host.probe(&*check);
        }
        ok = host.run(*frames.in, *frames.out, on_frame, error);
        stats = host.stats();
        if (check) r.combing = check->changes();
    }
    progress.clear();
    if (!ok) return write_failed(r, error);
    if (!log_ok) return write_failed(r, log_error);
    return kGoOn;
}

// Both files complete before either appears under its name.
int finish_outputs(FilterRun& r) {
    std::string error;
    if (!r.out.finish(error) || !r.log.finish(error)) return write_failed(r, error);
    if (!r.out.publish(error) || !r.log.publish(error)) return fail(error);
    return kGoOn;
}

// The warnings, the summary line, and the exit status.
int report(const FilterRun& r, const RunStats& stats, const Truncation& cut) {
    const Options& opt = r.opt;
    if (cut.happened()) std::fprintf(stderr, "pelta: warning: %s\n", cut.describe().c_str());
    const bool no_frames = stats.frames == 0 && !cut.happened();
    if (no_frames) std::fputs("pelta: warning: no frames in the input\n", stderr);

    if (!opt.quiet) {
        const Clock::time_point now = Clock::now();
        const double secs = std::chrono::duration<double>(now - r.start).count();
        std::string line = "pelta: " + plural(stats.frames, "frame", "frames") + " in ";
        char buf[96];
        std::snprintf(buf, sizeof buf, "%.2f s (%.1f fps", secs, secs > 0 ? stats.frames / secs : 0.0);
        line += buf;
        if (r.analysis_start) {
            std::snprintf(buf, sizeof buf, "; %.2f s with the analysis",
                          std::chrono::duration<double>(now - *r.analysis_start).count());
            line += buf;
        }
        line += ")";
        line += ", " + std::to_string(stats.failed) + " failed";
        if (stats.passed) line += ", " + std::to_string(stats.passed) + " passed through";
        if (stats.uncached_requests)
            line += ", " + std::to_string(stats.uncached_requests) + " requests for uncached frames";
        std::string wrote;
        for (const std::string& name : {opt.output, opt.log})
            if (!name.empty() && name != "-") wrote += (wrote.empty() ? "; wrote " : " and ") + name;
        line += wrote;
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    // Warnings, like the truncation above: they stay with --quiet.
    const std::vector<std::string> worse = worse_lines(r.combing, filtered_kinds(opt));
    for (const std::string& line : worse) std::fprintf(stderr, "pelta: warning: %s\n", line.c_str());
    if (opt.strict && stats.failed > 0) return fail(std::to_string(stats.failed) + " frame(s) failed (--strict)");
    if (opt.strict && cut.happened()) return fail("the input's last frame was incomplete (--strict)");
    if (opt.strict && no_frames) return fail("the input held no frames (--strict)");
    if (!worse.empty()) {
        std::fprintf(stderr, "pelta: %s filtered by %s came out more combed than %s went in (exit status %d)\n",
                     plural(static_cast<long>(worse.size()), "segment", "segments").c_str(), shown_plan(opt).c_str(),
                     worse.size() == 1 ? "it" : "they", kMadeWorse);
        return kMadeWorse;
    }
    return 0;
}

}  // namespace

int run_filter(int argc, char** argv, const FILTER_DLL* desc) {
    FilterRun r(argc, argv, desc);
    int status = read_command_line(r);
    if (status != kGoOn) return status;
    install_signal_cleanup();
    if ((status = open_input(r)) != kGoOn || (status = read_plan(r)) != kGoOn) return status;

    // --auto: the settings from the clip's start; from a pipe (any input
    // that cannot seek), the filter then reads again what the analysis
    // read, and the rest after it.
    FileSource file_source(r.in);
    std::unique_ptr<ByteSource> replay;
    if (r.opt.auto_settings) {
        r.analysis_start = Clock::now();
        status = apply_auto_settings(r.opt, desc, r.in, command_from_stdin(argc, argv, r.opt), replay);
        if (status >= 0) return status;
    }
    ByteSource& source = replay ? *replay : file_source;
    Y4mReader y4m(source);
    if ((status = read_format(r, y4m)) != kGoOn || (status = fit_plan(r)) != kGoOn) return status;
    RawReader raw(source, r.w, r.h);

    FrameStreams frames;
    RunStats stats;
    if ((status = open_outputs(r)) != kGoOn || (status = connect_frames(r, y4m, raw, frames)) != kGoOn ||
        (status = stream(r, frames, stats)) != kGoOn || (status = plan_reached(r, stats)) != kGoOn ||
        (status = finish_outputs(r)) != kGoOn)
        return status;
    return report(r, stats, r.opt.raw ? raw.truncation() : y4m.truncation());
}

}  // namespace pelta_cli
