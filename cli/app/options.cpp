#include "app/options.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstring>
#include <string_view>

#include "app/analyze_cmd.h"
#include "app/option_table.h"
#include "host/plugin.h"
#include "io/output_file.h"
#include "pelta_version.h"
#include "platform/platform.h"

namespace pelta_cli {

namespace {

using pelta::CHECK_CY;
using pelta::CHECK_LPF;
using pelta::CHECK_MONO;
using pelta::CHECK_RANGE;
using pelta::CHECK_TFF;
using pelta::TRACK_FREQ;
using pelta::TRACK_HIGH;
using pelta::TRACK_LEFT;
using pelta::TRACK_MID;
using pelta::TRACK_PHASE;
using pelta::TRACK_SHIFT;
using pelta::TRACK_STRIPE;
using pelta::TRACK_TH_C;
using pelta::TRACK_TH_Y;
using pelta::TRACK_WIDTH;

constexpr int kMaxThreads = 64;

// "an MP4" when `name` ends in the extension of a video container that
// ffmpeg writes, "" otherwise: pelta writing Y4M into such a name would make
// a file that players misread.
std::string container_kind(const std::string& name) {
    static const char* const kContainers[][2] = {
        {"mp4", "an MP4"},  {"m4v", "an MP4"},      {"mkv", "a Matroska"}, {"webm", "a WebM"}, {"avi", "an AVI"},
        {"mov", "a QuickTime"}, {"ts", "an MPEG-TS"}, {"m2ts", "an MPEG-TS"}, {"mts", "an MPEG-TS"},
        {"mpg", "an MPEG"}, {"mpeg", "an MPEG"},    {"vob", "an MPEG"},    {"flv", "an FLV"},   {"wmv", "a WMV"},
        {"3gp", "a 3GP"},   {"ogv", "an Ogg"},      {"mxf", "an MXF"},
    };
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.find_first_of("/\\", dot) != std::string::npos) return "";
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const auto& [e, kind] : kContainers)
        if (ext == e) return kind;
    return "";
}

std::string stride_too_wide(long long max_w, long long h) {
    return "--max-w " + std::to_string(max_w) + " is too wide for frames of " + std::to_string(h) + " rows: " +
           std::to_string(max_w) + "x" + std::to_string(h) + " is more than " + std::to_string(kMaxPixels) +
           " pixels";
}

const HelpGroup kTrackGroup{"Filter track bars (range, default):", 14, 58};
const HelpGroup kCheckGroup{"Filter check boxes (0 or 1, default):", 14, 58};
const HelpGroup kFormatGroup{"Formats:"};
const HelpGroup kHostGroup{"Host:"};

// The command line of `pelta`, its values stored into `o`. The controls'
// ranges and defaults are the descriptor's.
OptionTable pelta_options(const FILTER_DLL* desc, Options& o) {
    // A filter control: its value goes into `value`, and `given` records that
    // the command line set it (so --auto leaves it alone).
    auto control = [](const char* name, const char* arg, long long lo, long long hi, int& value, bool& given,
                      const HelpGroup& group, const char* what, std::string note) {
        return OptionRow{.name = name,
                         .arg = arg,
                         .kind = ArgKind::Control,
                         .lo = lo,
                         .hi = hi,
                         .store =
                             [&value, &given](const OptionValue& v, std::string&) {
                                 value = static_cast<int>(v.number);
                                 given = true;
                                 return true;
                             },
                         .group = &group,
                         .help = what,
                         .note = std::move(note)};
    };
    auto track = [&](const char* name, int index, const char* what) {
        const int lo = desc->track_s[index], hi = desc->track_e[index];
        return control(name, "N", lo, hi, o.controls.track[index], o.track_given[index], kTrackGroup, what,
                       std::to_string(lo) + ".." + std::to_string(hi) + ", default " +
                           std::to_string(desc->track_default[index]));
    };
    auto check = [&](const char* name, int index, const char* what) {
        return control(name, "0|1", 0, 1, o.controls.check[index], o.check_given[index], kCheckGroup, what,
                       "default " + std::to_string(desc->check_default[index]));
    };
    OptionTable t;
    t.rows = {
        track("--left", TRACK_LEFT, "left edge of the processing window, pixels"),
        track("--width", TRACK_WIDTH, "width of the processing window, pixels"),
        track("--shift", TRACK_SHIFT, "field shift in the window, 1/16 field line"),
        track("--th-y", TRACK_TH_Y, "luma comb threshold"),
        track("--th-c", TRACK_TH_C, "chroma comb threshold"),
        track("--high", TRACK_HIGH, "weight of the high-band comb term"),
        track("--mid", TRACK_MID, "weight of the mid-band comb term"),
        track("--stripe", TRACK_STRIPE, "comb threshold, 1/512 of the pixels outside the window"),
        track("--freq", TRACK_FREQ, "C/Y subcarrier frequency, 704 = NTSC"),
        track("--phase", TRACK_PHASE, "C/Y subcarrier phase, degrees"),
        check("--tff", CHECK_TFF, "TFF: weave even frames' top, odd frames' bottom fields"),
        check("--range", CHECK_RANGE, "output the input with its window inverted (not --saving)"),
        check("--mono", CHECK_MONO, "clear the colour in the window"),
        check("--cy", CHECK_CY, "fold the window's colour into luma on a subcarrier"),
        check("--lpf", CHECK_LPF, "vertical low-pass when combing remains"),
        raw_option(o.raw, o.raw_w, o.raw_h, &kFormatGroup,
                   "read and write raw frames of W x H pixels, three little-endian\n"
                   "int16 per pixel (y, cb, cr), no conversion at all"),
        {.name = "--out-chroma",
         .arg = "S",
         .kind = ArgKind::Choice,
         .choices = {"444", "422", "420"},
         .store =
             [&o](const OptionValue& v, std::string&) {
                 static const OutChroma kChoices[] = {OutChroma::C444, OutChroma::C422, OutChroma::C420};
                 o.out_chroma = kChoices[v.number];
                 return true;
             },
         .group = &kFormatGroup,
         .help = "output chroma subsampling: 444, 422 or 420 (default: as the input)"},
        {.name = "--out-depth",
         .arg = "N",
         .kind = ArgKind::Choice,
         .choices = {"8", "10", "12", "16"},
         .store =
             [&o](const OptionValue& v, std::string&) {
                 o.out_depth = std::stoi(std::string(v.text));
                 return true;
             },
         .group = &kFormatGroup,
         .help = "output bits per sample: 8, 10, 12 or 16 (default: as the input)"},
        {.name = "--max-w",
         .arg = "N",
         .kind = ArgKind::Number,
         .lo = 1,
         .hi = 2 * kMaxSide,
         .expects = "a row stride in pixels from the frame width to " + std::to_string(2 * kMaxSide),
         .store = set_number(o.max_w),
         .group = &kHostGroup,
         .help = "row stride in pixels, the frame width up to " + std::to_string(2 * kMaxSide) +
                 " (default: the width\nrounded up to a multiple of 32), times the height at most " +
                 std::to_string(kMaxPixels) + " pixels;\nthe output does not depend on it"},
        {.name = "--saving",
         .store = set_flag(o.saving),
         .group = &kHostGroup,
         .help = "answer is_saving with 1, as while the editor writes a file: no title\n"
                 "and no range display (default: 0, as in the editor's preview)"},
        {.name = "--log",
         .arg = "FILE",
         .kind = ArgKind::Text,
         .store = set_file_name(o.log, "--log"),
         .group = &kHostGroup,
         .help = "write the filter's per-frame decisions as CSV:\n"
                 "frame,match,comb,comb_th,status (not with --saving)"},
        {.name = "--threads",
         .arg = "N",
         .kind = ArgKind::Number,
         .lo = 1,
         .hi = kMaxThreads,
         .store = set_number(o.threads),
         .group = &kHostGroup,
         .help = "1: read, filter and write on one thread; 2 or more: reading and\n"
                 "converting the input, the filter, and converting and writing the\n"
                 "output overlap on three threads (the filter itself always runs on\n"
                 "one, frame by frame); the output is the same (default: 2 with two\n"
                 "or more CPUs, else 1)"},
        {.name = "--auto",
         .store = set_flag(o.auto_settings),
         .group = &kHostGroup,
         .help = "analyse the clip as pelta analyze does (a file to its end, sampled\n"
                 "where long; a pipe by as many frames as a file is read whole, " + std::to_string(kAutoPipeFrames) +
                 "\nof 720x480, read before filtering), then\n"
                 "filter each match or window segment of confidence 0.5 or more with\n"
                 "its settings and pass every other frame through; options given\n"
                 "explicitly win; refuses a clip with no match or window segment"},
        {.name = "--plan",
         .arg = "FILE",
         .kind = ArgKind::Text,
         .store = set_file_name(o.plan_file, "--plan"),
         .group = &kHostGroup,
         .help = "filter by a plan, as pelta analyze --json writes it (- for standard\n"
                 "input): its match and window segments with their own settings, every\n"
                 "other frame as it came; options given explicitly win"},
        {.name = "--force",
         .store = set_flag(o.force),
         .group = &kHostGroup,
         .help = "with --auto: filter the doubtful segments (confidence below 0.5)\n"
                 "too, and every segment of a clip with no match or window segment"},
        {.name = "--frames",
         .arg = "N",
         .kind = ArgKind::Number,
         .lo = 10,
         .hi = 100000,
         .store = set_number(o.auto_frames),
         .group = &kHostGroup,
         .help = "with --auto: the frames from --start (default 0) to analyse\n"
                 "(default: a file to its end, a pipe " + std::to_string(kAutoPipeFrames) + " of 720x480)"},
        {.name = "--start",
         .arg = "F",
         .kind = ArgKind::Number,
         .lo = 0,
         .hi = INT_MAX / 2,
         .store = set_number(o.auto_start),
         .group = &kHostGroup,
         .listed = Listed::WithPrevious},
        {.name = "--strict",
         .store = set_flag(o.strict),
         .group = &kHostGroup,
         .help = "exit with status 1 if any frame failed (after writing everything)"},
        {.name = "--quiet",
         .alias = "-q",
         .store = set_flag(o.quiet),
         .group = &kHostGroup,
         .help = "no progress line and no summary on standard error"},
        {.name = "--plugin",
         .arg = "FILE",
         .kind = ArgKind::Text,
         .store =
             [&o](const OptionValue& v, std::string& error) {
                 if (!can_load_plugins())
                     error = "--plugin needs pelta32, the 32-bit build: a 64-bit program cannot load a 32-bit DLL";
                 else if (v.text.empty())
                     error = "--plugin needs a file name";
                 else if (!o.plugin.empty())
                     error = "--plugin can be given only once";
                 else
                     o.plugin = std::string(v.text);
                 return error.empty();
             },
         .group = &kHostGroup,
         .help = "run the filter from an AviUtl filter plug-in DLL (pelta.auf) instead of\n"
                 "the built-in one; the controls above are then the plug-in's own",
         .listed = can_load_plugins() ? Listed::Own : Listed::No},
        {.name = "--help",
         .alias = "-h",
         .kind = ArgKind::Action,
         .action = static_cast<int>(ParseOutcome::Help),
         .group = &kHostGroup,
         .help = "show this help"},
        {.name = "--version",
         .kind = ArgKind::Action,
         .action = static_cast<int>(ParseOutcome::Version),
         .group = &kHostGroup,
         .help = "show the version"},
    };
    return t;
}

}  // namespace

OptionRow raw_option(bool& raw, int& w, int& h, const HelpGroup* group, std::string help) {
    return {.name = "--raw",
            .arg = "WxH",
            .kind = ArgKind::Size,
            .lo = 0,
            .hi = INT_MAX,
            .store =
                [&raw, &w, &h](const OptionValue& v, std::string& error) {
                    std::string size_error;
                    if (!check_frame_size(v.w, v.h, size_error)) {
                        error = "--raw " + std::string(v.text) + ": " + size_error;
                        return false;
                    }
                    raw = true;
                    w = v.w;
                    h = v.h;
                    return true;
                },
            .group = group,
            .help = std::move(help)};
}

Chroma output_chroma(Chroma in, OutChroma choice) {
    switch (choice) {
        case OutChroma::Keep: return in;
        case OutChroma::C444: return Chroma::C444;
        case OutChroma::C422: return Chroma::C422;
        case OutChroma::C420: return is_420(in) ? in : Chroma::C420jpeg;
    }
    return in;
}

void output_format(Chroma in, int in_depth, const Options& o, Chroma& chroma, int& depth) {
    chroma = output_chroma(in, o.out_chroma);
    depth = o.out_depth ? o.out_depth : in_depth;
    if (depth > 8 && is_420(chroma)) chroma = Chroma::C420;
    if (depth == 8 && in_depth > 8 && chroma == Chroma::C420) chroma = Chroma::C420jpeg;
}

ParseOutcome parse_options(int argc, const char* const* argv, const FILTER_DLL* desc, Options& o,
                           std::string& error) {
    o = Options{};
    o.controls = default_controls(desc);
    std::string positional[2];
    int positional_arg[2] = {};
    int npos = 0;
    auto take_positional = [&](int i, std::string_view arg, std::string& err) {
        if (npos == 2) {
            err = "too many arguments ('" + std::string(arg) + "'): expected INPUT and OUTPUT";
            return false;
        }
        positional_arg[npos] = i;
        positional[npos++] = std::string(arg);
        return true;
    };
    const ParseResult parsed = parse_with_table(pelta_options(desc, o), argc, argv, take_positional, error);
    if (parsed.stop == ParseStop::Error) return ParseOutcome::Usage;
    if (parsed.stop == ParseStop::Action) return static_cast<ParseOutcome>(parsed.action);
    if (npos < 2) {
        error = npos == 0 ? "missing INPUT and OUTPUT (use - for standard input or output)"
                          : "missing OUTPUT (use - for standard output)";
        return ParseOutcome::Usage;
    }
    o.input = positional[0];
    o.input_arg = positional_arg[0];
    o.output = positional[1];
    if ((o.force || o.auto_frames || o.auto_start) && !o.auto_settings) {
        error = std::string(o.force ? "--force" : o.auto_frames ? "--frames" : "--start") + " goes with --auto";
        return ParseOutcome::Usage;
    }
    if (!o.plan_file.empty() && o.auto_settings) {
        error = "--plan cannot be used with --auto: --auto makes its plan from its own analysis";
        return ParseOutcome::Usage;
    }
    if (o.plan_file == "-" && o.input == "-") {
        error = "--plan - and INPUT - cannot both be standard input";
        return ParseOutcome::Usage;
    }
    if (o.saving && !o.log.empty()) {
        error = "--log cannot be used with --saving: the filter reports its decisions only when not saving";
        return ParseOutcome::Usage;
    }
    if (o.raw && o.out_chroma != OutChroma::Keep) {
        error = "--out-chroma cannot be used with --raw: raw frames have no chroma subsampling";
        return ParseOutcome::Usage;
    }
    if (o.raw && o.out_depth) {
        error = "--out-depth cannot be used with --raw: raw frames are the filter's own samples";
        return ParseOutcome::Usage;
    }
    if (o.raw && o.max_w && o.max_w < o.raw_w) {
        error = "--max-w " + std::to_string(o.max_w) + " is below the frame width " + std::to_string(o.raw_w);
        return ParseOutcome::Usage;
    }
    if (o.raw && o.max_w && static_cast<long long>(o.max_w) * o.raw_h > kMaxPixels) {
        error = stride_too_wide(o.max_w, o.raw_h);
        return ParseOutcome::Usage;
    }
    if (const std::string kind = container_kind(o.output); !kind.empty()) {
        error = "OUTPUT '" + o.output + "' names " + kind + " file, but " + program_name() +
                (o.raw ? " --raw writes raw frames; name a .raw file"
                       : " writes Y4M video; have ffmpeg encode it: " + std::string(program_name()) +
                             " ... - | ffmpeg -f yuv4mpegpipe -i - " + quote_arg(o.output));
        return ParseOutcome::Usage;
    }
    if (!o.log.empty() && o.log == o.output) {
        error = o.log == "-" ? "--log and OUTPUT cannot both be standard output" : "--log and OUTPUT name the same file";
        return ParseOutcome::Usage;
    }
    return ParseOutcome::Run;
}

const char* program_name() { return PELTA_PROGRAM_NAME; }

bool is_analyze_command(const char* arg) { return std::strcmp(arg, "analyze") == 0 || std::strcmp(arg, "analyse") == 0; }

int print_to_stdout(const std::string& text, const char* who) {
    errno = 0;
    if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return 0;
    const int err = errno ? errno : EIO;
    if (platform::is_closed_pipe(err, stdout)) end_for_closed_pipe();
    std::fprintf(stderr, "%s: cannot write standard output: %s\n", who, std::strerror(err));
    return 1;
}

int row_stride(const Options& o, int w, int h, std::string& error) {
    if (!o.max_w) return (w + 31) / 32 * 32;
    if (o.max_w < w) {
        error = "--max-w " + std::to_string(o.max_w) + " is below the frame width " + std::to_string(w);
        return 0;
    }
    if (static_cast<long long>(o.max_w) * h > kMaxPixels) {
        error = stride_too_wide(o.max_w, h);
        return 0;
    }
    return o.max_w;
}

std::string header_advice(Y4mReader::HeaderFault fault, const std::string& error, const std::string& input,
                          bool from_pipe, const std::string& from_stdin) {
    switch (fault) {
        case Y4mReader::HeaderFault::Empty:
            if (!from_pipe) return error;
            return "empty input: the program writing into the pipe wrote nothing (ffmpeg writes some pixel "
                   "formats as Y4M only with -strict -1; see its messages)";
        case Y4mReader::HeaderFault::NotY4m:
            return error + "; decode it through ffmpeg first: ffmpeg -i " +
                   (input == "-" ? std::string("INPUT") : quote_arg(input)) +
                   " -f yuv4mpegpipe -vf scale=interl=1,format=yuv420p - | " +
                   from_stdin;
        default: return error;
    }
}

// A file name as a shell would need it typed.
std::string quote_arg(const std::string& s) {
    bool plain = !s.empty();
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("-_./=+,:@%", c)) plain = false;
    if (plain) return s;
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string version_text() { return "pelta " PELTA_VERSION "\n"; }

int default_threads() { return platform::usable_cpus() >= 2 ? 2 : 1; }

std::string help_text(const FILTER_DLL* desc) {
    Options unused;
    const std::string self = program_name();
    return "Usage: " + self + " [OPTIONS] INPUT OUTPUT\n" +
           "       " + self + " analyze [OPTIONS] INPUT   (which settings suit the clip; see " + self +
           " analyze --help)\n"
           "\n"
           "Runs the pelta field-matching filter over a video, standing in for the editor.\n"
           "INPUT and OUTPUT are file names, or - for standard input or output.\n"
           "Input: YUV4MPEG2 (Y4M), chroma 444, 422, 420jpeg, 420mpeg2, 420paldv, 420 or mono at 8 bits,\n"
           "or 444pN, 422pN, 420pN or monoN at N = 9, 10, 12, 14 or 16 bits.\n"
           "Output: Y4M with the input's header, chroma format and depth, unless --out-chroma or\n"
           "--out-depth says otherwise.\n"
           "\n" +
           table_help(pelta_options(desc, unused)) +
           "\n"
           "--tff is not the source's field order: with 1 the weaves pair a top field of an even\n"
           "frame with a bottom field of an odd frame, with 0 the reverse (see docs/field-order.md).\n"
           "--range is what the output shows unless --saving, as in the editor's preview.\n"
           "\n"
           "Exit status: 0 done, 1 error (or a failed frame or an incomplete last frame with\n"
           "--strict), 2 usage error, 3 a segment that --plan or --auto filtered came out more\n"
           "combed than it went in (by more than 2%; the output is complete all the same).\n";
}

}  // namespace pelta_cli
