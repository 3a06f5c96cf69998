#include "app/analyze_cmd.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "analyze/analyze.h"
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

// ---- reading the sample more than once -------------------------------------------

// Passes every byte read from `src` on, and keeps a copy in `spool`: a pipe
// can be read only once, so the analysis reads its later passes (and --auto
// its filter run) from the copy.
class TeeSource : public ByteSource {
public:
    TeeSource(ByteSource& src, std::FILE* spool) : src_(src), spool_(spool) {}
    size_t read(void* dst, size_t n) override {
        const size_t got = src_.read(dst, n);
        if (got && std::fwrite(dst, 1, got, spool_) != got) spool_failed_ = true;
        return got;
    }
    int get() override {
        const int c = src_.get();
        if (c >= 0 && std::fputc(c, spool_) == EOF) spool_failed_ = true;
        return c;
    }
    bool failed() const override { return src_.failed() || spool_failed_; }
    std::string error_text() const override {
        return spool_failed_ ? "cannot keep a copy of the input in a temporary file" : src_.error_text();
    }

private:
    ByteSource& src_;
    std::FILE* spool_;
    bool spool_failed_ = false;
};

// The bytes of `first`, then those of `second`.
class ChainSource : public ByteSource {
public:
    ChainSource(std::unique_ptr<ByteSource> first, std::unique_ptr<ByteSource> second)
        : first_(std::move(first)), second_owned_(std::move(second)), second_(*second_owned_) {}
    size_t read(void* dst, size_t n) override {
        size_t got = 0;
        if (!first_done_) {
            got = first_->read(dst, n);
            if (got < n) first_done_ = true;
        }
        if (got < n && !first_->failed()) got += second_.read(static_cast<char*>(dst) + got, n - got);
        return got;
    }
    int get() override {
        if (!first_done_) {
            const int c = first_->get();
            if (c >= 0) return c;
            first_done_ = true;
            if (first_->failed()) return -1;
        }
        return second_.get();
    }
    bool failed() const override { return first_->failed() || second_.failed(); }
    std::string error_text() const override {
        return first_->failed() ? first_->error_text() : second_.error_text();
    }

private:
    std::unique_ptr<ByteSource> first_;
    std::unique_ptr<ByteSource> second_owned_;
    ByteSource& second_;
    bool first_done_ = false;
};

// A file source that owns its file.
class OwnedFileSource : public ByteSource {
public:
    explicit OwnedFileSource(std::FILE* f, bool close = true) : file_(f), close_(close), source_(f) {}
    ~OwnedFileSource() override {
        if (close_ && file_) std::fclose(file_);
    }
    size_t read(void* dst, size_t n) override { return source_.read(dst, n); }
    int get() override { return source_.get(); }
    bool failed() const override { return source_.failed(); }
    std::string error_text() const override { return source_.error_text(); }

private:
    std::FILE* file_;
    bool close_;
    FileSource source_;
};

// One pass's frames: a reader over a byte source, positioned at a frame.
class ClipFrames : public FrameInput {
public:
    ClipFrames(std::unique_ptr<ByteSource> src, bool raw, int w, int h)
        : src_(std::move(src)), raw_(raw), y4m_(*src_), raw_reader_(*src_, w, h), y4m_in_(y4m_),
          raw_in_(raw_reader_) {}
    bool start(std::string& error) { return raw_ ? true : y4m_.read_header(error); }
    const Y4mReader& y4m() const { return y4m_; }
    // Reads and drops `n` frames.
    bool skip(long n, int w, int h, std::string& error) {
        std::vector<uint8_t> planes;
        std::vector<PIXEL_YC> frame;
        for (long i = 0; i < n; ++i) {
            ReadStatus s;
            if (raw_) {
                frame.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
                s = raw_reader_.read_frame(frame.data(), w, error);
            } else {
                s = y4m_.read_frame(planes, error);
            }
            if (s == ReadStatus::Error) return false;
            if (s == ReadStatus::End) break;  // the pass then finds no frames
        }
        return true;
    }
    ReadStatus next(PIXEL_YC* dst, int stride, std::string& error) override {
        const ReadStatus s = raw_ ? raw_in_.next(dst, stride, error) : y4m_in_.next(dst, stride, error);
        if (s == ReadStatus::End && cut_) *cut_ = raw_ ? raw_reader_.truncation() : y4m_.truncation();
        return s;
    }
    // Where the reader's truncation goes when a pass reaches the clip's end.
    void note_truncation_in(Truncation* cut) { cut_ = cut; }

private:
    std::unique_ptr<ByteSource> src_;
    bool raw_;
    Y4mReader y4m_;
    RawReader raw_reader_;
    Y4mFrameInput y4m_in_;
    RawFrameInput raw_in_;
    Truncation* cut_ = nullptr;
};

// The clip as the analysis reads it: its size from the first look, then a
// fresh reader for every pass. Standard input is read once, through a copy
// kept in an unnamed temporary file.
class AnalysisInput {
public:
    ~AnalysisInput() {
        if (spool_) std::fclose(spool_);
    }

    // `from_stdin` is the command to suggest after an ffmpeg pipe when the
    // input is not Y4M.
    bool open(const std::string& name, bool raw, int raw_w, int raw_h, const std::string& from_stdin,
              std::string& error) {
        name_ = name;
        raw_ = raw;
        w_ = raw_w;
        h_ = raw_h;
        if (name == "-") {
            if (platform::is_terminal(stdin)) {
                error = "standard input is a terminal: pipe a video into pelta or name an input file";
                usage_ = true;
                return false;
            }
            spool_ = platform::scratch_file();
            if (!spool_) {
                error = std::string("cannot make a temporary file for the input: ") + std::strerror(errno);
                return false;
            }
            stdin_source_ = std::make_unique<FileSource>(stdin);
            first_ = std::make_unique<ClipFrames>(std::make_unique<TeeSource>(*stdin_source_, spool_), raw, raw_w,
                                                  raw_h);
        } else {
            std::FILE* f = std::fopen(name.c_str(), "rb");
            if (!f) {
                error = "cannot open input '" + name + "': " + std::strerror(errno);
                return false;
            }
            first_ = std::make_unique<ClipFrames>(std::make_unique<OwnedFileSource>(f), raw, raw_w, raw_h);
        }
        if (!first_->start(error)) {
            error = header_advice(first_->y4m().header_fault(), error, name,
                                  name == "-" && platform::stream_info(stdin).kind == platform::FileKind::Pipe,
                                  from_stdin);
            return false;
        }
        if (!raw) {
            w_ = first_->y4m().header().width;
            h_ = first_->y4m().header().height;
        }
        return true;
    }
    bool usage_error() const { return usage_; }
    // What the passes dropped of an incomplete last frame, when they read that far.
    const Truncation& truncation() const { return cut_; }
    int w() const { return w_; }
    int h() const { return h_; }

    // A reader at clip frame `first`: the one already open for the first
    // pass, afterwards a new one (the file again, or the copy of the pipe).
    std::unique_ptr<FrameInput> frames_from(long first, std::string& error) {
        std::unique_ptr<ClipFrames> frames;
        if (first_) {
            frames = std::move(first_);
        } else {
            std::unique_ptr<ByteSource> src = reopen(error);
            if (!src) return nullptr;
            frames = std::make_unique<ClipFrames>(std::move(src), raw_, w_, h_);
            if (!frames->start(error)) return nullptr;
        }
        if (!frames->skip(first, w_, h_, error)) return nullptr;
        frames->note_truncation_in(&cut_);
        return frames;
    }

    // For --auto on a pipe: the bytes read so far, then the rest of the pipe.
    std::unique_ptr<ByteSource> replay() {
        if (!spool_) return nullptr;
        std::fflush(spool_);
        std::rewind(spool_);
        std::FILE* spool = spool_;
        spool_ = nullptr;  // the replay owns it now
        return std::make_unique<ChainSource>(std::make_unique<OwnedFileSource>(spool),
                                             std::make_unique<FileSource>(stdin));
    }

private:
    std::unique_ptr<ByteSource> reopen(std::string& error) {
        if (spool_) {
            std::fflush(spool_);
            std::rewind(spool_);
            return std::make_unique<OwnedFileSource>(spool_, false);
        }
        std::FILE* f = std::fopen(name_.c_str(), "rb");
        if (!f) {
            error = "cannot open input '" + name_ + "' again: " + std::strerror(errno);
            return nullptr;
        }
        return std::make_unique<OwnedFileSource>(f);
    }

    std::string name_;
    bool raw_ = false, usage_ = false;
    int w_ = 0, h_ = 0;
    std::FILE* spool_ = nullptr;
    std::unique_ptr<FileSource> stdin_source_;
    std::unique_ptr<ClipFrames> first_;
    Truncation cut_;
};

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
    rq.open = [&input](long first, std::string& err) { return input.frames_from(first, err); };
    rq.progress = progress_line(show_progress, who);
    const bool ok = analyze_clip(rq, a, error);
    clear_progress(show_progress);
    return ok;
}

constexpr long kDefaultFrames = 300;

struct AnalyzeOptions {
    std::string input, report;
    long frames = kDefaultFrames, start = 0;
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
         .help = "frames to look at (default 300, or the whole clip if shorter)"},
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
        {.name = "--raw",
         .arg = "WxH",
         .kind = ArgKind::Size,
         .lo = 1,
         .hi = kMaxSide,
         .store =
             [&o](const OptionValue& v, std::string& error) {
                 std::string size_error;
                 if (!check_frame_size(v.w, v.h, size_error)) {
                     error = "--raw " + std::string(v.text) + ": " + size_error;
                     return false;
                 }
                 o.raw = true;
                 o.raw_w = v.w;
                 o.raw_h = v.h;
                 return true;
             },
         .group = &kOptions,
         .help = "raw frames of W x H pixels, as pelta --raw reads them"},
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
           "the processing window repairs: --left, --width, --shift). Both pelta kinds come with --tff.\n"
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
    if (!input.open(o.input, o.raw, o.raw_w, o.raw_h, command_from_stdin(argc, argv, input_at, "analyze"), error))
        return fail(error, input.usage_error() ? 2 : 1);

    Analysis a;
    if (!analyze_input(input, desc, o.start, o.frames, o.quiet, "pelta analyze", a, error)) return fail(error);
    if (input.truncation().happened())
        std::fprintf(stderr, "pelta analyze: warning: %s\n", input.truncation().describe().c_str());
    if (!o.report.empty() && !write_analysis_report(a, o.input, o.report, error)) return fail(error);
    const std::string text = o.json ? analysis_json(a) + "\n" : analysis_text(a);
    return print_to_stdout(text, "pelta analyze");
}

int apply_auto_settings(Options& opt, const FILTER_DLL* desc, const std::string& from_stdin,
                        std::unique_ptr<ByteSource>& replay) {
    AnalysisInput input;
    std::string error;
    if (!input.open(opt.input, opt.raw, opt.raw_w, opt.raw_h, from_stdin, error)) {
        std::fprintf(stderr, "pelta: %s\n", error.c_str());
        return input.usage_error() ? 2 : 1;
    }
    // Usage errors that the frame size shows come before the analysis.
    if (!row_stride(opt, input.w(), input.h(), error)) {
        std::fprintf(stderr, "pelta: %s (see %s --help)\n", error.c_str(), program_name());
        return 2;
    }
    Analysis a;
    if (!analyze_input(input, desc, opt.auto_start, opt.auto_frames ? opt.auto_frames : kDefaultFrames, opt.quiet,
                       "pelta --auto", a, error)) {
        std::fprintf(stderr, "pelta: --auto: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "pelta: --auto: %s\n", a.verdict.c_str());
    // One segment, the whole clip, of the one verdict's kind and settings.
    Segment whole;
    whole.start = 0;
    whole.frames = kThroughEnd;
    whole.kind = a.kind;
    whole.settings = a.settings;
    whole.confidence = a.confidence;
    if (!filter_by_plan(opt, {whole})) {
        std::fprintf(stderr, "pelta: --auto: not filtering (use instead: %s; --force filters anyway)\n",
                     a.advice.c_str());
        return 1;
    }
    const Controls c = segment_controls(opt, whole);
    std::fprintf(stderr, "pelta: --auto: filtering with --left %d --width %d --shift %d --tff %d --lpf %d\n",
                 c.track[TRACK_LEFT], c.track[TRACK_WIDTH], c.track[TRACK_SHIFT], c.check[CHECK_TFF],
                 c.check[CHECK_LPF]);
    replay = input.replay();
    return -1;
}

}  // namespace pelta_cli
