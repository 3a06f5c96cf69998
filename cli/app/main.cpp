// pelta: runs the pelta filter over a Y4M or raw video, standing in for the
// editor that normally hosts it.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "app/analyze_cmd.h"
#include "host/host.h"
#include "plugin/descriptor.h"
#include "host/frame_adapters.h"
#include "io/output_file.h"
#include "app/options.h"
#include "platform/platform.h"
#include "host/plugin.h"
#include "io/y4m.h"

using namespace pelta_cli;
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

// A header refusal, with what to do about it where that is clear.
std::string header_error(const Y4mReader& y4m, const std::string& error, const Options& opt, std::FILE* in,
                         const std::string& from_stdin) {
    const bool pipe = platform::stream_info(in).kind == platform::FileKind::Pipe;
    switch (y4m.header_fault()) {
        case Y4mReader::HeaderFault::Empty:
            if (!pipe) return error;
            return "empty input: the program writing into the pipe wrote nothing (ffmpeg writes some pixel "
                   "formats as Y4M only with -strict -1; see its messages)";
        case Y4mReader::HeaderFault::NotY4m:
            return error + "; decode it through ffmpeg first: ffmpeg -i " +
                   (opt.input == "-" ? std::string("INPUT") : quote_arg(opt.input)) +
                   " -f yuv4mpegpipe -pix_fmt yuv420p - | " + from_stdin;
        default: return error;
    }
}

// An output (or log) that is the input file itself would destroy it.
bool names_the_input(const std::string& name, const platform::FileInfo& in_file) {
    if (name.empty()) return false;
    if (name != "-") return is_same_file(name, in_file);
    return platform::same_file(platform::stream_info(stdout), in_file);
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

}  // namespace

static int run(int argc, char** argv) {
    // Loading the filter: the editor asks for the descriptor once. pelta32
    // takes it from the plug-in named by --plugin instead, when given.
    std::string error;
    const FILTER_DLL* desc = load_filter(argc, argv, error);
    if (!desc) return fail(error);

    if (argc >= 2 && std::strcmp(argv[1], "analyze") == 0) return run_analyze(argc - 1, argv + 1, desc);

    const std::string see_help = std::string(" (see ") + program_name() + " --help)";
    Options opt;
    switch (parse_options(argc, argv, desc, opt, error)) {
        case ParseOutcome::Help: std::fputs(help_text(desc).c_str(), stdout); return 0;
        case ParseOutcome::Version: std::fputs(version_text().c_str(), stdout); return 0;
        case ParseOutcome::Usage: return fail(error + see_help, 2);
        case ParseOutcome::Run: break;
    }
    if (opt.plugin != plugin_argument(argc, argv))
        return fail("--plugin must not be the value of another option" + see_help, 2);
    install_signal_cleanup();

    // Input.
    std::FILE* in = stdin;
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
        in = std::fopen(opt.input.c_str(), "rb");
        if (!in) return fail("cannot open input '" + opt.input + "': " + std::strerror(errno));
    }
    const platform::FileInfo in_file = platform::stream_info(in);
    if (in_file.kind == platform::FileKind::Regular)
        for (const std::string& name : {opt.output, opt.log})
            if (names_the_input(name, in_file))
                return fail(shown_name(name) + " is the input file; write to another file");
    auto as_typed = [](const std::string& name) {
        return name == "-" ? std::string("- (standard output)") : "'" + name + "'";
    };
    if (!opt.log.empty() && same_output_file(opt.output, opt.log))
        return fail("--log " + as_typed(opt.log) + " and OUTPUT " + as_typed(opt.output) +
                    " are the same file; write them to different files");
    std::setvbuf(in, nullptr, _IOFBF, 1 << 20);
    FileSource file_source(in);
    // --auto: the settings from the clip's start; from a pipe, the filter
    // then reads again what the analysis read, and the rest after it.
    std::unique_ptr<ByteSource> replay;
    if (opt.auto_settings) {
        const int status = apply_auto_settings(opt, desc, command_from_stdin(argc, argv, opt), replay);
        if (status >= 0) return status;
    }
    ByteSource& source = replay ? *replay : file_source;

    Y4mReader y4m(source);
    int w, h;
    long total = 0;
    Chroma out_chroma = Chroma::C444;
    int out_depth = 8;
    if (opt.raw) {
        w = opt.raw_w;
        h = opt.raw_h;
        total = expected_frames(in, 0, static_cast<size_t>(w) * h * 6);
    } else {
        if (!y4m.read_header(error))
            return fail(header_error(y4m, error, opt, in, command_from_stdin(argc, argv, opt)));
        w = y4m.header().width;
        h = y4m.header().height;
        output_format(y4m.header().chroma, y4m.header().depth, opt, out_chroma, out_depth);
        total = expected_frames(in, y4m.header_bytes(), y4m.frame_bytes() + 6);
    }
    const int max_w = opt.max_w ? opt.max_w : (w + 31) / 32 * 32;
    if (max_w < w)
        return fail("--max-w " + std::to_string(max_w) + " is below the frame width " + std::to_string(w) + see_help,
                    2);

    // Outputs: temporary files until everything is written.
    if (opt.output == "-") std::setvbuf(stdout, nullptr, _IOFBF, 1 << 20);
    OutputFile out, log;
    // A write error; when the reader of a pipe went away, a quiet end instead.
    auto write_failed = [&out, &log](const std::string& message) {
        if (out.reader_gone() || log.reader_gone()) end_for_closed_pipe();
        return fail(message);
    };
    if (!out.open(opt.output, error)) return fail(error);
    if (!opt.log.empty()) {
        if (!log.open(opt.log, error)) return fail(error);
        static const char kLogHeader[] = "frame,match,comb,comb_th,status\n";
        if (!log.write(kLogHeader, sizeof kLogHeader - 1, error)) return write_failed(error);
    }

    std::unique_ptr<FrameInput> frames_in;
    std::unique_ptr<FrameOutput> frames_out;
    RawReader raw(source, w, h);
    FrameParamQueue frame_params;
    if (opt.raw) {
        frames_in = std::make_unique<RawFrameInput>(raw);
        frames_out = std::make_unique<RawFrameOutput>(out, w, h);
    } else {
        // Field-matched frames are progressive pictures; under the range
        // display the output is the input with its window inverted.
        const bool range_shown = opt.controls.check[CHECK_RANGE] && !opt.saving;
        const std::string head = format_y4m_header(y4m.header(), out_chroma, out_depth, range_shown ? 0 : 'p');
        if (!out.write(head.data(), head.size(), error)) return write_failed(error);
        frames_in = std::make_unique<Y4mFrameInput>(y4m, &frame_params);
        frames_out = std::make_unique<Y4mFrameOutput>(out, out_chroma, w, h, out_depth, &frame_params);
    }

    warn_window_outside(opt.controls, w);
    Progress progress(!opt.quiet && platform::progress_terminal(stderr), total);
    const Clock::time_point start = Clock::now();
    std::string log_error;
    bool log_ok = true;
    auto on_frame = [&](const FrameReport& r) {
        if (!opt.log.empty() && log_ok) {
            std::string row = std::to_string(r.frame) + ",";
            if (r.ok && r.parsed)
                row += std::to_string(r.match) + "," + std::to_string(r.comb) + "," + std::to_string(r.comb_th) + ",ok";
            else
                row += r.ok ? ",,,ok" : ",,,failed";
            row += '\n';
            log_ok = log.write(row.data(), row.size(), log_error);
        }
        progress.update(r.frame + 1);
    };

    bool ok;
    RunStats stats;
    {
        EditorHost host(desc, w, h, max_w, opt.controls, opt.saving,
                        opt.threads ? opt.threads : default_threads());
        ok = host.run(*frames_in, *frames_out, on_frame, error);
        stats = host.stats();
    }
    progress.clear();
    if (!ok) return write_failed(error);
    if (!log_ok) return write_failed(log_error);
    // Both files complete before either appears under its name.
    if (!out.finish(error) || !log.finish(error)) return write_failed(error);
    if (!out.publish(error) || !log.publish(error)) return fail(error);
    const Truncation& cut = opt.raw ? raw.truncation() : y4m.truncation();
    if (cut.happened()) std::fprintf(stderr, "pelta: warning: %s\n", cut.describe().c_str());
    const bool no_frames = stats.frames == 0 && !cut.happened();
    if (no_frames) std::fputs("pelta: warning: no frames in the input\n", stderr);

    if (!opt.quiet) {
        const double secs = std::chrono::duration<double>(Clock::now() - start).count();
        std::string line = "pelta: " + plural(stats.frames, "frame", "frames") + " in ";
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.2f s (%.1f fps)", secs, secs > 0 ? stats.frames / secs : 0.0);
        line += buf;
        line += ", " + std::to_string(stats.failed) + " failed";
        if (stats.uncached_requests)
            line += ", " + std::to_string(stats.uncached_requests) + " requests for uncached frames";
        std::string wrote;
        for (const std::string& name : {opt.output, opt.log})
            if (!name.empty() && name != "-") wrote += (wrote.empty() ? "; wrote " : " and ") + name;
        line += wrote;
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    if (opt.strict && stats.failed > 0) return fail(std::to_string(stats.failed) + " frame(s) failed (--strict)");
    if (opt.strict && cut.happened()) return fail("the input's last frame was incomplete (--strict)");
    if (opt.strict && no_frames) return fail("the input held no frames (--strict)");
    return 0;
}

int main(int argc, char** argv) {
    platform::init_process();
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Unwinding has removed any temporary output by now.
        return fail("not enough memory for frames of this size");
    }
}
